#include <gtest/gtest.h>

#include "pictures/bitmap_file.hpp"
#include "pictures/bitmap_writers.hpp"
#include "pictures/colour_expansion.hpp"
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

} // namespace
