// What both bitmap writers share: file names, header fields and the output file itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/state.hpp"

inline constexpr std::size_t bitmap_header_size = 54;

// One suffix character: 0-9, then A-Z for 10 to 35.
char counter_digit(std::uint32_t value);
// A value in base 36: one character up to 35, more beyond, so names stay unique and valid.
std::string base36_text(std::uint32_t value);
std::string direct_suffix(std::int32_t frame_counter);  // "00" ... "NC" ...
std::string indexed_suffix(std::int32_t frame_counter); // "000" ... "0A9" ...
std::string bitmap_path(const extraction_state& state, const std::string& base_name,
                        const std::string& suffix);

void put_u16le(std::uint8_t* at, std::uint32_t value);
void put_u32le(std::uint8_t* at, std::uint32_t value);

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
void put_bitmap_header(std::uint8_t* at, const bitmap_header& header);

// Opens `path` as the output stream; prints `create_error_format` and ends the run if it can't.
void open_bitmap(extraction_state& state, const std::string& path, const char* create_error_format);
void write_bitmap_bytes(extraction_state& state, const std::string& path, const void* bytes,
                        std::size_t size);
// Writes `height` rows of `row_bytes` from `pixels`, bottom row first, each padded to 4 bytes.
void write_bitmap_rows(extraction_state& state, const std::string& path, const std::uint8_t* pixels,
                       std::size_t row_bytes, std::int32_t height);
// Closes the output stream. A bitmap that could not be written completely is removed,
// and the run ends with "file write error!".
void close_bitmap(extraction_state& state, const std::string& path);
