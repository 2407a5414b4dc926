// What every picture writer shares: file names, bitmap header fields and the output file.
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
// output_folder + base name + suffix + extension (".BMP").
std::string output_path(const extraction_state& state, const std::string& base_name,
                        const std::string& suffix, const char* extension);

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

// Bytes that lie somewhere in memory, to be written where they are.
struct byte_piece {
  const void* bytes;
  std::size_t size;
};

// Opens `path` as the output's stream; ends the run with `create_error` naming it if it can't.
// False, with `kept` set, for a file that exists already when `keep_existing`.
bool open_output(picture_output& output, const std::string& path, text create_error,
                 bool keep_existing);
// Writes the pieces in order, straight from where they lie.
void write_output(picture_output& output, const std::string& path, const byte_piece* pieces,
                  std::size_t count);
// Writes `head`, then `height` rows of `row_bytes` each from `rows`, bottom row first, each
// padded with zero bytes to a multiple of 4.
void write_rows_bottom_up(picture_output& output, const std::string& path, byte_piece head,
                          const std::uint8_t* rows, std::size_t row_bytes, std::int32_t height);
// Closes the output's stream. A picture that could not be written completely is removed, and
// the run ends with "file write error!".
void close_output(picture_output& output, const std::string& path);
