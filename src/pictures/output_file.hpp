// The output file every picture writer and the gallery page go through: created (or kept, with
// -n) under its name, written in pieces straight from where they lie, and closed; a file that
// cannot be written whole is removed and the run ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/state.hpp"

// Bytes that lie somewhere in memory, to be written where they are.
struct byte_piece {
  const void* bytes;
  std::size_t size;
};

// Opens `path` as the output's stream; ends the run with `create_error` naming it if it can't.
// False, with `kept` set, for a file that exists already when `keep_existing`. A plain file that
// exists is not touched: the new one is written under replacement_path and, once whole, takes
// its place at close (`replacing`), or later with `replace_later`, in the writer threads' order.
// Whatever else the name holds (a link, a device, a pipe) is written through.
bool open_output(picture_output& output, const std::string& path, text create_error,
                 bool keep_existing);
// Where a file that takes the place of another is written until it is whole: its path and this.
inline constexpr char replacement_suffix[] = ".part";
std::string replacement_path(const std::string& path);
// Writes the pieces in order, straight from where they lie.
void write_output(picture_output& output, const std::string& path, const byte_piece* pieces,
                  std::size_t count);
// Writes `head`, then `height` rows of `row_bytes` each from `rows`, bottom row first, each
// padded with zero bytes to a multiple of 4.
void write_rows_bottom_up(picture_output& output, const std::string& path, byte_piece head,
                          const std::uint8_t* rows, std::size_t row_bytes, std::int32_t height);
// Closes the output's stream and, when replacing, puts the new file in the old one's place. A
// picture that could not be written completely is removed (the old file, if any, stays), and the
// run ends with "file write error!".
void close_output(picture_output& output, const std::string& path);
