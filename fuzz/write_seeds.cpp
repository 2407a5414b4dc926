// write_seeds <folder>: a seed corpus for every fuzz target in <folder>/<target>/, made with the
// sample writer: pairs of each kind, damaged records among whole ones; disc sheets and sectors.
#include <iostream>

#include "archive/archive.hpp"
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
                     std::size_t index_size, archive_pair pair, bool insertion = true) {
  pair.index.resize(index_size, 0);
  const byte_vector tail = joined(pair.index, pair.archive);
  write_seed(folder, "extract_pair", name + "-bmp", joined({kind}, tail));
  write_seed(folder, "extract_pair", name + "-png",
             joined({static_cast<std::uint8_t>(kind + 4)}, tail));
  // Insertion: unedited, from bitmaps and PNG files; one picture's pixels, size or palette changed.
  for (std::uint8_t how = 0; insertion && how < 5; ++how) {
    const std::uint8_t edit[] = {static_cast<std::uint8_t>(kind + 4 * (how % 2 + how / 4)),
                                 static_cast<std::uint8_t>(how % 4), how, 37};
    write_seed(folder, "insert_pair", name + "-edit" + std::to_string(how),
               joined(byte_vector(edit, edit + 4), tail));
  }
}

// A run-length stream of L bytes made of the packets given.
byte_vector stream_of(std::uint32_t wanted, const byte_vector& packets) {
  return joined(
      {0, 0, 0, 0, 0, std::uint8_t(wanted >> 16), std::uint8_t(wanted >> 8), std::uint8_t(wanted)},
      packets);
}

// A full screen of bands with a few noisy rows: both packet kinds, a short stream.
byte_vector banded_screen(unsigned seed) {
  byte_vector screen(352 * 240);
  for (std::size_t i = 0; i < screen.size(); ++i) {
    const std::size_t row = i / 352;
    screen[i] =
        static_cast<std::uint8_t>(row >= 100 && row < 102 ? (i * 7 + seed) % 251 : row / 30 + seed);
  }
  return screen;
}

// One small pair per kind whose few records many entries share, cut at every length where
// something changes (a record's first and last bytes, its head's end) and at a sample of others.
void write_cut_pairs(const fs::path& folder) {
  const std::pair<std::uint8_t, std::vector<byte_vector>> pairs[] = {
      {2,
       {make_direct_record(5, 3, gradient_frame(0, 5, 3)),
        make_direct_record(2, 2, gradient_frame(1, 2, 2)),
        make_direct_record(7, 1, gradient_frame(2, 7, 1))}},
      {0,
       {make_frame_bank(sample_palette(2), {colour_bar_frame(1, 5, 3), colour_bar_frame(2, 1, 1),
                                            colour_bar_frame(3, 4, 2)}),
        make_frame_bank(sample_palette(7),
                        {colour_bar_frame(4, 3, 3), colour_bar_frame(5, 2, 6)})}},
      {1,
       {make_screen_bank(sample_palette(3),
                         {make_run_stream(banded_screen(1)), make_run_stream(banded_screen(2))}),
        make_screen_bank(sample_palette(4), {make_run_stream(banded_screen(3))})}},
  };
  for (const auto& [kind, records] : pairs) {
    const std::size_t index_size = kind == 0 ? 136 : kind == 1 ? 1176 : 3048;
    archive_pair pair = lay_out_pair(records);
    // Later entries repeat the last one, but for screen banks, whose zero entries are skipped.
    const byte_vector last(pair.index.end() - 8, pair.index.end());
    while (kind != 1 && pair.index.size() < index_size) {
      pair.index.insert(pair.index.end(), last.begin(), last.end());
    }
    pair.index.resize(index_size, 0);
    for (std::size_t length = 0; length < pair.archive.size(); ++length) {
      bool worth = length % 512 == 0;
      for (std::size_t e = 0; e < records.size(); ++e) {
        const std::size_t start =
            2048 * (std::size_t{pair.index[8 * e + 2]} << 8 | pair.index[8 * e + 3]);
        const std::size_t end = start + records[e].size();
        if (length >= start && length <= end) {
          const std::size_t into = length - start;
          worth = into < 8 || (into >= 500 && into < 560) || end - length < 140 || into % 37 == 0;
        }
      }
      if (worth) {
        write_seed(folder, "extract_pair",
                   "cut-" + std::to_string(kind) + "-" + std::to_string(length),
                   joined(joined({kind}, pair.index),
                          byte_vector(pair.archive.begin(), pair.archive.begin() + length)));
      }
    }
  }
}

void write_all(const fs::path& folder) {
  fs::remove_all(folder);
  write_cut_pairs(folder);
  const colour_words palette = sample_palette(3);
  const byte_vector bank =
      make_frame_bank(palette, {colour_bar_frame(1, 5, 3), {0, 4, {}}, colour_bar_frame(3, 9, 7)});
  const byte_vector cut_bank(bank.begin(), bank.end() - 9);
  const byte_vector cut_head(bank.begin(), bank.begin() + palette_head_size - 1);
  byte_vector too_large = make_frame_bank(palette, {colour_bar_frame(2, 4, 4)});
  too_large[palette_head_size + 4] = too_large[palette_head_size + 6] = 0x04; // 1028 x 1028
  // Between whole records: one whose tables are missing, one cut short, one empty, one too
  // short for its head, one too large for the buffers.
  write_pair_seed(folder, "frame_banks", 0, 136,
                  lay_out_pair({bank, make_palette_head(palette, 3), cut_bank,
                                make_frame_bank(palette, {}), cut_head, too_large, bank}));
  // A frame that starts past the bytes read of a record longer than the record buffer.
  byte_vector beyond = make_frame_bank(palette, {colour_bar_frame(1, 2, 2)});
  beyond[palette_head_size + 4 + 1] = 0x08;
  beyond.resize(record_buffer_size + 1000, 3);
  write_pair_seed(folder, "frame-past-the-buffer", 0, 136, lay_out_pair({bank, beyond, bank}),
                  false);

  const byte_vector short_streams = make_screen_bank(
      palette, {make_run_stream(byte_vector(300, 4)), make_run_stream({1, 2, 3, 3, 3, 9})});
  byte_vector tables_missing = make_palette_head(palette, 40);
  tables_missing.resize(600);
  // Exactly 576 bytes is skipped, one more is decoded; streams that run past their record;
  // a stream that runs past the screen buffer (clipped, not broken); screens that share an
  // empty stream; one a byte short of the whole screen. Entries of 2 GiB and one byte less.
  byte_vector skipped = make_screen_bank(palette, {stream_of(2, {0x00, 5})});
  skipped.resize(576);
  byte_vector decoded = skipped;
  decoded.push_back(0);
  const byte_vector three =
      make_screen_bank(palette, {make_run_stream(byte_vector(352 * 240, 7)),
                                 make_run_stream(byte_vector(352, 9)), stream_of(0, {})});
  const byte_vector past_record(three.begin(), three.begin() + 600);
  byte_vector past_buffer = make_screen_bank(palette, {stream_of(0xFFFFFF, {0x7F, 0x05})});
  past_buffer.resize(9000, 0x7F);
  byte_vector shared = make_palette_head(palette, 50);
  shared.resize(palette_head_size + 4 * 50, 0);
  shared = joined(shared, stream_of(0, {}));
  archive_pair screens = lay_out_pair(
      {make_screen_bank(palette, {make_run_stream(sample_screen(7))}), tables_missing,
       short_streams, skipped, decoded, three, past_record, past_buffer, shared, three, three,
       make_screen_bank(palette, {make_run_stream(byte_vector(352 * 240 - 1, 2))})});
  for (std::size_t i = 0; i < 4; ++i) { // the lengths of entries 9 and 10
    screens.index[8 * 9 + 4 + i] = i == 0 ? 0x80 : 0;
    screens.index[8 * 10 + 4 + i] = i == 0 ? 0x7F : 0xFF;
  }
  write_pair_seed(folder, "screen_banks", 1, 1176, screens);

  byte_vector direct_cut = make_direct_record(17, 5, gradient_frame(2, 17, 5));
  direct_cut.pop_back();
  byte_vector claimed = make_direct_record(1, 1, {0});
  claimed[2] = claimed[4] = 0x02; // 513 x 513 claimed: larger than the buffers
  archive_pair direct = lay_out_pair(
      {make_direct_record(3, 2, gradient_frame(1, 3, 2)), byte_vector{0, 0, 0, 2}, direct_cut,
       make_direct_record(0, 5, {}), claimed, make_direct_record(1, 1, {0x7FFF}),
       make_direct_record(2, 2, gradient_frame(3, 2, 2))});
  direct.index[8 * 5 + 1] = 0xFF; // a sector far past the end
  write_pair_seed(folder, "direct", 2, 3048, direct);
  // Every entry reads the same 10 bytes in sector 1: a 2 x 1 frame.
  archive_pair shared_sector{{}, byte_vector(2048, 0)};
  for (int entry = 0; entry < 381; ++entry) {
    shared_sector.index.insert(shared_sector.index.end(), {0xEE, 0, 0, 1, 0, 0, 0, 10});
  }
  shared_sector.archive.insert(shared_sector.archive.end(),
                               {0xEE, 0xEE, 0, 2, 0, 1, 0x7C, 0x00, 0x00, 0x1F, 0xEE});
  write_pair_seed(folder, "shared-sector", 2, 3048, shared_sector);
  // Direct colour that fills most of the buffer; more screens than the record buffer holds.
  write_pair_seed(folder, "large-direct", 2, 3048,
                  lay_out_pair({make_direct_record(400, 400, colour_words(400 * 400, 0x8421)),
                                make_direct_record(2, 1, {0x8001, 0x7FFF})}));
  write_pair_seed(folder, "many-screens", 1, 1176,
                  lay_out_pair({make_screen_bank(
                      palette, std::vector<byte_vector>(7, make_run_stream(sample_screen(4))))}));
  // A bank recoloured whose record, rebuilt, is shorter than the shortest length that is read.
  byte_vector short_bank = make_screen_bank(palette, {make_run_stream(byte_vector(700, 4))});
  short_bank.resize(600);
  archive_pair recoloured = lay_out_pair({short_bank});
  recoloured.index.resize(1176);
  write_seed(folder, "insert_pair", "recoloured-short-bank",
             joined(joined({1, 1, 2, 4}, recoloured.index), recoloured.archive));

  // Every packet length after a prefix that shifts its alignment, with the destination ending
  // at, inside or after the packet; streams cut short at every place, and ones that stop at L.
  for (std::size_t length = 1; length <= 129; ++length) {
    for (int kind = 0; kind < 8; ++kind) {
      const bool literal = kind % 2 == 0;
      if ((literal && length > 128) || (!literal && length < 2)) {
        continue;
      }
      const std::size_t prefix = std::size_t{0x81030100} >> (8 * (length % 4)) & 0xFF;
      const std::size_t clip = kind < 2   ? length
                               : kind < 4 ? length - 1
                               : kind < 6 ? length / 2
                                          : 1;
      const std::size_t room = prefix + std::max<std::size_t>(1, clip);
      byte_vector packets;
      for (std::size_t i = 0; i < prefix; ++i) {
        packets.insert(packets.end(), {0xFF, 0x11});
      }
      packets.push_back(static_cast<std::uint8_t>(literal ? 256 - length : length - 2));
      for (std::size_t i = 0; i < (literal ? length : 1); ++i) {
        packets.push_back(static_cast<std::uint8_t>(i + 1));
      }
      write_seed(folder, "expand_runs",
                 "packet-" + std::to_string(length) + "-" + std::to_string(kind),
                 joined({0, std::uint8_t(room >> 8), std::uint8_t(room)},
                        stream_of(static_cast<std::uint32_t>(prefix + length), packets)));
    }
  }
  const byte_vector streams[] = {stream_of(4, {0x01, 0x2A, 0xFE, 0x10, 0x20}),
                                 stream_of(0, {0x7F, 0x42}),
                                 stream_of(2, {0x00, 0x41, 0x7F}),
                                 stream_of(3, {}),
                                 stream_of(9, {0x01, 0x2A, 0x05}),
                                 stream_of(9, {0xFC, 0x01, 0x02, 0x03})};
  for (std::size_t n = 0; n < std::size(streams); ++n) {
    for (std::size_t size = n == 0 ? 0 : streams[n].size(); size <= streams[n].size(); ++size) {
      write_seed(folder, "expand_runs", "stream-" + std::to_string(n) + "-" + std::to_string(size),
                 joined({0, 0, 200}, byte_vector(streams[n].begin(), streams[n].begin() + size)));
    }
  }
  write_seed(folder, "expand_runs", "screen",
             joined({0x01, 0x4A, 0x00}, make_run_stream(sample_screen(9))));

  // Pictures framed by the target (first byte: PLTE colours + 1, or tRNS bytes + 129; then
  // IHDR's 13 bytes, that chunk, the rows): 3 x 3 of 2-bit indices, interlaced; 2 x 2 RGBA,
  // rows filtered Sub and Paeth; 16-bit grey; 8-bit grey with a transparent grey no pixel has.
  // Bitmaps (first byte 0): RLE8 and RLE4 (runs, line end, delta, absolute); 5-6-5 bit fields.
  write_seed(folder, "picture_reader", "adam7-2-bit",
             {4, 0, 0, 0, 3, 0, 0,    0, 3,    2, 3,    0, 0,    1, 9,    8, 7,   6,
              5, 4, 3, 2, 1, 0, 0x40, 0, 0x80, 1, 0x40, 4, 0x80, 0, 0x40, 2, 0x90});
  write_seed(folder, "picture_reader", "rgba", {1, 0, 0,   0, 2, 0, 0, 0, 2, 8, 6, 0, 0, 0, 1, 1,
                                                2, 3, 255, 4, 5, 6, 0, 4, 1, 2, 3, 0, 1, 1, 1, 0});
  write_seed(folder, "picture_reader", "grey-16",
             {1, 0, 0, 0, 2, 0, 0, 0, 2, 16, 0, 0, 0, 0, 0, 0x12, 0xFF, 0x34, 2, 0, 1, 0, 2, 0});
  write_seed(folder, "picture_reader", "grey-trns",
             {131, 0, 0, 0, 2, 0, 0, 0, 2, 8, 0, 0, 0, 0, 0, 9, 0, 5, 6, 1, 7, 1});
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
  for (int n = 0; const std::string path : paths) {
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
  write_all(argv[1]); // a failure throws, and ends the program with its message
  return 0;
}
