// Throughput of the hot paths, each next to a memcpy of the same size measured in the same run,
// so the ratio holds on a noisy machine. Bytes per second count the bytes each one produces.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "archive/archive.hpp"
#include "archive/record_writing.hpp"
#include "pictures/bitmap_writers.hpp"
#include "pictures/colour_expansion.hpp"
#include "sample_writer.hpp"

namespace {

constexpr int direct_width = 256;
constexpr int direct_height = 224;
constexpr std::size_t direct_pixels = std::size_t{direct_width} * direct_height;

// Twelve screens packed back to back, as in one screen bank.
struct packed_screens {
  std::vector<byte_vector> streams;
};

packed_screens realistic_screens() {
  packed_screens screens;
  for (unsigned n = 0; n < 12; ++n) {
    screens.streams.push_back(make_run_stream(sample_screen(n)));
  }
  return screens;
}

// A stream of one kind of packet only, filling a whole screen.
byte_vector uniform_stream(std::uint8_t control, std::size_t packet_output) {
  byte_vector stream(5, 0);
  append_u24be(stream, static_cast<std::uint32_t>(screen_bytes));
  for (std::size_t made = 0; made < screen_bytes; made += packet_output) {
    stream.push_back(control);
    for (std::size_t i = 0; i < (control & 0x80 ? packet_output : 1); ++i) {
      stream.push_back(static_cast<std::uint8_t>(made + i));
    }
  }
  return stream;
}

void memcpy_of(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  std::vector<std::uint8_t> from(size, 1);
  std::vector<std::uint8_t> to(size);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), size);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(size));
}

void expand_streams(benchmark::State& state, const std::vector<byte_vector>& streams) {
  std::vector<std::uint8_t> screen(pixel_buffer_size);
  std::size_t produced = 0;
  for (auto _ : state) {
    for (const byte_vector& stream : streams) {
      const run_expansion result =
          expand_runs({stream.data(), stream.size()}, screen.data(), screen.size());
      produced += result.produced;
      benchmark::DoNotOptimize(screen.data());
      benchmark::ClobberMemory();
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(produced));
}

void expand_runs_realistic(benchmark::State& state) {
  expand_streams(state, realistic_screens().streams);
}

void expand_runs_literals_of_one(benchmark::State& state) {
  expand_streams(state, {uniform_stream(0xFF, 1)});
}

void expand_runs_repeats_of_two(benchmark::State& state) {
  expand_streams(state, {uniform_stream(0x00, 2)});
}

// Packing twelve drawn screens, as rebuilding a changed screen bank does.
void pack_runs_realistic(benchmark::State& state) {
  std::vector<byte_vector> screens;
  for (unsigned n = 0; n < 12; ++n) {
    screens.push_back(sample_screen(n));
  }
  byte_vector packed;
  for (auto _ : state) {
    for (const byte_vector& screen : screens) {
      packed.clear();
      append_runs(packed, screen.data(), screen.size());
      benchmark::DoNotOptimize(packed.data());
    }
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(12 * screen_bytes));
}

byte_vector direct_frame_words() {
  const colour_words frame = gradient_frame(7, direct_width, direct_height);
  byte_vector words;
  for (const std::uint16_t word : frame) {
    append_u16be(words, word);
  }
  return words;
}

void expand_colour_words_frame(benchmark::State& state) {
  const byte_vector words = direct_frame_words();
  std::vector<std::uint8_t> pixels(3 * direct_pixels);
  for (auto _ : state) {
    expand_colour_words(words.data(), direct_pixels, pixels.data(), channel_order::blue_green_red);
    benchmark::DoNotOptimize(pixels.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(3 * direct_pixels));
}

// Writers put their files into a folder on memory-backed storage.
struct writer_state {
  output_options files;
  picture_output output;
  std::filesystem::path folder;

  writer_state() {
    folder = std::filesystem::path(std::filesystem::exists("/dev/shm")
                                       ? "/dev/shm"
                                       : std::filesystem::temp_directory_path()) /
             ("ofb2bmp_bench_" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    files.folder = folder.string() + "/";
    output.buffer = zeroed_bytes(output_buffer_size);
  }
  ~writer_state() { std::filesystem::remove_all(folder); }
};

void write_direct(benchmark::State& state) {
  writer_state writer;
  const byte_vector words = direct_frame_words();
  const picture shown{{picture_kind::direct, 0, 0, 0},
                      picture_status::ok,
                      direct_width,
                      direct_height,
                      {words.data(), words.size()},
                      {}};
  for (auto _ : state) {
    write_direct_bitmap(writer.files, writer.output, "PICS", shown);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(54 + 3 * direct_pixels));
}

void write_indexed(benchmark::State& state) {
  writer_state writer;
  const byte_vector screen = sample_screen(1);
  const byte_vector palette(palette_size, 0);
  const picture shown{{picture_kind::screen, 0, 0, 0},
                      picture_status::ok,
                      screen_width,
                      screen_height,
                      {screen.data(), screen.size()},
                      {palette.data(), palette.size()}};
  for (auto _ : state) {
    write_indexed_bitmap(writer.files, writer.output, "GFIL", shown);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(54 + 1024 + screen_bytes));
}

} // namespace

BENCHMARK(memcpy_of)
    ->Arg(screen_bytes)
    ->Arg(3 * direct_pixels)
    ->Arg(54 + 1024 + screen_bytes)
    ->Arg(54 + 3 * direct_pixels);
BENCHMARK(expand_runs_realistic);
BENCHMARK(expand_runs_literals_of_one);
BENCHMARK(expand_runs_repeats_of_two);
BENCHMARK(pack_runs_realistic);
BENCHMARK(expand_colour_words_frame);
BENCHMARK(write_direct);
BENCHMARK(write_indexed);

BENCHMARK_MAIN();
