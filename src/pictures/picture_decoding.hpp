// What the BMP and PNG readers share: how a refusal is worded, the bound on pixels, and packed
// samples. Each refusal ends with what the user can do about it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/byte_view.hpp"
#include "common/picture.hpp"

// Kept to the readers' files, away from the names of the rest of the tool.
namespace picture_decoding {

inline constexpr std::uint8_t png_signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

inline bool fail(std::string& why, const std::string& text) {
  why = text;
  return false;
}

// A kind the tool does not read.
inline bool unsupported(std::string& why, const std::string& text) {
  return fail(why, text + ": save as 8-bit palette or 24-bit RGB");
}

// A file that breaks its own format.
inline bool damaged(std::string& why, const std::string& text) {
  return fail(why, text + ": save the picture again");
}

inline bool too_large(std::string& why) {
  return fail(why, "larger than the tool's buffers: make the picture smaller");
}

// Pixels the tool refuses: more than the caller's buffers take. The bound also keeps every
// size derived from the pixel count (at most 8 bytes a pixel, and a filter byte a row in each
// of 7 passes) far from overflowing.
inline bool too_many_pixels(std::uint64_t width, std::uint64_t height, std::size_t most_pixels) {
  const std::uint64_t pixels = width * height; // both below 2^32
  return pixels > most_pixels || pixels > SIZE_MAX / 16;
}

// The `depth`-bit sample `index` of a row packed high bits first (depth 1, 2, 4 or 8).
inline std::uint32_t unpacked(const std::uint8_t* row, std::size_t index, unsigned depth) {
  const std::size_t bit = index * depth;
  return row[bit / 8] >> (8 - depth - bit % 8) & ((1u << depth) - 1);
}

} // namespace picture_decoding

// bmp_reader.cpp and png_reader.cpp: a file of their kind (see picture_reader.cpp).
bool decode_bmp(const byte_view& file, std::size_t most_pixels, picture_pixels& picture,
                std::string& why);
bool decode_png(const byte_view& file, std::size_t most_pixels, picture_pixels& picture,
                std::string& why);
