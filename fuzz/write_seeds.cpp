// write_seeds <folder>: writes a seed corpus for every fuzz target into <folder>/<target>/,
// made with the sample writer: valid records and pairs of each kind, plus a few small ones.
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>

#include "sample_writer.hpp"

namespace fs = std::filesystem;

namespace {

void write_seed(const fs::path& folder, const std::string& target, const std::string& name,
                const byte_vector& bytes) {
  fs::create_directories(folder / target);
  write_file(folder / target / name, bytes);
}

byte_vector joined(byte_vector head, const byte_vector& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

// Kind byte, the index padded with zero entries to its full size, then the archive.
byte_vector pair_input(std::uint8_t kind, std::size_t index_size,
                       const std::vector<byte_vector>& records) {
  archive_pair pair = lay_out_pair(records);
  pair.index.resize(index_size, 0);
  return joined(joined({kind}, pair.index), pair.archive);
}

void write_all(const fs::path& folder) {
  const colour_words palette = sample_palette(3);
  const byte_vector direct_small = make_direct_record(3, 2, gradient_frame(1, 3, 2));
  const byte_vector direct_wide = make_direct_record(17, 5, gradient_frame(2, 17, 5));
  write_seed(folder, "direct_frame", "small", direct_small);
  write_seed(folder, "direct_frame", "wide", direct_wide);

  const byte_vector bank = make_frame_bank(
      palette, {colour_bar_frame(1, 5, 3), colour_bar_frame(2, 1, 1), colour_bar_frame(3, 9, 7)});
  const byte_vector empty_bank = make_frame_bank(palette, {});
  write_seed(folder, "frame_bank", "three", bank);
  write_seed(folder, "frame_bank", "empty", empty_bank);

  const byte_vector one_screen = make_screen_bank(palette, {make_run_stream(sample_screen(7))});
  const byte_vector short_streams = make_screen_bank(
      palette, {make_run_stream(byte_vector(300, 4)), make_run_stream({1, 2, 3, 3, 3, 9})});
  const auto length_of = [](const byte_vector& record) {
    byte_vector field;
    append_u32be(field, static_cast<std::uint32_t>(record.size()));
    return field;
  };
  write_seed(folder, "screen_bank", "one", joined(length_of(one_screen), one_screen));
  write_seed(folder, "screen_bank", "short", joined(length_of(short_streams), short_streams));

  write_seed(folder, "expand_runs", "screen",
             joined({0x01, 0x4A, 0x00}, make_run_stream(sample_screen(9))));
  write_seed(folder, "expand_runs", "tiny",
             {0x00, 0x00, 0x10, 0, 0, 0, 0, 0, 0, 0, 4, 0x01, 0x2A, 0xFE, 0x10, 0x20});

  write_seed(folder, "extract_pair", "frame_banks", pair_input(0, 136, {bank, empty_bank, bank}));
  write_seed(folder, "extract_pair", "screen_banks", pair_input(1, 1176, {short_streams}));
  write_seed(folder, "extract_pair", "direct", pair_input(2, 3048, {direct_small, direct_wide}));

  const char* paths[] = {
      "data/PICS.OFB", "../data/v1.2/A.X", "C:\\GAME\\\x83\x5C\x83\x74\x83\x67.BIN",
      "dir.d/name",    "a\x81/b\x81\\c.d", "*.OFB",
      ".hidden"};
  int n = 0;
  for (const char* path : paths) {
    const std::string text = path;
    write_seed(folder, "paths", "path" + std::to_string(n++),
               byte_vector(text.begin(), text.end()));
  }
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: write_seeds <folder>\n";
    return 1;
  }
  try {
    write_all(argv[1]);
  } catch (const std::exception& error) {
    std::cerr << "write_seeds: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
