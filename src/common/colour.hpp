// A 16-bit colour word: bit 15 unused, then 5 bits each of blue, green and red.
// Each channel becomes 8 bits by a shift left of 3, so its low three bits are zero.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

inline constexpr std::size_t colour_word_size = 2;

inline std::uint8_t colour_blue(std::uint32_t word) {
  return static_cast<std::uint8_t>((word & 0x7C00) >> 7);
}
inline std::uint8_t colour_green(std::uint32_t word) {
  return static_cast<std::uint8_t>((word & 0x03E0) >> 2);
}
inline std::uint8_t colour_red(std::uint32_t word) {
  return static_cast<std::uint8_t>((word & 0x001F) << 3);
}

// The colour word for 8-bit channels: each keeps its top five bits; bit 15 is clear.
inline std::uint16_t colour_word_of(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  return static_cast<std::uint16_t>((blue >> 3) << 10 | (green >> 3) << 5 | red >> 3);
}
// Whether a colour loses bits on the way into a colour word.
inline bool loses_bits(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  return ((red | green | blue) & 7) != 0;
}

// The 256 colours of a palette of big-endian colour words, as red, green, blue.
inline std::vector<std::uint8_t> palette_colours(const std::uint8_t* palette_words) {
  std::vector<std::uint8_t> colours(3 * 256);
  for (std::size_t i = 0; i < 256; ++i) {
    const std::uint32_t word = std::uint32_t{palette_words[2 * i]} << 8 | palette_words[2 * i + 1];
    colours[3 * i] = colour_red(word);
    colours[3 * i + 1] = colour_green(word);
    colours[3 * i + 2] = colour_blue(word);
  }
  return colours;
}
