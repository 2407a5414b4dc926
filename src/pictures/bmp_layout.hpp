// Where the fields of a BMP file's headers lie, for the writers and the reader alike: a 14-byte
// file header, then an info header of at least 40 bytes. Offsets from the start of the file;
// every field little-endian.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

inline constexpr std::size_t bmp_file_size_at = 2;     // u32, after the signature "BM"
inline constexpr std::size_t bmp_pixel_offset_at = 10; // u32: where the pixels start
inline constexpr std::size_t bmp_file_header_size = 14;
inline constexpr std::size_t bmp_info_size_at = 14;     // u32: 40, or longer for later headers
inline constexpr std::size_t bmp_width_at = 18;         // s32
inline constexpr std::size_t bmp_height_at = 22;        // s32: negative when rows run top down
inline constexpr std::size_t bmp_planes_at = 26;        // u16: 1
inline constexpr std::size_t bmp_bit_count_at = 28;     // u16
inline constexpr std::size_t bmp_compression_at = 30;   // u32: 0 none, 1 RLE8, 2 RLE4, 3 fields
inline constexpr std::size_t bmp_colours_used_at = 46;  // u32: colour table entries, 0 for all
inline constexpr std::size_t bmp_info_header_size = 40; // the shortest, which the writers write
// Bit fields follow the first 40 bytes of the info header.
inline constexpr std::size_t bmp_masks_at = bmp_file_header_size + bmp_info_header_size;

inline constexpr std::size_t bitmap_header_size = 54;

// Zero bytes after each pixel row so that every row fills a multiple of 4 bytes.
inline std::size_t row_padding(std::size_t row_bytes) {
  return (4 - row_bytes % 4) % 4;
}

struct bitmap_header {
  std::uint32_t file_size;
  std::uint32_t pixel_offset;
  std::int32_t width;
  std::int32_t height;
  std::uint16_t bit_count;
  std::uint32_t colours_used;
};
// The 14-byte file header and the 40-byte info header, little-endian.
inline void put_u16le(std::uint8_t* at, std::uint32_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}

inline void put_u32le(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    at[i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

inline void put_bitmap_header(std::uint8_t* at, const bitmap_header& header) {
  std::fill(at, at + bitmap_header_size, std::uint8_t{0});
  at[0] = 'B';
  at[1] = 'M';
  put_u32le(at + bmp_file_size_at, header.file_size);
  // both reserved fields stay 0
  put_u32le(at + bmp_pixel_offset_at, header.pixel_offset);
  put_u32le(at + bmp_info_size_at, bmp_info_header_size);
  put_u32le(at + bmp_width_at, static_cast<std::uint32_t>(header.width));
  put_u32le(at + bmp_height_at, static_cast<std::uint32_t>(header.height));
  put_u16le(at + bmp_planes_at, 1);
  put_u16le(at + bmp_bit_count_at, header.bit_count);
  // no compression, no image size, no resolution
  put_u32le(at + bmp_colours_used_at, header.colours_used);
  // no "important colours" count
}
