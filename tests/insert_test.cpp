// Putting pictures back: extraction of the new pair gives the pictures given, every other byte
// of the pair stays as it was, and what cannot be put back is named and leaves no pair.
#include <gtest/gtest.h>

#include "archive/archive.hpp"
#include "archive/insert_pair.hpp"
#include "bitmap/picture_reader.hpp"
#include "driver/driver.hpp"
#include "sample_writer.hpp"
#include "test_support.hpp"

namespace {

class Insertion : public ::testing::Test {
protected:
  scratch_folder folder{fast_storage()};
  fs::path data = folder.path / "data";
  fs::path pictures = folder.path / "pictures";
  fs::path out = folder.path / "out";

  void SetUp() override {
    for (const fs::path& path : {data, pictures, out}) {
      fs::create_directories(path);
    }
  }
  void extract(const std::string& name, output_format format = output_format::bmp) {
    extract_quietly(data / (name + ".OFB"), pictures, format);
  }
  // Inserts the pictures folder into the pair; the console text, the status on its last line.
  std::string insert(const std::string& name, bool quiet = true) {
    test_state run(out);
    run.state.quiet = quiet;
    const int refused =
        insert_pictures_of(run.state, pictures.string(), {(data / (name + ".OFB")).string()});
    return run.console_text() + std::to_string(refused != 0 ? 2 : run.state.incomplete ? 1 : 0);
  }
  void give(const std::string& file, const byte_vector& bytes) {
    write_file(pictures / file, bytes);
  }
  byte_vector made(const std::string& file) { return read_whole_file(out / file); }
};

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
  // More screens than the record buffer holds unpacked.
  screens[4] =
      make_screen_bank(palette, std::vector<byte_vector>(7, make_run_stream(sample_screen(4))));
  std::vector<byte_vector> direct(381, make_direct_record(2, 1, {0x8001, 0x7FFF}));
  direct[4].resize(4);
  direct[5].resize(9);
  direct[6] = make_direct_record(400, 400, colour_words(400 * 400, 0x8421)); // 480,000 bytes shown
  return {{"BFIL", lay_out_pair(banks)},
          {"GFIL", lay_out_pair(screens)},
          {"PICS", lay_out_pair(direct)},
          {"SAMP", direct_sample(9, 5)}};
}

TEST_F(Insertion, UnchangedPicturesGiveThePairBackByteForByte) {
  for (const output_format format : {output_format::bmp, output_format::png}) {
    for (const auto& [name, pair] : damaged_pairs()) {
      write_pair(data, name, pair);
      extract(name, format);
      EXPECT_EQ(fs::exists(pictures / "PICS06.BMP") || fs::exists(pictures / "PICS06.PNG"),
                name == "PICS");
      EXPECT_EQ(insert(name), "0") << name;
      EXPECT_EQ(made(name + ".OFB"), pair.index) << name;
      EXPECT_EQ(made(name + ".BIN"), pair.archive) << name;
      fs::remove_all(pictures);
      fs::create_directory(pictures);
    }
  }
}

TEST_F(Insertion, DirectColourKeepsEveryUnchangedWordAndBit15) {
  const archive_pair pair = direct_sample(4, 3);
  write_pair(data, "PICS", pair);
  extract("PICS");
  const colour_words frame = gradient_frame(5, 4, 3);
  byte_vector edited = rgb_of(frame);
  edited[3 * 5] = 0xFF; // pixel 5 becomes red 0xFF: rounded down to 0xF8
  give("PICS05.BMP", bitmap_file(4, 3, edited));
  ASSERT_EQ(insert("PICS"), "0");
  const byte_vector archive = made("PICS.BIN");
  ASSERT_EQ(archive.size(), pair.archive.size());
  const std::size_t record = u24be(&pair.index[5 * 8 + 1]) * sector_size + direct_pixels_at;
  for (std::size_t at = 0; at < archive.size(); ++at) {
    if (at != record + 2 * 5 + 1) {
      ASSERT_EQ(archive[at], pair.archive[at]) << at;
    }
  }
  EXPECT_EQ(archive[record + 2 * 5 + 1] & 0x1F, 0x1F);
  EXPECT_EQ(archive[record + 2 * 5] & 0x80, (frame[5] >> 8) & 0x80);
  // A record that fills its sector exactly stays where it was.
  give("PICS07.BMP", bitmap_file(1021, 1, byte_vector(3 * 1021, 8)));
  ASSERT_EQ(insert("PICS"), "0");
  EXPECT_EQ(u24be(&made("PICS.OFB")[7 * 8 + 1]), u24be(&pair.index[7 * 8 + 1]));
  EXPECT_EQ(u32be(&made("PICS.OFB")[7 * 8 + 4]), 2048u);
}

// A record that another entry reads too is not rebuilt in place: that entry keeps its picture.
TEST_F(Insertion, ARecordAnotherEntryReadsMovesAndThatEntryKeepsIt) {
  archive_pair pair = direct_sample(2, 2);
  std::copy_n(pair.index.begin() + 8 * 2, 8, pair.index.begin() + 8 * 3);
  write_pair(data, "PICS", pair);
  extract("PICS");
  const byte_vector third = read_whole_file(pictures / "PICS03.BMP");
  byte_vector edited = read_whole_file(pictures / "PICS02.BMP");
  edited[54] ^= 0x08;
  give("PICS02.BMP", edited);
  ASSERT_EQ(insert("PICS"), "0");
  EXPECT_GE(u24be(&made("PICS.OFB")[2 * 8 + 1]) * sector_size, pair.archive.size());
  data = out;
  fs::remove_all(pictures);
  fs::create_directory(pictures);
  extract("PICS");
  EXPECT_EQ(read_whole_file(pictures / "PICS02.BMP"), edited);
  EXPECT_EQ(read_whole_file(pictures / "PICS03.BMP"), third);
}

TEST_F(Insertion, AFrameThatGrowsMovesItsRecordAndTheOthersKeepTheirIndices) {
  archive_pair pair = frame_bank_sample(3, 2, 5);
  pair.index[0] = 0xA5; // not read, but kept
  write_pair(data, "BFIL", pair);
  extract("BFIL");
  byte_vector colours = rgb_of(sample_palette(0));
  colours.resize(16 * 3); // a short colour table takes the record's other colours
  colours[1] = 0x0B;      // low bits of a green lost
  // Over 64 KiB: every byte of the new length counts.
  give("BFIL001.BMP", bitmap_file(300, 230, byte_vector(300 * 230, 2), colours));
  fs::remove(pictures / "BFIL000.BMP"); // the frames of one bank share one palette
  byte_vector kept = read_whole_file(pictures / "BFIL002.BMP");
  fs::remove(pictures / "BFIL002.BMP");
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

  data = out;
  fs::remove_all(pictures);
  fs::create_directory(pictures);
  extract("BFIL");
  byte_vector palette = rgb_of(sample_palette(0));
  palette[1] = 0x08;
  EXPECT_EQ(read_whole_file(pictures / "BFIL001.BMP"),
            bitmap_file(300, 230, byte_vector(300 * 230, 2), palette));
  kept[54 + 1] = 0x08; // colour 0's green in the colour table
  EXPECT_EQ(read_whole_file(pictures / "BFIL002.BMP"), kept);
}

TEST_F(Insertion, AShortScreenAfterAChangedOneStillShowsWhatItDid) {
  const archive_pair pair = damaged_pairs()[1].second;
  write_pair(data, "GFIL", pair);
  extract("GFIL");
  const byte_vector before = read_whole_file(pictures / "GFIL001.BMP");
  byte_vector edited = read_whole_file(pictures / "GFIL000.BMP");
  edited[edited.size() - 352 * 100] ^= 1;
  // The damaged record after GFIL001 paints over its top row: a change there may be made.
  byte_vector top_row = before;
  top_row.back() ^= 1;
  edited[54 + 4 * 5] ^= 0x08; // one colour of the bank changed, by whole steps: nothing rounded
  top_row[54 + 4 * 5] ^= 0x08;
  give("GFIL000.BMP", edited);
  give("GFIL001.BMP", top_row);
  const byte_vector after = read_whole_file(pictures / "GFIL002.BMP");
  const std::string console = insert("GFIL", false);
  ASSERT_EQ(console.substr(console.rfind('\n', console.size() - 3) + 1),
            "2 pictures replaced (0 with colours rounded down)\n0");
  data = out;
  extract("GFIL");
  EXPECT_EQ(read_whole_file(pictures / "GFIL000.BMP"), edited);
  EXPECT_EQ(read_whole_file(pictures / "GFIL001.BMP"), top_row);
  EXPECT_EQ(read_whole_file(pictures / "GFIL002.BMP"), after);
  // The short stream was packed anew in full; the records after it are as they were.
  EXPECT_GT(u32be(&made("GFIL.OFB")[4]), u32be(&pair.index[4]));
  EXPECT_TRUE(std::equal(pair.index.begin() + 8, pair.index.end(), made("GFIL.OFB").begin() + 8));
}

// The longest side a size table holds, 65535, is put back; one more is refused.
TEST_F(Insertion, FramesUpToTheLongestSideATableHolds) {
  write_pair(data, "BFIL", frame_bank_sample(1, 2, 2));
  extract("BFIL");
  picture_pixels bank_frame;
  std::string why;
  ASSERT_TRUE(
      read_picture_file((pictures / "BFIL000.BMP").string(), pixel_buffer_size, bank_frame, why));
  const byte_vector colours = bank_frame.palette; // the bank's own colours
  fs::remove_all(pictures);
  fs::create_directory(pictures);
  give("BFIL000.BMP", bitmap_file(65535, 1, byte_vector(65535, 1), colours));
  EXPECT_EQ(insert("BFIL"), "0");
  give("BFIL000.BMP", bitmap_file(65536, 1, byte_vector(65536, 1), colours));
  EXPECT_EQ(insert("BFIL"), "insert error![" + (pictures / "BFIL000.BMP").string() +
                                ": larger than the tool's buffers allow]\n1");
}

// The check after building: the new pair must give back every picture expected, and no fewer.
TEST_F(Insertion, TheCheckNamesAPictureThatDiffersAndMissingOnes) {
  const archive_pair pair = damaged_pairs()[1].second;
  write_pair(data, "GFIL", pair);
  test_state run(out);
  run.state.quiet = true;
  std::copy(pair.index.begin(), pair.index.end(), run.state.index_buffer.get());
  run.state.archive_stream = std::fopen((data / "GFIL.BIN").string().c_str(), "rb");
  insertion work;
  work.new_index = pair.index;
  work.screen = byte_buffer(static_cast<std::uint8_t*>(std::calloc(pixel_buffer_size, 1)));
  insert_pictures(run.state, work, "GFIL", 1176);
  EXPECT_TRUE(verify_new_pair(run.state, work, "GFIL", 1176));
  work.expected[1] ^= 1;
  EXPECT_FALSE(verify_new_pair(run.state, work, "GFIL", 1176));
  work.expected[1] ^= 1;
  work.expected.push_back(0);
  EXPECT_FALSE(verify_new_pair(run.state, work, "GFIL", 1176));
  EXPECT_EQ(run.console_text(),
            "insert error![GFIL001.BMP: the new pair does not give this picture back (a fault of "
            "ofb2bmp)]\ninsert error![: the new pair gives fewer pictures back (a fault of "
            "ofb2bmp)]\n");
}

struct refusal_case {
  const char* what;
  std::string file;
  byte_vector bytes;
  std::string why; // after "insert error![folder/file: "
};

TEST_F(Insertion, WhatCannotBePutBackIsNamedAndLeavesNoPair) {
  const byte_vector palette = rgb_of(sample_palette(2));
  byte_vector other_palette = palette;
  other_palette[5] = 0x40;
  byte_vector run_length_coded = bitmap_file(3, 2, byte_vector(6, 1), palette);
  run_length_coded[30] = 1;
  byte_vector screen_row_100 = byte_vector(352 * 240, 4);
  screen_row_100[352 * 100] = 7;
  const refusal_case cases[] = {
      {"24 bits for a palette frame", "BFIL000.BMP", bitmap_file(3, 2, byte_vector(18, 1)),
       "a palette picture needs 8 bits a pixel"},
      {"8 bits for direct colour", "PICS00.BMP", bitmap_file(2, 1, {1, 2}, palette),
       "a direct-colour picture needs 24 bits a pixel"},
      {"a screen of another size", "GFIL000.BMP",
       bitmap_file(352, 239, byte_vector(352 * 239), palette), "a screen must be 352 x 240"},
      {"a record that would outgrow the buffer", "BFIL000.BMP",
       bitmap_file(724, 724, byte_vector(724 * 724, 3), palette),
       "its rebuilt record would be longer than the tool's record buffer (524288 bytes)"},
      {"a frame of a damaged record", "BFIL001.BMP", bitmap_file(1, 1, {1}, palette),
       "its record is damaged (extraction reports it broken), so it cannot change"},
      {"a changed frame beside a broken one", "BFIL004.BMP",
       bitmap_file(5, 4, byte_vector(20), palette),
       "its record is damaged (extraction reports it broken), so it cannot change"},
      {"a screen that a damaged record's short stream shows", "GFIL002.BMP",
       bitmap_file(352, 240, screen_row_100, palette), ""},
      {"a compressed bitmap", "BFIL000.BMP", run_length_coded, ""},
  };
  for (const auto& [name, pair] : damaged_pairs()) {
    write_pair(data, name, pair);
  }
  for (const refusal_case& c : cases) {
    for (const fs::path& path : {pictures, out}) {
      fs::remove_all(path);
      fs::create_directory(path);
    }
    give(c.file, c.bytes);
    const std::string name = c.file.substr(0, 4);
    const std::string console = insert(name);
    const std::string folder = pictures.string() + "/";
    if (!c.why.empty()) {
      EXPECT_EQ(console, "insert error![" + folder + c.file + ": " + c.why + "]\n1") << c.what;
    } else {
      EXPECT_EQ(console.substr(0, 14), "insert error![") << c.what;
      EXPECT_EQ(console.back(), '1') << c.what;
    }
    EXPECT_TRUE(fs::is_empty(out)) << c.what;
  }
  // Two pictures of one bank with different palettes; one picture given twice.
  fs::remove_all(pictures);
  fs::create_directory(pictures);
  give("BFIL000.BMP", bitmap_file(3, 2, byte_vector(6, 1), palette));
  give("PICS00.BMP", bitmap_file(2, 1, byte_vector(6, 1)));
  give("PICS00.PNG", {});
  write_pair(data, "BANK", frame_bank_sample(2, 2, 2));
  give("BANK000.BMP", bitmap_file(2, 2, byte_vector(4, 1), palette));
  give("BANK001.BMP", bitmap_file(2, 2, byte_vector(4, 1), other_palette));
  EXPECT_EQ(insert("BANK"), "insert error![" + pictures.string() +
                                "/BANK001.BMP: its palette differs from that of BANK000.BMP (the "
                                "pictures of one record share one palette)]\n1");
  EXPECT_EQ(insert("PICS"), "insert error![" + pictures.string() +
                                "/PICS00.BMP: given twice, also as PICS00.PNG]\n1");
  // A new pair may not take the place of its own input.
  out = data;
  EXPECT_EQ(insert("PICS"), "2");
  EXPECT_EQ(read_whole_file(data / "PICS.BIN"), damaged_pairs()[2].second.archive);
}

} // namespace
