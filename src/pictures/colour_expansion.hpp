// Turning 16-bit colour words into 3-byte pixels: blue-green-red for bitmaps, red-green-blue
// for PNG. Vector paths do the same as the word-by-word one, many pixels a step.
#pragma once

#include <cstddef>
#include <cstdint>

enum class channel_order { blue_green_red, red_green_blue };
enum class expansion_path { scalar, sse2, avx2 };

// Whether this build and this processor can take the path.
bool expansion_path_available(expansion_path path);
// The fastest available path, asked of the processor once.
expansion_path best_expansion_path();

// Expands `count` big-endian colour words at `words` into 3 * count bytes at `target`; the
// two must not overlap.
void expand_colour_words(const std::uint8_t* words, std::size_t count, std::uint8_t* target,
                         channel_order order, expansion_path path);
inline void expand_colour_words(const std::uint8_t* words, std::size_t count, std::uint8_t* target,
                                channel_order order) {
  expand_colour_words(words, count, target, order, best_expansion_path());
}
