// PNG files: 8-bit palette pictures (colour type 3) and 24-bit direct-colour ones (colour
// type 2), holding exactly the colours and pixels of the bitmaps the tool writes. The framing
// is ours; zlib deflates the rows and computes the chunk checksums.
#pragma once

#include <cstdint>
#include <string>

#include "common/state.hpp"

// Writes the big-endian colour words at `colour_words` (image_width x image_height) as an RGB
// PNG. A picture without pixels cannot be a PNG: it gives no file.
void write_direct_png(extraction_state& state, const std::string& base_name,
                      std::int32_t frame_counter, const std::uint8_t* colour_words);

// Writes the palette indices at `indices` as a palette PNG whose PLTE holds all 256 colours
// of `palette`.
void write_indexed_png(extraction_state& state, const std::string& base_name,
                       std::int32_t frame_counter, const std::uint8_t* indices);
