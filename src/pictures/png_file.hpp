// PNG files: 8-bit palette pictures (colour type 3) and 24-bit direct-colour ones (colour
// type 2), holding exactly the colours and pixels of the bitmaps the tool writes. The framing
// is ours; zlib deflates the rows and computes the chunk checksums.
#pragma once

#include <cstdint>
#include <string>

#include "common/picture.hpp"
#include "common/state.hpp"

// Writes the picture's big-endian colour words as an RGB PNG. A picture without pixels cannot
// be a PNG: it gives no file.
void write_direct_png(const output_options& files, picture_output& output,
                      const std::string& base_name, const picture& shown);

// Writes the picture's palette indices as a palette PNG whose PLTE holds all 256 colours of its
// palette.
void write_indexed_png(const output_options& files, picture_output& output,
                       const std::string& base_name, const picture& shown);
