// write_seeds <folder>: writes a seed corpus for every fuzz target into <folder>/<target>/,
// made with the sample writer: pairs of each kind, damaged records among whole ones, in both
// formats, and cue sheets and volume descriptors.
#include <exception>
#include <iostream>

#include "pictures/bmp_layout.hpp"
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

// A bitmap for the picture reader target (after a first byte of 0): the tool's own header with
// `compression`, then `table` (colours, or bit field masks) and the pixels.
byte_vector bitmap_seed(std::int32_t width, std::int32_t height, std::uint16_t bits,
                        std::uint32_t compression, const byte_vector& table,
                        const byte_vector& pixels) {
  byte_vector seed(1 + bitmap_header_size);
  const auto offset = static_cast<std::uint32_t>(bitmap_header_size + table.size());
  put_bitmap_header(&seed[1], {static_cast<std::uint32_t>(offset + pixels.size()), offset, width,
                               height, bits, static_cast<std::uint32_t>(table.size() / 4)});
  put_u32le(&seed[1 + 30], compression);
  return joined(joined(seed, table), pixels);
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

void write_all(const fs::path& folder) {
  fs::remove_all(folder);
  const colour_words palette = sample_palette(3);
  const byte_vector bank =
      make_frame_bank(palette, {colour_bar_frame(1, 5, 3), {0, 4, {}}, colour_bar_frame(3, 9, 7)});
  byte_vector cut_bank = bank;
  cut_bank.resize(cut_bank.size() - 9);
  // Between whole records: one whose tables are missing, one cut short, one empty.
  write_pair_seed(
      folder, "frame_banks", 0, 136,
      {bank, make_palette_head(palette, 3), cut_bank, make_frame_bank(palette, {}), bank});
  const byte_vector short_streams = make_screen_bank(
      palette, {make_run_stream(byte_vector(300, 4)), make_run_stream({1, 2, 3, 3, 3, 9})});
  byte_vector tables_missing = make_palette_head(palette, 40);
  tables_missing.resize(600);
  write_pair_seed(folder, "screen_banks", 1, 1176,
                  {make_screen_bank(palette, {make_run_stream(sample_screen(7))}), tables_missing,
                   short_streams});
  byte_vector direct_cut = make_direct_record(17, 5, gradient_frame(2, 17, 5));
  direct_cut.pop_back();
  write_pair_seed(folder, "direct", 2, 3048,
                  {make_direct_record(3, 2, gradient_frame(1, 3, 2)),
                   {0, 0, 0, 2},
                   direct_cut,
                   make_direct_record(0, 5, {}),
                   make_direct_record(2, 2, gradient_frame(3, 2, 2))});

  write_seed(folder, "expand_runs", "screen",
             joined({0x01, 0x4A, 0x00}, make_run_stream(sample_screen(9))));
  write_seed(folder, "expand_runs", "tiny",
             {0x00, 0x00, 0x10, 0, 0, 0, 0, 0, 0, 0, 4, 0x01, 0x2A, 0xFE, 0x10, 0x20});

  // Pictures framed by the target (first byte: PLTE colours + 1, or tRNS bytes + 129; then
  // IHDR's 13 bytes, that chunk, the rows): 3 x 3 of 2-bit indices, interlaced; 2 x 2 RGBA,
  // opaque, rows filtered Sub and Paeth; 16-bit grey; 8-bit grey with a transparent grey that
  // no pixel has. Bitmaps as they are (first byte 0): 24-bit; RLE8 and RLE4 (runs, an end of
  // line, a delta, indices as they are); 5-6-5 bit fields.
  write_seed(folder, "picture_reader", "adam7-2-bit",
             {4, 0, 0, 0, 3, 0, 0,    0, 3,    2, 3,    0, 0,    1, 9,    8, 7,   6,
              5, 4, 3, 2, 1, 0, 0x40, 0, 0x80, 1, 0x40, 4, 0x80, 0, 0x40, 2, 0x90});
  write_seed(folder, "picture_reader", "rgba", {1, 0, 0,   0, 2, 0, 0, 0, 2, 8, 6, 0, 0, 0, 1, 1,
                                                2, 3, 255, 4, 5, 6, 0, 4, 1, 2, 3, 0, 1, 1, 1, 0});
  write_seed(folder, "picture_reader", "grey-16",
             {1, 0, 0, 0, 2, 0, 0, 0, 2, 16, 0, 0, 0, 0, 0, 0x12, 0xFF, 0x34, 2, 0, 1, 0, 2, 0});
  write_seed(folder, "picture_reader", "grey-trns",
             {131, 0, 0, 0, 2, 0, 0, 0, 2, 8, 0, 0, 0, 0, 0, 9, 0, 5, 6, 1, 7, 1});
  write_seed(folder, "picture_reader", "bitmap",
             bitmap_seed(3, 1, 24, 0, {}, byte_vector(12, 0x5A)));
  const byte_vector two_colours = {1, 2, 3, 0, 4, 5, 6, 0};
  write_seed(
      folder, "picture_reader", "rle8",
      bitmap_seed(4, 3, 8, 1, two_colours, {3, 1, 0, 0, 0, 2, 1, 1, 0, 3, 1, 0, 1, 0, 0, 1}));
  write_seed(
      folder, "picture_reader", "rle4",
      bitmap_seed(5, 2, 4, 2, two_colours, {3, 0x10, 0, 0, 0, 5, 0x01, 0x10, 0x10, 0, 0, 1}));
  write_seed(folder, "picture_reader", "bit-fields",
             bitmap_seed(3, 1, 16, 3, {0, 0xF8, 0, 0, 0xE0, 7, 0, 0, 0x1F, 0, 0, 0},
                         {0xFF, 0xFF, 0x3D, 0x8C, 0x1F, 0, 0, 0}));

  const char* paths[] = {"data/PICS.OFB", "../data/v1.2/A.X", "C:\\GAME\\\x83\x5C\x83\x74.BIN",
                         "dir.d/name",    "a\x81/b\x81\\c.d", "*.OFB",
                         ".hidden"};
  int n = 0;
  for (const std::string path : paths) {
    write_seed(folder, "paths", "path" + std::to_string(n++),
               byte_vector(path.begin(), path.end()));
  }

  // Disc images: a cue sheet of two files; a set of volume descriptors that is only its
  // terminator (fuzz/regressions/iso9660/ holds a whole volume made by genisoimage).
  const std::string sheet = "FILE \"game.bin\" BINARY\r\n  TRACK 01 MODE1/2352\r\n"
                            "    INDEX 01 00:00:00\r\nFILE music.bin BINARY\r\n  TRACK 02 AUDIO\r\n"
                            "    PREGAP 00:02:00\r\n    INDEX 01 00:00:00\r\n";
  write_seed(folder, "cue_sheet", "two-files", byte_vector(sheet.begin(), sheet.end()));
  write_seed(folder, "iso9660", "terminator",
             joined({0xFF, 'C', 'D', '0', '0', '1', 1}, byte_vector(2041)));
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
