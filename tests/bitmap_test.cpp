#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "bitmap/bitmap_file.hpp"
#include "bitmap/bitmap_writers.hpp"
#include "bitmap/colour_expansion.hpp"
#include "test_support.hpp"

namespace {

struct suffix_case {
  std::int32_t counter;
  const char* direct;
  const char* indexed;
};

TEST(BitmapNames, SuffixesFollowTheDigitRuleAndGrowPastZ) {
  const suffix_case cases[] = {{0, "00", "000"},
                               {10, "0A", "00A"},
                               {16, "10", "010"},
                               {26, "1A", "01A"},
                               {169, "A9", "0A9"},
                               {255, "FF", "0FF"},
                               {256, "G0", "100"},
                               {380, "NC", "17C"},
                               {35 * 16 + 15, "ZF", "23F"},
                               {36 * 16, "100", "240"},
                               {35 * 256 + 255, "FZF", "ZFF"},
                               {36 * 256, "G00", "1000"},
                               {9'633'645, "CWL2D", "T1B6D"}};
  for (const suffix_case& c : cases) {
    EXPECT_EQ(direct_suffix(c.counter), c.direct) << c.counter;
    EXPECT_EQ(indexed_suffix(c.counter), c.indexed) << c.counter;
  }
}

// Words as stored: 7FFF, 001F, 7C00, 03E0, 8000 (bit 15 alone), FFFF, 0421 (1 in each channel),
// 2A85 (blue 10, green 20, red 5), after enough filler words that every vector path
// takes them in a whole step.
TEST(ColourWords, EveryPathGivesTheKnownBytesInBothOrders) {
  const std::uint8_t known[] = {0x7F, 0xFF, 0x00, 0x1F, 0x7C, 0x00, 0x03, 0xE0,
                                0x80, 0x00, 0xFF, 0xFF, 0x04, 0x21, 0x2A, 0x85};
  const std::uint8_t blue_green_red[] = {0xF8, 0xF8, 0xF8, 0x00, 0x00, 0xF8, 0xF8, 0x00,
                                         0x00, 0x00, 0xF8, 0x00, 0x00, 0x00, 0x00, 0xF8,
                                         0xF8, 0xF8, 0x08, 0x08, 0x08, 0x50, 0xA0, 0x28};
  for (const expansion_path path :
       {expansion_path::scalar, expansion_path::sse2, expansion_path::avx2}) {
    if (!expansion_path_available(path)) {
      continue;
    }
    for (const std::size_t lead : {0u, 8u, 16u, 24u}) {
      byte_vector words(2 * lead, 0);
      words.insert(words.end(), std::begin(known), std::end(known));
      for (const channel_order order :
           {channel_order::blue_green_red, channel_order::red_green_blue}) {
        byte_vector pixels(3 * words.size() / 2, 0xEE);
        expand_colour_words(words.data(), words.size() / 2, pixels.data(), order, path);
        for (std::size_t i = 0; i < 8; ++i) {
          const std::uint8_t* want = blue_green_red + 3 * i;
          const std::uint8_t* got = pixels.data() + 3 * (lead + i);
          const bool bgr = order == channel_order::blue_green_red;
          EXPECT_EQ(got[0], want[bgr ? 0 : 2]) << static_cast<int>(path) << " word " << i;
          EXPECT_EQ(got[1], want[1]) << static_cast<int>(path) << " word " << i;
          EXPECT_EQ(got[2], want[bgr ? 2 : 0]) << static_cast<int>(path) << " word " << i;
        }
      }
    }
  }
}

// Every path must give what the word-by-word path gives for every count around the vector
// widths, and write nothing past the last pixel.
TEST(ColourWords, EveryPathMatchesTheWordByWordPathAtEveryCount) {
  for (std::size_t count = 0; count <= 70; ++count) {
    byte_vector words(2 * count);
    for (std::size_t i = 0; i < words.size(); ++i) {
      words[i] = static_cast<std::uint8_t>(i * 151 + (i >> 5) + count);
    }
    for (const channel_order order :
         {channel_order::blue_green_red, channel_order::red_green_blue}) {
      byte_vector expected(3 * count + 16, 0xEE);
      expand_colour_words(words.data(), count, expected.data(), order, expansion_path::scalar);
      for (const expansion_path path : {expansion_path::sse2, expansion_path::avx2}) {
        if (!expansion_path_available(path)) {
          continue;
        }
        byte_vector pixels(3 * count + 16, 0xEE);
        expand_colour_words(words.data(), count, pixels.data(), order, path);
        EXPECT_EQ(pixels, expected) << count << " pixels, path " << static_cast<int>(path);
      }
    }
  }
}

class BitmapWriters : public ::testing::Test {
protected:
  scratch_folder folder;
  test_state t{folder.path};

  byte_vector written(const char* name) { return read_whole_file(folder.path / name); }

  byte_vector frame; // the pixels the writers are given

  void set_frame(std::int32_t width, std::int32_t height, const byte_vector& pixels) {
    t.state.image_width = width;
    t.state.image_height = height;
    frame = pixels;
    frame.resize(std::max<std::size_t>(frame.size(), 1));
  }
};

TEST_F(BitmapWriters, DirectHeaderMatchesTheFixedLayout) {
  byte_vector words(5 * 2 * 2);
  set_frame(5, 2, words);
  write_direct_bitmap(t.state, "PICS", 0, frame.data());
  const byte_vector file = written("PICS00.BMP");
  ASSERT_EQ(file.size(), 86u);
  const std::uint8_t header[54] = {'B', 'M', 86, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,  40,
                                   0,   0,   0,  5, 0, 0, 0, 2, 0, 0, 0,  1, 0, 24, 0};
  EXPECT_EQ(std::memcmp(file.data(), header, 54), 0);
}

TEST_F(BitmapWriters, DirectRowsAreBottomUpAndPaddedToFourBytes) {
  for (std::int32_t width = 1; width <= 5; ++width) {
    // Two rows: the top row all red (001F), the bottom row all blue (7C00).
    byte_vector words;
    for (int i = 0; i < width; ++i) {
      words.insert(words.end(), {0x00, 0x1F});
    }
    for (int i = 0; i < width; ++i) {
      words.insert(words.end(), {0x7C, 0x00});
    }
    set_frame(width, 2, words);
    write_direct_bitmap(t.state, "W", width, frame.data());
    const byte_vector file = written(("W0" + std::to_string(width) + ".BMP").c_str());
    const std::size_t row = 3 * width + (4 - 3 * width % 4) % 4;
    ASSERT_EQ(file.size(), 54 + 2 * row) << width;
    EXPECT_EQ(le32(file, 2), file.size());
    for (int x = 0; x < width; ++x) {
      EXPECT_EQ(file[54 + 3 * x], 0xF8) << "bottom row first: blue";
      EXPECT_EQ(file[54 + row + 3 * x + 2], 0xF8) << "then the top row: red";
    }
    for (std::size_t pad = 3 * width; pad < row; ++pad) {
      EXPECT_EQ(file[54 + pad], 0) << width;
      EXPECT_EQ(file[54 + row + pad], 0) << width;
    }
  }
}

TEST_F(BitmapWriters, EmptyFramesGiveHeadersAlone) {
  const std::pair<std::int32_t, std::int32_t> sizes[] = {{0, 7}, {7, 0}, {0, 0}};
  for (const auto& [width, height] : sizes) {
    set_frame(width, height, {});
    write_direct_bitmap(t.state, "E", 0, frame.data());
    EXPECT_EQ(written("E00.BMP").size(), 54u);
    write_indexed_bitmap(t.state, "E", 0, frame.data());
    const byte_vector indexed = written("E000.BMP");
    EXPECT_EQ(indexed.size(), 1078u);
    EXPECT_EQ(le32(indexed, 2), 1078u);
  }
}

TEST_F(BitmapWriters, IndexedHeaderAndColourTable) {
  t.state.palette.fill(0);
  const std::uint8_t words[][2] = {
      {0x7C, 0x00}, {0x00, 0x1F}, {0x03, 0xE0}, {0xFF, 0xFF}, {0x80, 0x00}};
  for (std::size_t i = 0; i < 5; ++i) {
    t.state.palette[2 * i] = words[i][0];
    t.state.palette[2 * i + 1] = words[i][1];
  }
  set_frame(352, 240, byte_vector(352 * 240, 3));
  write_indexed_bitmap(t.state, "SCR", 10, frame.data());
  const byte_vector file = written("SCR00A.BMP");
  ASSERT_EQ(file.size(), 1024u + 352 * 240 + 54);
  EXPECT_EQ(le32(file, 2), file.size());
  EXPECT_EQ(le32(file, 10), 1078u);
  EXPECT_EQ(le32(file, 14), 40u);
  EXPECT_EQ(le32(file, 18), 352u);
  EXPECT_EQ(le32(file, 22), 240u);
  EXPECT_EQ(le16(file, 26), 1);
  EXPECT_EQ(le16(file, 28), 8);
  EXPECT_EQ(le32(file, 30), 0u);
  EXPECT_EQ(le32(file, 46), 256u);
  EXPECT_EQ(le32(file, 50), 0u);
  const std::uint8_t table[5][4] = {
      {0xF8, 0, 0, 0}, {0, 0, 0xF8, 0}, {0, 0xF8, 0, 0}, {0xF8, 0xF8, 0xF8, 0}, {0, 0, 0, 0}};
  EXPECT_EQ(std::memcmp(file.data() + 54, table, sizeof table), 0);
  EXPECT_EQ(file.back(), 3);
}

TEST_F(BitmapWriters, IndexedRowsPaddedAndPixelsKeptAsTheyAre) {
  for (std::int32_t width = 1; width <= 5; ++width) {
    byte_vector pixels;
    for (int i = 0; i < 2 * width; ++i) {
      pixels.push_back(static_cast<std::uint8_t>(i < width ? 0xFF : i));
    }
    set_frame(width, 2, pixels);
    write_indexed_bitmap(t.state, "I", width, frame.data());
    const byte_vector file = written(("I00" + std::to_string(width) + ".BMP").c_str());
    const std::size_t row = width + (4 - width % 4) % 4;
    ASSERT_EQ(file.size(), 1078 + 2 * row);
    EXPECT_EQ(le32(file, 2), file.size());
    for (int x = 0; x < width; ++x) {
      EXPECT_EQ(file[1078 + x], width + x) << "bottom row first";
      EXPECT_EQ(file[1078 + row + x], 0xFF);
    }
    for (std::size_t pad = width; pad < row; ++pad) {
      EXPECT_EQ(file[1078 + pad] | file[1078 + row + pad], 0);
    }
  }
}

// Bitmaps larger than the output buffer go to the file in several pieces; widths whose rows
// need padding put the pieces' seams inside rows and padding alike.
TEST_F(BitmapWriters, BitmapsLargerThanTheOutputBufferKeepEveryByte) {
  const std::pair<std::int32_t, std::int32_t> sizes[] = {{511, 1024}, {1, 524'288}, {4097, 127}};
  for (const auto& [width, height] : sizes) {
    byte_vector pixels(static_cast<std::size_t>(width) * height);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
      pixels[i] = static_cast<std::uint8_t>(i % 251);
    }
    set_frame(width, height, pixels);
    write_indexed_bitmap(t.state, "BIG", 0, frame.data());
    const byte_vector file = written("BIG000.BMP");
    const std::size_t row = width + (4 - width % 4) % 4;
    ASSERT_EQ(file.size(), 1078 + row * height) << width;
    ASSERT_GT(file.size(), output_buffer_size);
    byte_vector expected;
    for (std::int32_t y = height - 1; y >= 0; --y) {
      const auto start = pixels.begin() + static_cast<std::ptrdiff_t>(y) * width;
      expected.insert(expected.end(), start, start + width);
      expected.resize(expected.size() + row - width, 0);
    }
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), file.begin() + 1078)) << width;
  }
}

TEST_F(BitmapWriters, ExistingBitmapIsReplaced) {
  std::ofstream(folder.path / "OLD00.BMP") << std::string(5000, 'x');
  set_frame(1, 1, {0x00, 0x00});
  write_direct_bitmap(t.state, "OLD", 0, frame.data());
  EXPECT_EQ(written("OLD00.BMP").size(), 58u);
}

TEST_F(BitmapWriters, UncreatableFileEndsTheRunWithEachWritersMessage) {
  t.state.output_folder = (folder.path / "missing/").string();
  set_frame(1, 1, {0, 0});
  const std::string base = t.state.output_folder + "X";
  try {
    write_direct_bitmap(t.state, "X", 0, frame.data());
    FAIL() << "no failure";
  } catch (const fatal_error& failure) {
    EXPECT_EQ(text_of(failure.message, failure.name), "file create error![" + base + "00.BMP]\n");
  }
  try {
    write_indexed_bitmap(t.state, "X", 0, frame.data());
    FAIL() << "no failure";
  } catch (const fatal_error& failure) {
    EXPECT_EQ(text_of(failure.message, failure.name), "file create errror.[" + base + "000.BMP]\n");
  }
}

TEST_F(BitmapWriters, WriteFailureRemovesTheFileAndEndsTheRun) {
  // /dev/full refuses every byte.
  const auto path = folder.path / "PART.BMP";
  std::ofstream(path) << "partial";
  t.state.output_stream = std::fopen("/dev/full", "wb");
  ASSERT_NE(t.state.output_stream, nullptr);
  std::setvbuf(t.state.output_stream, nullptr, _IONBF, 0);
  const std::uint8_t bytes[100] = {};
  const byte_piece piece{bytes, sizeof bytes};
  try {
    write_output(t.state, path.string(), &piece, 1);
    FAIL() << "no failure";
  } catch (const fatal_error& failure) {
    EXPECT_EQ(text_of(failure.message, failure.name), "file write error![" + path.string() + "]\n");
  }
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_EQ(t.state.output_stream, nullptr);
}

} // namespace
