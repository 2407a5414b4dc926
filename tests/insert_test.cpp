// Putting pictures back: extraction of the new pair gives the pictures given, every other byte
// of the pair stays as it was, and what cannot be put back is named and leaves no pair.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <numeric>
#include <set>
#include <sstream>

#include "archive/archive.hpp"
#include "archive/palette_fitting.hpp"
#include "common/files_in_progress.hpp"
#include "driver/driver.hpp"
#include "driver/new_pair.hpp"
#include "pictures/picture_names.hpp"
#include "pictures/picture_reader.hpp"
#include "sample_writer.hpp"
#include "test_support.hpp"

namespace {

class Insertion : public ::testing::Test {
protected:
  scratch_folder folder{fast_storage()};
  fs::path data = folder.path / "data";
  fs::path pictures = folder.path / "pictures";
  fs::path out = folder.path / "out";

  // Extraction and insertion close every file they open.
  static std::ptrdiff_t open_files() {
    return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator{});
  }
  const std::ptrdiff_t open_before = open_files();
  void SetUp() override { empty({data, pictures, out}); }
  void TearDown() override { EXPECT_EQ(open_files(), open_before) << "a file left open"; }
  static void empty(std::initializer_list<fs::path> folders) {
    for (const fs::path& path : folders) {
      fs::remove_all(path);
      fs::create_directory(path);
    }
  }
  void extract(const std::string& name, const archive_pair& pair) {
    write_pair(data, name, pair);
    extract_quietly(data / (name + ".OFB"), pictures);
  }
  bool nearest = false; // --nearest
  int threads = 1;      // -j

  // Inserts the pictures folder into the pair; the console text, the status on its last line.
  // The insertion refuses the pictures its preview refuses, for the same reasons.
  std::string insert(const std::string& name, bool quiet = true) {
    const std::vector<std::vector<std::string>> rows = preview(name);
    test_state run(out);
    run.state.quiet = quiet;
    const int refused = insert_pictures_of(
        run.state, pictures.string(), {(data / (name + ".OFB")).string()}, false, threads, nearest);
    const std::string console = run.console_text();
    for (const std::vector<std::string>& row : refused != 0 ? decltype(rows){} : rows) {
      const std::string named =
          "insert error![" + (pictures / row.at(1)).string() + ": " + row.back() + "]\n";
      EXPECT_EQ(console.find(named) != std::string::npos, row.at(4) == "refused") << row.at(1);
    }
    return console + std::to_string(refused != 0 ? 2 : run.state.incomplete ? 1 : 0);
  }
  // The rows of the preview of that insertion, split at their tabs, without the header.
  std::vector<std::vector<std::string>> preview(const std::string& name) {
    test_state run(out);
    insert_pictures_of(run.state, pictures.string(), {(data / (name + ".OFB")).string()}, true, 1,
                       nearest);
    std::istringstream rows(run.console_text());
    std::vector<std::vector<std::string>> split;
    std::string row;
    for (std::getline(rows, row); std::getline(rows, row);) {
      std::istringstream cells(row);
      split.emplace_back();
      for (std::string cell; std::getline(cells, cell, '\t');) {
        split.back().push_back(cell);
      }
    }
    return split;
  }
  std::map<std::string, byte_vector> extract_new(const std::string& name) {
    const fs::path again = folder.path / "again";
    empty({again});
    extract_quietly(out / (name + ".OFB"), again);
    return files_in(again);
  }
  byte_vector picture(const std::string& file) { return read_whole_file(pictures / file); }
  // What the insertion says of a refused picture, and its status.
  std::string refused(const std::string& file, const std::string& why) {
    return "insert error![" + (pictures / file).string() + ": " + why + "]\n1";
  }
  void give(const std::string& file, const byte_vector& bytes) {
    write_file(pictures / file, bytes);
  }
  byte_vector made(const std::string& file) { return read_whole_file(out / file); }
};

// The summary line of an insertion's console text, and the status.
std::string summary(const std::string& console) {
  return console.substr(console.rfind('\n', console.size() - 3) + 1);
}

// A picture file decoded; with `rgb`, its pixels as red, green and blue.
picture_pixels decoded(const byte_vector& file, bool rgb = false) {
  picture_pixels picture;
  std::string why;
  EXPECT_TRUE(decode_picture({file.data(), file.size()}, pixel_buffer_size, picture, why) &&
              (!rgb || expand_to_rgb(picture, why)))
      << why;
  return picture;
}

// Each pixel drawn (red, green, blue) shows its colour, low bits dropped, where the palette has
// it, else one nearest to it, computed here directly. Gives the colours that moved.
std::set<std::uint32_t> expect_nearest(const byte_vector& drawn, const byte_vector& shown,
                                       const byte_vector& palette) {
  EXPECT_EQ(shown.size(), drawn.size());
  const auto distance = [](const std::uint8_t* a, const std::uint8_t* b) {
    return (a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) +
           (a[2] - b[2]) * (a[2] - b[2]);
  };
  std::set<std::uint32_t> moved;
  for (std::size_t at = 0; at + 3 <= std::min(drawn.size(), shown.size()); at += 3) {
    std::uint8_t kept[3];
    std::transform(&drawn[at], &drawn[at + 3], kept, [](int channel) { return channel & 0xF8; });
    int nearest = distance(kept, &palette[0]);
    for (std::size_t i = 3; i < palette.size(); i += 3) {
      nearest = std::min(nearest, distance(kept, &palette[i]));
    }
    EXPECT_EQ(distance(kept, &shown[at]), nearest) << at / 3;
    if (nearest > 0) {
      moved.insert(std::uint32_t{kept[0]} << 16 | kept[1] << 8 | kept[2]);
    }
  }
  return moved;
}

// Damage of every sort the walk meets: cut records and frames, a skipped bank, short streams.
std::vector<std::pair<std::string, archive_pair>> damaged_pairs() {
  const colour_words palette = sample_palette(2);
  std::vector<byte_vector> banks(17, make_frame_bank(palette, {colour_bar_frame(1, 3, 2)}));
  banks[1] = make_palette_head(palette, 2);
  banks[2].resize(banks[2].size() - 1);
  banks[3] = make_frame_bank(palette, {colour_bar_frame(3, 5, 4), colour_bar_frame(4, 2, 2)});
  banks[3].resize(banks[3].size() - 1);
  banks[4] = make_frame_bank(palette, {{0, 7, {}}, colour_bar_frame(5, 3, 2)});
  // Short streams show what the screen before them left.
  std::vector<byte_vector> screens(147, make_screen_bank(palette, {}));
  const byte_vector first = sample_screen(1); // its last row shows the blank screen
  screens[0] =
      make_screen_bank(palette, {make_run_stream(byte_vector(first.begin(), first.end() - 352)),
                                 make_run_stream(byte_vector(352 * 3, 9))});
  screens[1] = make_screen_bank(palette, {make_run_stream(byte_vector(700, 4))});
  screens[2] = make_screen_bank(
      palette, {make_run_stream(byte_vector(352, 5)), make_run_stream(sample_screen(2))});
  screens[2].resize(screens[2].size() - 5);
  screens[3] = make_palette_head(palette, 30);
  screens[3].resize(600);
  std::vector<byte_vector> direct(381, make_direct_record(2, 1, {0x8001, 0x7FFF}));
  direct[4].resize(4);
  direct[5].resize(9);
  return {{"BFIL", lay_out_pair(banks)},
          {"GFIL", lay_out_pair(screens)},
          {"PICS", lay_out_pair(direct)}};
}

// Unchanged pictures, of damaged pairs too and in either format, give the pair back byte for
// byte; a record that several entries read, or one rebuilt shorter than is read, still gives
// every picture: the insert_pair fuzz target checks them over its seeds.

TEST_F(Insertion, DirectColourKeepsEveryUnchangedWordAndBit15) {
  const archive_pair pair = direct_sample(4, 3);
  extract("PICS", pair);
  byte_vector edited = rgb_of(gradient_frame(5, 4, 3));
  edited[3 * 4] = 0xFF; // pixel 4 (bit 15 set) becomes red 0xFF: rounded down to 0xF8
  give("PICS05.BMP", bitmap_file(4, 3, edited));
  ASSERT_EQ(insert("PICS"), "0");
  // Once the pair has its names, an interruption has nothing of it to remove.
  EXPECT_EXIT((remove_files_being_written([](const char*) { std::_Exit(3); }), std::_Exit(0)),
              ::testing::ExitedWithCode(0), "");
  byte_vector archive = pair.archive;
  const std::size_t word = u24be(&pair.index[5 * 8 + 1]) * sector_size + direct_pixels_at + 2 * 4;
  ASSERT_EQ(archive[word] & 0x80, 0x80);
  archive[word + 1] |= 0x1F;
  EXPECT_EQ(made("PICS.BIN"), archive);
  // A record that fills its sector exactly stays where it was.
  // A palette picture is taken by its colours.
  give("PICS07.BMP", bitmap_file(1021, 1, byte_vector(1021, 1), {0, 0, 0, 8, 16, 24}));
  ASSERT_EQ(insert("PICS"), "0");
  EXPECT_EQ(u24be(&made("PICS.OFB")[7 * 8 + 1]), u24be(&pair.index[7 * 8 + 1]));
  EXPECT_EQ(u32be(&made("PICS.OFB")[7 * 8 + 4]), 2048u);
  const std::size_t moved = u24be(&pair.index[7 * 8 + 1]) * sector_size + direct_pixels_at;
  EXPECT_EQ(u16be(&made("PICS.BIN")[moved + 2 * 1020]), 3u << 10 | 2u << 5 | 1u);
}

TEST_F(Insertion, AFrameThatGrowsMovesItsRecordAndTheOthersKeepTheirIndices) {
  archive_pair pair = frame_bank_sample(3, 2, 5);
  pair.index[0] = 0xA5; // not read, but kept
  extract("BFIL", pair);
  byte_vector colours = rgb_of(sample_palette(0));
  colours.resize(16 * 3); // a short colour table takes the record's other colours
  colours[7] |= 3;        // low bits of a green lost
  // Over 64 KiB: every byte of the new length counts.
  give("BFIL001.BMP", bitmap_file(300, 230, byte_vector(300 * 230, 2), colours));
  const byte_vector kept = picture("BFIL002.BMP");
  give("BFIL003.BMP", bitmap_file(50, 50, byte_vector(2500, 1), rgb_of(sample_palette(1))));
  ASSERT_EQ(insert("BFIL", false), (data / "BFIL.OFB").string() + "\n" + walk_text(16) +
                                       "2 pictures replaced (1 with colours rounded down)\n0");
  // Neither bank fits its sectors any more: they follow the archive's last sector.
  const byte_vector index = made("BFIL.OFB");
  const std::uint64_t end = (pair.archive.size() + sector_size - 1) / sector_size;
  const std::uint64_t next = end + (u32be(&index[4]) + sector_size - 1) / sector_size;
  EXPECT_EQ(index[0], 0xA5);
  EXPECT_EQ(u24be(&index[1]), end);
  EXPECT_EQ(u24be(&index[9]), next);
  EXPECT_TRUE(std::equal(index.begin() + 16, index.end(), pair.index.begin() + 16));
  const byte_vector archive = made("BFIL.BIN");
  EXPECT_EQ(archive.size(), next * sector_size + u32be(&index[12]));
  EXPECT_TRUE(std::equal(pair.archive.begin(), pair.archive.end(), archive.begin()));
  const auto again = extract_new("BFIL");
  EXPECT_EQ(again.at("BFIL001.BMP"),
            bitmap_file(300, 230, byte_vector(300 * 230, 2), rgb_of(sample_palette(0))));
  EXPECT_EQ(again.at("BFIL002.BMP"), kept);
}

TEST_F(Insertion, AShortScreenAfterAChangedOneStillShowsWhatItDid) {
  const archive_pair pair = damaged_pairs()[1].second;
  extract("GFIL", pair);
  byte_vector edited = picture("GFIL000.BMP");
  edited[edited.size() - 352 * 100] ^= 1;
  // The damaged record after GFIL001 paints over its top row: a change there may be made.
  byte_vector top_row = picture("GFIL001.BMP");
  top_row.back() ^= 1;
  edited[54 + 4 * 5] ^= 0x08; // one colour of the bank changed, by whole steps: nothing rounded
  top_row[54 + 4 * 5] ^= 0x08;
  give("GFIL000.BMP", edited);
  give("GFIL001.BMP", top_row);
  ASSERT_EQ(summary(insert("GFIL", false)), "2 pictures replaced (0 with colours rounded down)\n0");
  EXPECT_EQ(extract_new("GFIL"), files_in(pictures)); // the edits, and the others as they were
  // The short stream was packed anew in full; the records after it are as they were.
  EXPECT_GT(u32be(&made("GFIL.OFB")[4]), u32be(&pair.index[4]));
  EXPECT_TRUE(std::equal(pair.index.begin() + 8, pair.index.end(), made("GFIL.OFB").begin() + 8));
}

// The check after building: the new pair must give back every picture expected, and no fewer.
TEST_F(Insertion, TheCheckNamesAPictureThatDiffersAndMissingOnes) {
  const archive_pair pair = damaged_pairs()[1].second;
  write_pair(data, "GFIL", pair);
  test_state run(out);
  run.state.quiet = true;
  std::copy(pair.index.begin(), pair.index.end(), run.state.index_buffer.get());
  int error_code = 0;
  ASSERT_TRUE(open_file_on_disk((data / "GFIL.BIN").string(), run.state.archive, error_code));
  insertion work;
  const byte_buffer screen = blank_screen();
  work.screen = screen.get();
  given_pictures none;
  none.name_of = [&](const picture_place& place) {
    return picture_name(run.state.files, "GFIL", place);
  };
  none.keep = keep_picture;
  rebuild_pair(run.state, work, 1176, none);
  const auto verify = [&] { // each check starts from the blank screen the walk started from
    std::memset(run.state.pixel_buffer.get(), 0, pixel_buffer_size);
    return check_new_pair(run.state, pair_in(run.state, 1176), work, none, "");
  };
  EXPECT_TRUE(verify());
  work.expected[1] ^= 1;
  EXPECT_FALSE(verify());
  work.expected[1] ^= 1;
  work.expected.push_back(0);
  EXPECT_FALSE(verify());
  EXPECT_EQ(run.console_text(),
            "insert error![GFIL001.BMP: the new pair does not give this picture back (a fault of "
            "ofb2bmp)]\ninsert error![: the new pair gives fewer pictures back (a fault of "
            "ofb2bmp)]\n");
}

struct refusal_case {
  const char* what;
  std::string file;
  byte_vector bytes;
  std::string why;        // after "insert error![folder/file: "; none: put back
  std::string named = {}; // the file the message names, where not the one given
};

TEST_F(Insertion, WhatCannotBePutBackIsNamedAndLeavesNoPair) {
  const byte_vector palette = rgb_of(sample_palette(2));
  byte_vector many_colours; // none of them in the bank's palette: blue 4 is no colour of it
  for (int i = 0; i < 300; ++i) {
    many_colours.insert(many_colours.end(),
                        {std::uint8_t(8 * (i % 32)), std::uint8_t(8 * (i / 32)), 4 * 8});
  }
  byte_vector screen_row_100 = byte_vector(352 * 240, 4);
  screen_row_100[352 * 100] = 7;
  const std::string big = "larger than the tool's buffers allow: make it smaller";
  const std::string damaged = "its record is damaged (extraction reports it broken), so it cannot "
                              "change: leave it as extracted";
  const refusal_case cases[] = {
      {"more new colours than free slots", "BFIL000.BMP", bitmap_file(300, 1, many_colours),
       "needs 299 colours the record's palette lacks (#000020 in 1 pixel, #000820 in 1, #001020 "
       "in 1, and 296 more); 255 slots are free: draw without anti-aliasing in the picture's own "
       "colours, or add --nearest"},
      {"a pixel beyond its palette, for direct colour", "PICS00.BMP",
       bitmap_file(2, 1, {1, 2}, byte_vector(6, 8)),
       "a pixel uses colour 2, which its palette does not hold: save it again in a paint "
       "program"},
      {"a screen of another size", "GFIL000.BMP",
       bitmap_file(352, 239, byte_vector(352 * 239), palette), "a screen must be 352 x 240"},
      {"pixels that fill the record buffer, which the record's head then outgrows", "BFIL000.BMP",
       bitmap_file(1024, 512, byte_vector(1024 * 512, 3), palette),
       "its rebuilt record would be longer than the tool's record buffer (524288 bytes)"},
      {"a frame of a damaged record", "BFIL001.BMP", bitmap_file(1, 1, {1}, palette), damaged},
      {"a changed frame beside a broken one", "BFIL004.BMP",
       bitmap_file(5, 4, byte_vector(20), palette), damaged},
      {"a screen of a damaged record", "GFIL002.BMP",
       bitmap_file(352, 240, screen_row_100, palette), damaged},
      {"a screen that a damaged record's short stream shows", "GFIL001.BMP",
       bitmap_file(352, 240, screen_row_100, palette),
       "it shows part of the screen before it, which changed, and its damaged record cannot be "
       "rebuilt",
       "GFIL002.BMP"},
      {"a bitmap cut short", "BFIL000.BMP", {'B', 'M'}, "cut short: save the picture again"},
      // The longest side a size table holds, 65535, is put back; one more is refused.
      {"the longest side", "BFIL000.BMP", bitmap_file(65535, 1, byte_vector(65535, 1), palette),
       ""},
      {"a side longer", "BFIL000.BMP", bitmap_file(65536, 1, byte_vector(65536, 1), palette), big},
      {"a side longer, in direct colour", "PICS00.BMP",
       bitmap_file(65536, 1, byte_vector(3 * 65536, 8)), big},
      {"as many direct pixels as the buffers hold", "PICS00.BMP",
       bitmap_file(418, 418, byte_vector(3 * 418 * 418, 8)), ""},
      {"more direct pixels", "PICS00.BMP", bitmap_file(419, 418, byte_vector(3 * 419 * 418, 8)),
       "the pictures of its record are larger than the tool's buffers: make them smaller"},
  };
  for (const auto& [name, pair] : damaged_pairs()) {
    write_pair(data, name, pair);
  }
  for (const refusal_case& c : cases) {
    empty({pictures, out});
    give(c.file, c.bytes);
    const std::string name = c.file.substr(0, 4);
    const std::string console = insert(name);
    EXPECT_EQ(console, c.why.empty() ? "0" : refused(c.named.empty() ? c.file : c.named, c.why))
        << c.what;
    EXPECT_EQ(fs::is_empty(out), !c.why.empty()) << c.what; // the preview wrote nothing either
  }
  // One picture given twice, in two letter cases.
  empty({pictures});
  give("PICS00.BMP", bitmap_file(2, 1, byte_vector(6, 1)));
  give("pics00.png", {});
  EXPECT_EQ(insert("PICS"),
            refused("PICS00.BMP", "given twice, also as pics00.png: keep one of them"));
}

// A bank of three frames whose colours are all different but for white, which indices 200 to
// 255 share: frame 0 shows one of them. Index 0 is in use, so a free slot is never 0.
struct colour_bank {
  colour_words palette = colour_words(256, 0x7FFF);
  std::vector<indexed_frame> frames = {
      {4, 2, {1, 2, 3, 4, 201, 201, 5, 6}}, {2, 2, {7, 8, 9, 10}}, {2, 1, {0, 255}}};
  colour_bank() { std::iota(palette.begin(), palette.begin() + 200, 0); } // red and green only
  byte_vector file(std::size_t k, const byte_vector& colours) const {
    return bitmap_file(frames[k].width, frames[k].height, frames[k].pixels, colours);
  }
};

// The colours with index i at 255 - i, and each frame's indices turned with them, as paint
// programs reorder palettes.
byte_vector reversed(const byte_vector& colours) {
  byte_vector turned;
  for (std::size_t i = 256; i-- > 0;) {
    turned.insert(turned.end(), colours.begin() + 3 * i, colours.begin() + 3 * i + 3);
  }
  return turned;
}
byte_vector turned(byte_vector pixels) {
  std::transform(pixels.begin(), pixels.end(), pixels.begin(), [](int i) { return 255 - i; });
  return pixels;
}

using files = std::map<std::string, byte_vector>;
using pictures_of = std::vector<byte_vector>;
struct colour_case {
  const char* what;
  files given;
  pictures_of after;    // the bank's three pictures, extracted from the new pair
  std::string replaced; // the summary line
  std::string rows;     // result and slots of each row of the preview
};

} // namespace

// Colours decide, not indices: each case's files are previewed, inserted, and the new pair
// extracted again; the preview's rows say what the insertion did.
TEST_F(Insertion, ColoursDecideNotIndices) {
  const colour_bank bank;
  const byte_vector colours = rgb_of(bank.palette);
  std::vector<byte_vector> records(17, make_frame_bank(bank.palette, {{1, 1, {1}}}));
  records[0] = make_frame_bank(bank.palette, bank.frames);
  const archive_pair pair = lay_out_pair(records);
  write_pair(data, "BFIL", pair);
  const std::vector<byte_vector> original = {bank.file(0, colours), bank.file(1, colours),
                                             bank.file(2, colours)};

  byte_vector low_bits = reversed(colours); // re-saved with low bits set: still the same colours
  for (std::uint8_t& channel : low_bits) {
    channel |= channel < 0xF8 ? 3 : 0;
  }
  byte_vector edited = turned(bank.frames[0].pixels);
  edited[7] = 255;                                // now the colour of index 0, the lowest
  byte_vector spare_low_bits = reversed(colours); // low bits only in a colour no pixel has
  spare_low_bits[3 * 100] |= 3;
  byte_vector new_colour = rgb_of({7, 7, 9, 10}); // frame 1's colours (index i has word i)
  new_colour[2] = new_colour[5] = 0x84;           // a blue the bank lacks, its low bits set
  byte_vector slot_7 = colours;                   // the lowest slot no picture uses after the edit
  slot_7[3 * 7 + 2] = 0x80;
  byte_vector first_pixel_changed(colours.begin() + 3, colours.begin() + 6); // index 1's colour
  first_pixel_changed.insert(first_pixel_changed.end(), colours.end() - 3, colours.end());
  byte_vector short_table(colours.begin(), colours.begin() + 3 * 11); // the bank's first 11
  short_table[3 * 10 + 2] = 0x84; // index 10 given a blue the bank lacks, its low bits set
  byte_vector slot_10 = colours;  // the lowest slot no picture uses after the edit
  slot_10[3 * 10 + 2] = 0x80;
  byte_vector blues = colours; // the whole bank recoloured
  for (std::size_t i = 0; i <= 11; ++i) {
    blues[3 * i + 2] = 0xF8;
  }
  const colour_case cases[] = {
      {"re-saved with reordered palettes and low bits set",
       files{{"BFIL000.BMP", bitmap_file(4, 2, turned(bank.frames[0].pixels), low_bits)},
             {"bfil001.bmp", bitmap_file(2, 2, turned(bank.frames[1].pixels), low_bits)},
             {"BFIL002.BMP", original[2]}},
       original, "0 pictures replaced (0 with colours rounded down)",
       "unchanged 0 unchanged 0 unchanged 0"},
      {"one pixel to a colour the bank has, in a reordered palette",
       files{{"BFIL000.BMP", bitmap_file(4, 2, edited, spare_low_bits)},
             {"BFIL001.BMP", original[1]}},
       pictures_of{bitmap_file(4, 2, {1, 2, 3, 4, 201, 201, 5, 0}, colours), original[1],
                   original[2]},
       "1 picture replaced (0 with colours rounded down)", "replaced 0 unchanged 0"},
      {"a colour the bank lacks takes the lowest slot no picture uses",
       files{{"BFIL001.BMP", bitmap_file(2, 2, new_colour)}},
       pictures_of{bank.file(0, slot_7), bitmap_file(2, 2, {7, 7, 9, 10}, slot_7),
                   bank.file(2, slot_7)},
       "1 picture replaced (1 with colours rounded down)", "replaced 1"},
      {"an RGB picture for a palette record, only its first pixel changed",
       files{{"BFIL002.BMP", bitmap_file(2, 1, first_pixel_changed)}},
       pictures_of{original[0], original[1], bitmap_file(2, 1, {1, 255}, colours)},
       "1 picture replaced (0 with colours rounded down)", "replaced 0"},
      {"a short colour table, its last colour new",
       files{{"BFIL001.BMP", bank.file(1, short_table)}},
       pictures_of{bank.file(0, slot_10), bank.file(1, slot_10), bank.file(2, slot_10)},
       "1 picture replaced (1 with colours rounded down)", "replaced 1"},
      {"every picture given with one new palette recolours the bank",
       files{{"BFIL000.BMP", bank.file(0, blues)},
             {"BFIL001.BMP", bank.file(1, blues)},
             {"BFIL002.BMP", bank.file(2, blues)}},
       pictures_of{bank.file(0, blues), bank.file(1, blues), bank.file(2, blues)},
       "3 pictures replaced (0 with colours rounded down)", "replaced 0 replaced 0 replaced 0"},
  };
  // Where the free slots suffice, --nearest changes nothing.
  for (const bool with_nearest : {false, true})
    for (const colour_case& c : cases) {
      nearest = with_nearest;
      empty({pictures, out});
      for (const auto& [file, bytes] : c.given) {
        give(file, bytes);
      }
      std::string results;
      for (const std::vector<std::string>& row : preview("BFIL")) {
        results += (results.empty() ? "" : " ") + row.at(4) + " " + row.at(6);
      }
      EXPECT_EQ(results, c.rows) << c.what;
      EXPECT_TRUE(fs::is_empty(out)) << c.what;

      EXPECT_EQ(summary(insert("BFIL", false)), c.replaced + "\n0") << c.what;
      if (c.after == original) {
        EXPECT_EQ(made("BFIL.BIN"), pair.archive) << c.what;
      }
      const auto again = extract_new("BFIL");
      for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(again.at("BFIL00" + std::to_string(k) + ".BMP"), c.after[k])
            << c.what << ", " << k;
      }
    }
}

// More new colours than free slots, as anti-aliased drawing brings: refused with the colours
// named, or with --nearest those most pixels use take the slots and the others the nearest
// colour of the palette as written. Checked against the pictures extracted from the new pair.
TEST_F(Insertion, NearestColoursForWhatTheSlotsCannotHold) {
  const colour_bank bank;
  std::vector<byte_vector> records(17, make_frame_bank(bank.palette, {{1, 1, {1}}}));
  records[0] = make_frame_bank(bank.palette, bank.frames);
  write_pair(data, "BFIL", lay_out_pair(records));
  // 260 colours the bank lacks (blue 0x40): three used by 1,204, 310 and 96 pixels, the others
  // by one each; the rest of the 64 x 32 pixels in the colour of index 5.
  byte_vector drawn;
  std::map<std::uint32_t, int> pixels_of; // by 0xRRGGBB
  const auto draw = [&](std::uint8_t red, std::uint8_t green, std::uint8_t blue, int count) {
    for (int i = 0; i < count; ++i) {
      drawn.insert(drawn.end(), {red, green, blue});
    }
    pixels_of[std::uint32_t{red} << 16 | green << 8 | blue] += blue == 0 ? 0 : count;
  };
  for (int k = 0; k < 260; ++k) {
    const int most[] = {1204, 310, 96};
    draw(std::uint8_t(8 * (k % 32)), std::uint8_t(8 * (k / 32)), 0x40, k < 3 ? most[k] : 1);
  }
  draw(40, 0, 0, 64 * 32 - 1867);
  give("BFIL001.BMP", bitmap_file(64, 32, drawn));
  // Index 1's colour, which fits; index 0 is then free too.
  give("BFIL002.BMP", bitmap_file(2, 1, {8, 0, 0, 248, 248, 248}));
  EXPECT_EQ(insert("BFIL"),
            refused("BFIL001.BMP",
                    "needs 260 colours the record's palette lacks (#000040 in 1,204 pixels, "
                    "#080040 in 310, #100040 in 96, and 257 more); 248 slots are free: draw "
                    "without anti-aliasing in the picture's own colours, or add --nearest"));
  EXPECT_EQ(preview("BFIL").at(1).at(4), "replaced"); // the refused picture changes no other

  nearest = true;
  const std::vector<std::vector<std::string>> rows = preview("BFIL");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(std::vector<std::string>(rows[0].begin() + 4, rows[0].end()),
            (std::vector<std::string>{"replaced", "no", "248", "2x2 -> 64x32", "12", "16", "-"}));
  EXPECT_EQ(summary(insert("BFIL", false)),
            "1 picture with 12 pixels moved to a nearest colour\n0");
  EXPECT_EQ(insert("BFIL"), "0"); // -q leaves that line out too
  const auto again = extract_new("BFIL");
  const picture_pixels after = decoded(again.at("BFIL001.BMP"));
  ASSERT_TRUE(after.indexed && after.width == 64 && after.height == 32);
  EXPECT_EQ(again.at("BFIL000.BMP"), bank.file(0, after.palette));
  // The colours left out are used by no more pixels than any that got a slot (of equal ones,
  // the higher), and each of their pixels took a nearest colour.
  const std::set<std::uint32_t> left_out =
      expect_nearest(drawn, decoded(again.at("BFIL001.BMP"), true).pixels, after.palette);
  ASSERT_EQ(left_out.size(), 12u);
  for (const auto& [colour, count] : pixels_of) {
    if (count > 0 && left_out.count(colour) == 0) {
      EXPECT_TRUE(count > pixels_of[*left_out.begin()] || colour < *left_out.begin());
    }
  }
}

// A full palette and one pixel in a colour it lacks: with --nearest that pixel alone moves, to
// the nearest colour, and the count says so in the singular.
TEST_F(Insertion, OnePixelMovedIsCountedInTheSingular) {
  indexed_frame every_index{16, 17, byte_vector(272)}; // each index, and a row of index 0
  std::iota(every_index.pixels.begin(), every_index.pixels.begin() + 256, std::uint8_t{0});
  std::vector<byte_vector> banks(17, make_frame_bank(sample_palette(2), {{1, 1, {1}}}));
  banks[0] = make_frame_bank(sample_palette(2), {every_index});
  extract("BFIL", lay_out_pair(banks));
  byte_vector drawn = decoded(picture("BFIL000.BMP"), true).pixels;
  std::copy_n(&drawn[3 * 255], 3, &drawn[3 * 256]); // a pixel of the last row near index 255,
  drawn[3 * 256] ^= 0x08;                           // the last colour a nearest one is sought among
  give("BFIL000.BMP", bitmap_file(16, 17, drawn));
  nearest = true;
  EXPECT_EQ(summary(insert("BFIL", false)), "1 picture with 1 pixel moved to a nearest colour\n0");
  const byte_vector shown = extract_new("BFIL").at("BFIL000.BMP");
  EXPECT_EQ(expect_nearest(drawn, decoded(shown, true).pixels, decoded(shown).palette).size(), 1u);
}

// Fitting alone, at the edges the insertions above do not reach: one colour and exactly three
// named, one slot free, the nearest colour at index 0 and tied with a later one; and pictures
// that differ only in their first byte, or only below the original's last row.
TEST(PaletteFitting, RefusalsCountAndNearestColoursTakeTheLowestIndex) {
  constexpr char advice[] =
      ": draw without anti-aliasing in the picture's own colours, or add --nearest";
  struct fit_case {
    const char* what;
    std::size_t indices_used; // by the unchanged frame: 0, 1, ... (all but the last are taken)
    byte_vector given;        // red, green, blue of a 1-pixel-high frame
    bool nearest;
    std::string refusal;
    byte_vector indices = {};
    std::int32_t moved = 0, farthest = 0;
  };
  const fit_case cases[] = {
      {"one colour", 256, byte_vector{200, 168, 248}, false,
       "needs 1 colour the record's palette lacks (#C8A8F8 in 1 pixel); 0 slots are free"},
      {"three colours named, none more", 255, byte_vector{0, 0, 8, 0, 0, 16, 0, 0, 8, 8, 0, 16},
       false,
       "needs 3 colours the record's palette lacks (#000008 in 2 pixels, #000010 in 1, "
       "#080010 in 1); 1 slot is free"},
      {"the nearest is index 0, tied with index 7", 256, byte_vector{0, 0, 8, 8, 0, 0}, true, "",
       byte_vector{0, 1}, 1, 64},
  };
  for (const fit_case& c : cases) {
    std::array<std::uint8_t, palette_size> words{};
    for (std::size_t i = 0; i < 256; ++i) {
      words[2 * i + 1] = static_cast<std::uint8_t>(i); // red and green: index 1 is (8, 0, 0)
    }
    words[2 * 7 + 1] = 0; // black again
    std::vector<std::uint8_t> used(c.indices_used);
    std::iota(used.begin(), used.end(), std::uint8_t{0});
    const auto width = static_cast<std::int32_t>(c.given.size() / 3);
    const std::vector<std::uint8_t> original(c.given.size() / 3, 1);
    picture_pixels given{width, 1, false, c.given, {}};
    std::vector<fitted_frame> frames(2);
    frames[0].width = static_cast<std::int32_t>(used.size());
    frames[1].width = width;
    frames[0].height = frames[1].height = 1;
    frames[0].original = &used;
    frames[1].original = &original;
    frames[1].given = &given;
    frames[1].changed = true;
    EXPECT_EQ(fit_to_palette(words, frames, c.nearest), c.refusal.empty()) << c.what;
    EXPECT_EQ(frames[1].refusal, c.refusal.empty() ? "" : c.refusal + advice) << c.what;
    if (c.refusal.empty()) {
      EXPECT_EQ(frames[1].indices, c.indices) << c.what;
    }
    EXPECT_EQ(frames[1].moved, c.moved) << c.what;
    EXPECT_EQ(frames[1].farthest, c.farthest) << c.what;
  }
  // Colours compared over the whole picture: its first byte, and rows the original lacks.
  EXPECT_FALSE(shows_same_colours({1, 1, false, {8, 0, 0}, {}}, 1, 1, {0, 0, 0}, {}));
  const std::vector<std::uint8_t> colours = palette_colours(std::array<std::uint8_t, 512>{}.data());
  EXPECT_FALSE(shows_same_colours({2, 2, true, {0, 0, 0, 0}, {}}, 2, 1, {0, 0}, colours));
}

// Extraction carries the screen from one index file to the next; so does insertion, and the
// unchanged pictures of a run over several index files give back every pair. An index file of
// no known size is passed over; names are matched ignoring case, and a file named like a pair's
// pictures that names none of them is said to be not used.
TEST_F(Insertion, TheScreenCarriesOverBetweenIndexFilesAsInExtraction) {
  const colour_words palette = sample_palette(3);
  std::vector<byte_vector> first(147, make_screen_bank(palette, {}));
  std::vector<byte_vector> second = first;
  first[0] = make_screen_bank(palette, {make_run_stream(sample_screen(1))});
  second[0] = make_screen_bank(palette, {make_run_stream(byte_vector(5000, 3))});
  write_pair(data, "A", lay_out_pair(first));
  write_pair(data, "B", lay_out_pair(second));
  write_pair(data, "X", {byte_vector(137), {}});
  {
    test_state run(pictures);
    run.state.quiet = true;
    std::set<std::string> done;
    process_input(run.state, (data / "*").string(), done);
  }
  fs::rename(pictures / "A000.BMP", pictures / "a000.bmp"); // 'a' and 'b' at the alphabet's start
  fs::rename(pictures / "B000.BMP", pictures / "b000.bmp");
  give("B999.PNG", {});
  give("A.BMP", {}); // the base name alone names no picture either
  test_state preview(out);
  testing::internal::CaptureStderr();
  insert_pictures_of(preview.state, pictures.string(), {(data / "*").string()}, true);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            text_of(text::unknown_index_size, (data / "X.OFB").string() + ": 137 bytes") +
                text_of(text::not_used, (pictures / "A.BMP").string()) +
                text_of(text::not_used, (pictures / "B999.PNG").string()));
  const std::string a = (data / "A.OFB").string();
  const std::string b = (data / "B.OFB").string();
  EXPECT_EQ(preview.console_text(),
            text_of(text::insert_list_header) + a +
                "\ta000.bmp\t0\t0\tunchanged\tno\t0\t-\t0\t-\t-\n" + b +
                "\tb000.bmp\t0\t0\tunchanged\tno\t0\t-\t0\t-\t-\n" + a +
                "\tA.BMP\t-\t-\tnot used\t-\t-\t-\t-\t-\tnames no picture of A.OFB\n" + b +
                "\tB999.PNG\t-\t-\tnot used\t-\t-\t-\t-\t-\tnames no picture of B.OFB\n");
  EXPECT_EQ(insert("*"), "0");
  for (const char* file : {"A.OFB", "A.BIN", "B.OFB", "B.BIN"}) {
    EXPECT_EQ(made(file), read_whole_file(data / file)) << file;
  }
  // With threads, the new pair is checked as it is written, from the screen the earlier index
  // file left: B's first screen, unchanged, shows part of A's, and a later one changes.
  second[1] = make_screen_bank(palette, {make_run_stream(sample_screen(2))});
  write_pair(data, "B", lay_out_pair(second));
  give("B001.BMP", bitmap_file(352, 240, byte_vector(352 * 240, 1), rgb_of(palette)));
  threads = 2;
  EXPECT_EQ(insert("*"), "0");
}
