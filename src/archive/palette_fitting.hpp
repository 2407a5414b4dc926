// Fitting pictures given for a palette record (a frame bank or a screen bank) to the record's
// 256 colours. Paint programs save a picture with its palette reordered, completed, or reduced
// to the colours used, so colours decide, not indices: a pixel keeps the colour it is given
// (rounded to what a colour word holds), and no picture that was not given changes colour.
//
// - A picture whose colours equal the original's is unchanged, whatever its indices.
// - When every picture of the record is given with one palette that differs from the record's,
//   that palette becomes the record's and the indices are taken as they are (a whole bank
//   recoloured).
// - Else each changed picture: with the record's palette, its indices as they are; otherwise
//   each pixel takes an index of its colour (the original pixel's where it has that colour, else
//   the lowest), and colours the palette lacks take the slots no picture of the record uses
//   after the edit. When they need more new colours than there are free slots, they are refused;
//   or, when the caller allows nearest colours, the new colours most pixels use take the slots
//   and each other new colour becomes the nearest colour of the palette as it is written.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "common/picture.hpp"
#include "common/state.hpp"

// One frame of the record: the original and, perhaps, the picture given for it.
struct fitted_frame {
  std::int32_t width = 0; // the original's size and palette indices
  std::int32_t height = 0;
  const std::vector<std::uint8_t>* original = nullptr;
  const picture_pixels* given = nullptr; // null when none is given
  bool changed = false;                  // given, with colours other than the original's

  // What fitting decides: the frame's indices after insertion (those given as they stand, or
  // `indices`, or where that is empty the original's), the palette slots its colours took,
  // whether a colour it was given lost low bits, and why it cannot be put back (empty when it
  // can).
  bool takes_given = false;
  std::vector<std::uint8_t> indices;
  std::int32_t slots_added = 0;
  bool rounded = false;
  std::string refusal;
  bool needs_new = false;    // uses a colour the record lacks
  std::int32_t moved = 0;    // pixels given the nearest colour instead of their own
  std::int32_t farthest = 0; // of those, the largest squared distance to the colour taken
};

// Whether the picture given shows the colours of the original picture (palette indices into
// `colours`, 3 bytes each, or red, green, blue for direct colour) once rounded.
bool shows_same_colours(const picture_pixels& given, std::int32_t width, std::int32_t height,
                        const std::vector<std::uint8_t>& original,
                        const std::vector<std::uint8_t>& colours);

// Whether any colour a pixel of the picture uses loses low bits in a colour word.
bool colours_lose_bits(const picture_pixels& given);

// Fits the changed frames to the record whose colour words are `words` (updated in place).
// False, with `refusal` set on every frame using a colour that does not fit, when it cannot;
// with `nearest` it always can.
bool fit_to_palette(std::array<std::uint8_t, palette_size>& words,
                    std::vector<fitted_frame>& frames, bool nearest = false);

// A palette or grey picture as red, green, blue pixels. False when a pixel's index lies beyond
// its palette.
bool expand_to_rgb(picture_pixels& picture, std::string& why);
