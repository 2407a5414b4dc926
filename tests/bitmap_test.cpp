#include <gtest/gtest.h>

#include <cstring>

#include "bitmap/bitmap_file.hpp"
#include "bitmap/bitmap_writers.hpp"
#include "bitmap/colour_expansion.hpp"
#include "bitmap/png_file.hpp"
#include "damage_oracle.hpp"
#include "sample_writer.hpp"
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
// 2A85 (blue 10, green 20, red 5), by the word-by-word path in both orders.
TEST(ColourWords, KnownWordsGiveKnownBytes) {
  const byte_vector words = {0x7F, 0xFF, 0x00, 0x1F, 0x7C, 0x00, 0x03, 0xE0,
                             0x80, 0x00, 0xFF, 0xFF, 0x04, 0x21, 0x2A, 0x85};
  const byte_vector blue_green_red = {0xF8, 0xF8, 0xF8, 0, 0, 0xF8, 0xF8, 0,
                                      0,    0,    0xF8, 0, 0, 0,    0,    0xF8,
                                      0xF8, 0xF8, 8,    8, 8, 0x50, 0xA0, 0x28};
  byte_vector red_green_blue = blue_green_red;
  for (std::size_t i = 0; i < red_green_blue.size(); i += 3) {
    std::swap(red_green_blue[i], red_green_blue[i + 2]);
  }
  byte_vector pixels(24);
  expand_colour_words(words.data(), 8, pixels.data(), channel_order::blue_green_red,
                      expansion_path::scalar);
  EXPECT_EQ(pixels, blue_green_red);
  expand_colour_words(words.data(), 8, pixels.data(), channel_order::red_green_blue,
                      expansion_path::scalar);
  EXPECT_EQ(pixels, red_green_blue);
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

class Writers : public ::testing::Test {
protected:
  scratch_folder folder;
  test_state t{folder.path};
  byte_vector frame; // the pixels the writers are given

  byte_vector write(bool direct, output_format format, std::int32_t width, std::int32_t height,
                    const byte_vector& pixels) {
    t.state.image_width = width;
    t.state.image_height = height;
    frame = pixels;
    frame.resize(std::max<std::size_t>(frame.size(), 1));
    const char* extension = format == output_format::png ? ".PNG" : ".BMP";
    const fs::path path = folder.path / ((direct ? "D00" : "I000") + std::string(extension));
    fs::remove(path);
    if (format == output_format::png) {
      (direct ? write_direct_png : write_indexed_png)(t.state, direct ? "D" : "I", 0, frame.data());
    } else {
      (direct ? write_direct_bitmap : write_indexed_bitmap)(t.state, direct ? "D" : "I", 0,
                                                            frame.data());
    }
    return fs::exists(path) ? read_whole_file(path) : byte_vector{};
  }
};

TEST_F(Writers, HeadersMatchTheFixedLayouts) {
  const std::uint8_t direct[54] = {'B', 'M', 86, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,  40,
                                   0,   0,   0,  5, 0, 0, 0, 2, 0, 0, 0,  1, 0, 24, 0};
  const byte_vector file = write(true, output_format::bmp, 5, 2, byte_vector(20));
  ASSERT_EQ(file.size(), 86u);
  EXPECT_EQ(byte_vector(file.begin(), file.begin() + 54),
            byte_vector(std::begin(direct), std::end(direct)));
  // Palette entries 0-4 as stored: 7C00, 001F, 03E0, FFFF, 8000; the rest 0.
  const std::uint8_t words[] = {0x7C, 0x00, 0x00, 0x1F, 0x03, 0xE0, 0xFF, 0xFF, 0x80, 0x00};
  t.state.palette.fill(0);
  std::copy(std::begin(words), std::end(words), t.state.palette.begin());
  const byte_vector indexed = write(false, output_format::bmp, 352, 240, byte_vector(352 * 240, 3));
  ASSERT_EQ(indexed.size(), 1024u + 352 * 240 + 54);
  const std::uint8_t head[] = {
      'B', 'M', 0x36, 0x4E, 0x01, 0, 0,    0, 0, 0,    0x36, 4,    0, 0, 40, 0, 0,    0, 0x60,
      1,   0,   0,    0xF0, 0,    0, 0,    1, 0, 8,    0,    0,    0, 0, 0,  0, 0,    0, 0,
      0,   0,   0,    0,    0,    0, 0,    0, 0, 1,    0,    0,    0, 0, 0,  0, 0xF8, 0, 0,
      0,   0,   0,    0xF8, 0,    0, 0xF8, 0, 0, 0xF8, 0xF8, 0xF8, 0, 0, 0,  0, 0};
  EXPECT_EQ(byte_vector(indexed.begin(), indexed.begin() + sizeof head),
            byte_vector(std::begin(head), std::end(head)));
  EXPECT_EQ(indexed.back(), 3);
}

// Rows go bottom row first, each padded with zero bytes to a multiple of 4; frames larger than
// the output buffer, or with more rows than one gathered write takes, keep every byte; a frame
// without pixels is the headers alone.
TEST_F(Writers, RowsAreBottomUpAndPaddedAtEverySize) {
  const std::pair<std::int32_t, std::int32_t> sizes[] = {
      {1, 2}, {2, 2}, {3, 2},     {4, 2},       {5, 2},
      {0, 7}, {7, 0}, {300, 500}, {1, 524'288}, {4097, 127}};
  for (const bool direct : {true, false}) {
    for (const auto& [width, height] : sizes) {
      const std::size_t pixel_bytes = direct ? 3 : 1;
      if (direct && !direct_frame_fits(width, height)) {
        continue;
      }
      byte_vector pixels(static_cast<std::size_t>(width) * height * (direct ? 2 : 1));
      for (std::size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = static_cast<std::uint8_t>(i % 251);
      }
      const byte_vector file = write(direct, output_format::bmp, width, height, pixels);
      const std::size_t row = width * pixel_bytes;
      const std::size_t padded = (row + 3) / 4 * 4;
      const std::size_t head = direct ? 54 : 1078;
      ASSERT_EQ(file.size(), head + padded * height) << width << " x " << height;
      EXPECT_EQ(le32(file, 2), file.size());
      byte_vector expected;
      for (std::int32_t y = height - 1; y >= 0; --y) {
        const std::size_t first = static_cast<std::size_t>(y) * width;
        for (std::size_t x = 0; x < static_cast<std::size_t>(width); ++x) {
          if (direct) {
            const std::uint32_t word = pixels[2 * (first + x)] << 8 | pixels[2 * (first + x) + 1];
            expected.insert(expected.end(), {static_cast<std::uint8_t>((word >> 7) & 0xF8),
                                             static_cast<std::uint8_t>((word >> 2) & 0xF8),
                                             static_cast<std::uint8_t>((word << 3) & 0xF8)});
          } else {
            expected.push_back(pixels[first + x]);
          }
        }
        expected.resize(expected.size() + padded - row, 0);
      }
      EXPECT_TRUE(std::equal(expected.begin(), expected.end(), file.begin() + head))
          << (direct ? "direct " : "indexed ") << width << " x " << height;
    }
  }
}

// Noise deflates to more than one IDAT chunk (palette), or to Huffman codes alone once its
// first rows prove it noise-like (RGB); either way the chunks inflate to every row. A frame
// without pixels gives no PNG.
TEST_F(Writers, PngChunksCarryEveryRow) {
  byte_vector noise(1024 * 512);
  std::uint32_t seed = 1;
  for (std::uint8_t& byte : noise) {
    seed = seed * 1103515245u + 12345u;
    byte = static_cast<std::uint8_t>(seed >> 16);
  }
  for (const bool direct : {false, true}) {
    const byte_vector png =
        write(direct, output_format::png, direct ? 400 : 1024, direct ? 400 : 512, noise);
    EXPECT_TRUE(well_formed_picture(png)) << direct;
    EXPECT_GE(count_of(std::string(png.begin(), png.end()), "IDAT"), 2u) << direct;
  }
  EXPECT_TRUE(write(true, output_format::png, 0, 5, {}).empty());
  EXPECT_TRUE(write(false, output_format::png, 5, 0, {}).empty());
}

TEST_F(Writers, AnExistingFileIsReplaced) {
  write_file(folder.path / "D00.BMP", byte_vector(5000, 'x'));
  EXPECT_EQ(write(true, output_format::bmp, 1, 1, {0, 0}).size(), 58u);
}

} // namespace
