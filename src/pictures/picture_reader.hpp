// Pictures read back from BMP and PNG files, for putting edited pictures into an archive. The
// files come from anywhere: every field is checked against the bytes there, and a picture is
// only given when it is one of the kinds listed in picture_reader.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/byte_view.hpp"
#include "common/picture.hpp"

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
