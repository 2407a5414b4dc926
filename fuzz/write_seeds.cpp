// write_seeds <folder>: writes a seed corpus for every fuzz target into <folder>/<target>/,
// made with the sample writer: valid records and pairs of each kind, in both formats.
#include <exception>
#include <fstream>
#include <iostream>

#include "bitmap/bitmap_writers.hpp"
#include "bitmap/png_file.hpp"
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

// A record seed in both formats: the first byte picks bitmap (0) or PNG (1).
void write_record_seed(const fs::path& folder, const std::string& target, const std::string& name,
                       const byte_vector& record) {
  write_seed(folder, target, name + "-bmp", joined({0}, record));
  write_seed(folder, target, name + "-png", joined({1}, record));
}

// Kind and format byte, the index padded with zero entries to its full size, then the archive.
void write_pair_seed(const fs::path& folder, const std::string& name, std::uint8_t kind,
                     std::size_t index_size, const std::vector<byte_vector>& records) {
  archive_pair pair = lay_out_pair(records);
  pair.index.resize(index_size, 0);
  const byte_vector tail = joined(pair.index, pair.archive);
  write_seed(folder, "extract_pair", name + "-bmp", joined({kind}, tail));
  write_seed(folder, "extract_pair", name + "-png",
             joined({static_cast<std::uint8_t>(kind + 4)}, tail));
  // Insertion: unedited, then one picture's pixels, size or palette changed.
  for (std::uint8_t how = 0; how < 4; ++how) {
    const std::uint8_t edit[] = {static_cast<std::uint8_t>(kind + 4 * (how % 2)), how, how, 37};
    write_seed(folder, "insert_pair", name + "-edit" + std::to_string(how),
               joined(byte_vector(edit, edit + 4), tail));
  }
}

// Pictures from the tool's own writers as they are (first byte 0), and small framed PNGs of
// other kinds (first byte: PLTE colours + 1, then IHDR's 13 bytes, the PLTE, the rows).
void write_picture_seeds(const fs::path& folder) {
  extraction_state state;
  allocate_working_buffers(state);
  const fs::path made = folder / "made-pictures";
  fs::create_directories(made);
  state.output_folder = made.string() + "/";
  state.image_width = 5;
  state.image_height = 3;
  const colour_words palette = sample_palette(5);
  for (std::size_t i = 0; i < palette.size(); ++i) {
    state.palette[2 * i] = static_cast<std::uint8_t>(palette[i] >> 8);
    state.palette[2 * i + 1] = static_cast<std::uint8_t>(palette[i]);
  }
  byte_vector pixels(30);
  for (std::size_t i = 0; i < pixels.size(); ++i) {
    pixels[i] = static_cast<std::uint8_t>(i * 41 + 7);
  }
  write_indexed_bitmap(state, "I", 0, pixels.data());
  write_direct_bitmap(state, "D", 0, pixels.data());
  write_indexed_png(state, "I", 0, pixels.data());
  write_direct_png(state, "D", 0, pixels.data());
  for (const auto& entry : fs::directory_iterator(made)) {
    std::ifstream stream(entry.path(), std::ios::binary);
    const byte_vector bytes((std::istreambuf_iterator<char>(stream)), {});
    write_seed(folder, "picture_reader", entry.path().filename().string(), joined({0}, bytes));
  }
  fs::remove_all(made);
  // 3 x 3 of 2-bit indices, interlaced; 2 x 2 RGBA, opaque, rows filtered Sub and Paeth.
  write_seed(folder, "picture_reader", "adam7-2-bit",
             {4, 0, 0, 0, 3, 0, 0,    0, 3,    2, 3,    0, 0,    1, 9,    8, 7,   6,
              5, 4, 3, 2, 1, 0, 0x40, 0, 0x80, 1, 0x40, 4, 0x80, 0, 0x40, 2, 0x90});
  write_seed(folder, "picture_reader", "rgba", {1, 0, 0,   0, 2, 0, 0, 0, 2, 8, 6, 0, 0, 0, 1, 1,
                                                2, 3, 255, 4, 5, 6, 0, 4, 1, 2, 3, 0, 1, 1, 1, 0});
}

void write_all(const fs::path& folder) {
  write_picture_seeds(folder);
  const colour_words palette = sample_palette(3);
  const byte_vector direct_small = make_direct_record(3, 2, gradient_frame(1, 3, 2));
  const byte_vector direct_wide = make_direct_record(17, 5, gradient_frame(2, 17, 5));
  write_record_seed(folder, "direct_frame", "small", direct_small);
  write_record_seed(folder, "direct_frame", "wide", direct_wide);
  write_record_seed(folder, "direct_frame", "empty", make_direct_record(0, 5, {}));

  const byte_vector bank =
      make_frame_bank(palette, {colour_bar_frame(1, 5, 3), {0, 4, {}}, colour_bar_frame(3, 9, 7)});
  const byte_vector empty_bank = make_frame_bank(palette, {});
  write_record_seed(folder, "frame_bank", "three", bank);
  write_record_seed(folder, "frame_bank", "empty", empty_bank);

  const byte_vector one_screen = make_screen_bank(palette, {make_run_stream(sample_screen(7))});
  const byte_vector short_streams = make_screen_bank(
      palette, {make_run_stream(byte_vector(300, 4)), make_run_stream({1, 2, 3, 3, 3, 9})});
  for (const auto& [name, record] : {std::pair{"one", one_screen}, {"short", short_streams}}) {
    byte_vector length;
    append_u32be(length, static_cast<std::uint32_t>(record.size()));
    write_record_seed(folder, "screen_bank", name, joined(length, record));
  }

  write_seed(folder, "expand_runs", "screen",
             joined({0x01, 0x4A, 0x00}, make_run_stream(sample_screen(9))));
  write_seed(folder, "expand_runs", "tiny",
             {0x00, 0x00, 0x10, 0, 0, 0, 0, 0, 0, 0, 4, 0x01, 0x2A, 0xFE, 0x10, 0x20});

  write_pair_seed(folder, "frame_banks", 0, 136, {bank, empty_bank, bank});
  write_pair_seed(folder, "screen_banks", 1, 1176, {short_streams});
  write_pair_seed(folder, "direct", 2, 3048, {direct_small, direct_wide});

  const char* paths[] = {"data/PICS.OFB", "../data/v1.2/A.X", "C:\\GAME\\\x83\x5C\x83\x74.BIN",
                         "dir.d/name",    "a\x81/b\x81\\c.d", "*.OFB",
                         ".hidden"};
  int n = 0;
  for (const std::string path : paths) {
    write_seed(folder, "paths", "path" + std::to_string(n++),
               byte_vector(path.begin(), path.end()));
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
