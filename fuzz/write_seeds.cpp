// write_seeds <folder>: writes a seed corpus for every fuzz target into <folder>/<target>/,
// made with the sample writer: valid records and pairs of each kind, in both formats.
#include <exception>
#include <iostream>

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
}

void write_all(const fs::path& folder) {
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
