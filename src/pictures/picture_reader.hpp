// Pictures read back from BMP and PNG files, for putting edited pictures into an archive. The
// files come from anywhere: every field is checked against the bytes there, and a picture is
// only given when it is one of the kinds listed in picture_reader.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/byte_view.hpp"

// A picture read back from a file, rows top row first.
struct picture_pixels {
  std::int32_t width = 0;
  std::int32_t height = 0;
  bool indexed = false;              // palette indices with a palette; else red, green, blue
  std::vector<std::uint8_t> pixels;  // indexed: one index a pixel; else 3 bytes a pixel: R, G, B
  std::vector<std::uint8_t> palette; // indexed: R, G, B of each colour the file gives (0..256)
};

// The largest file read_picture_file reads.
inline constexpr std::size_t largest_picture_file = 16 * 1024 * 1024;

// Decodes the bytes of a BMP or a PNG file, told apart by their signature, not by any name.
// False, with `why` saying in a few words what is wrong or not supported and what to do about
// it ("...: save as 8-bit palette or 24-bit RGB"), for anything else.
// A picture of more than `most_pixels` pixels is refused ("larger than the tool's buffers: ...")
// before any buffer for it is allocated.
bool decode_picture(const byte_view& file, std::size_t most_pixels, picture_pixels& picture,
                    std::string& why);

// Reads the whole file (refusing files over 16 MiB) and decodes it; `why` names the failure.
bool read_picture_file(const std::string& path, std::size_t most_pixels, picture_pixels& picture,
                       std::string& why);
