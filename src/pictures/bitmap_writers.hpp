// The two bitmap writers: 24-bit for direct-colour frames, 8-bit with a colour table for
// palette frames. Both write an image_width x image_height frame, rows top row first, straight
// from where its pixels lie.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/state.hpp"

// Largest frames the tool accepts: as many 24-bit pixels, or palette indices, as pixel_buffer
// holds bytes.
bool direct_frame_fits(std::int64_t width, std::int64_t height);
bool indexed_frame_fits(std::int64_t width, std::int64_t height);

// Writes the big-endian colour words at `colour_words` as a 24-bit bitmap named after the base
// name and counter.
void write_direct_bitmap(extraction_state& state, const std::string& base_name,
                         std::int32_t frame_counter, const std::uint8_t* colour_words);

// Writes the palette indices at `indices` as an 8-bit bitmap with the colour table made from
// `palette`.
void write_indexed_bitmap(extraction_state& state, const std::string& base_name,
                          std::int32_t frame_counter, const std::uint8_t* indices);
