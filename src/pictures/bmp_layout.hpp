// Where the fields of a BMP file's headers lie, for the writers and the reader alike: a 14-byte
// file header, then an info header of at least 40 bytes. Offsets from the start of the file;
// every field little-endian.
#pragma once

#include <cstddef>

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
