// The two bitmap writers: 24-bit for direct-colour frames, 8-bit with a colour table for
// palette frames. Both write the frame held in pixel_buffer (image_width x image_height).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/state.hpp"

// Turns `pixel_count` big-endian colour words at the start of `pixels` into 3-byte
// blue-green-red pixels in place. Works from the end so no word is overwritten unread.
void expand_colour_words(std::uint8_t* pixels, std::size_t pixel_count);

// Largest frames the writers accept, so the pixels stay inside pixel_buffer.
bool direct_frame_fits(std::int64_t width, std::int64_t height);
bool indexed_frame_fits(std::int64_t width, std::int64_t height);

// Writes the colour words in pixel_buffer as a 24-bit bitmap named after the base name and
// counter; pixel_buffer is left holding the 24-bit pixels.
void write_direct_bitmap(extraction_state& state, const std::string& base_name,
                         std::int32_t frame_counter);

// Writes the palette indices in pixel_buffer as an 8-bit bitmap with the colour table
// made from `palette`.
void write_indexed_bitmap(extraction_state& state, const std::string& base_name,
                          std::int32_t frame_counter);
