#include "archive/palette_fitting.hpp"

#include <algorithm>
#include <cstring>

#include "common/colour.hpp"

namespace {

constexpr std::size_t colour_keys = 1 << 15;
constexpr std::int32_t no_slot = -1;

// A colour as a colour word keeps it: the top five bits of each channel.
std::uint16_t key_of(const std::uint8_t* colour) {
  return colour_word_of(colour[0], colour[1], colour[2]);
}

// The colour of pixel `i` as given: a palette picture's colours are those of its palette,
// completed with the record's own where its palette is shorter.
const std::uint8_t* given_colour(const picture_pixels& given, std::size_t i,
                                 const std::vector<std::uint8_t>& own) {
  if (!given.indexed) {
    return &given.pixels[3 * i];
  }
  const std::size_t index = given.pixels[i];
  return 3 * index < given.palette.size() ? &given.palette[3 * index] : &own[3 * index];
}

// The record's 256 colours as colour words keep them.
std::vector<std::uint16_t> keys_of(const std::vector<std::uint8_t>& own) {
  std::vector<std::uint16_t> keys(256);
  for (std::size_t i = 0; i < 256; ++i) {
    keys[i] = key_of(&own[3 * i]);
  }
  return keys;
}

// The picture's palette completed with the record's colours, as colour words keep them.
std::vector<std::uint16_t> palette_keys(const picture_pixels& given,
                                        const std::vector<std::uint8_t>& own) {
  std::vector<std::uint16_t> keys(256);
  for (std::size_t i = 0; i < 256; ++i) {
    keys[i] = key_of(3 * i < given.palette.size() ? &given.palette[3 * i] : &own[3 * i]);
  }
  return keys;
}

// The colour keys of a picture's pixels: through its completed palette for palette pictures.
struct pixel_keys {
  const picture_pixels& given;
  std::vector<std::uint16_t> palette;
  pixel_keys(const picture_pixels& picture, const std::vector<std::uint8_t>& own)
      : given(picture),
        palette(picture.indexed ? palette_keys(picture, own) : std::vector<std::uint16_t>()) {}
  std::uint16_t at(std::size_t i) const {
    return given.indexed ? palette[given.pixels[i]] : key_of(&given.pixels[3 * i]);
  }
};

// Pictures with the record's own palette, as extraction writes them: only where the indices
// differ (looked for a block at a time) may the colours differ.
bool same_colours_in_own_palette(const std::vector<std::uint8_t>& given,
                                 const std::vector<std::uint8_t>& original,
                                 const std::vector<std::uint16_t>& own) {
  if (given == original) { // the usual case: the picture as extraction wrote it
    return true;
  }
  constexpr std::size_t block = 64;
  for (std::size_t at = 0; at < original.size(); at += block) {
    const std::size_t count = std::min(block, original.size() - at);
    if (std::memcmp(&given[at], &original[at], count) == 0) {
      continue;
    }
    for (std::size_t i = at; i < at + count; ++i) {
      if (own[given[i]] != own[original[i]]) {
        return false;
      }
    }
  }
  return true;
}

bool same_size(const fitted_frame& frame) {
  return frame.given->width == frame.width && frame.given->height == frame.height;
}

// Every picture of the record given, all with one palette: it becomes the record's.
bool recolours_whole_record(const std::vector<fitted_frame>& frames,
                            const std::vector<std::uint8_t>& own) {
  std::vector<std::uint16_t> keys;
  for (const fitted_frame& frame : frames) {
    if (frame.given == nullptr || !frame.given->indexed) {
      return false;
    }
    const std::vector<std::uint16_t> these = palette_keys(*frame.given, own);
    if (&frame != &frames.front() && these != keys) {
      return false;
    }
    keys = these;
  }
  return !frames.empty() && keys != keys_of(own);
}

void put_word(std::uint8_t* word, const std::uint8_t* colour) {
  const std::uint32_t kept_bit = word[0] & 0x80;
  const std::uint16_t value = colour_word_of(colour[0], colour[1], colour[2]);
  word[0] = static_cast<std::uint8_t>(kept_bit | value >> 8);
  word[1] = static_cast<std::uint8_t>(value);
}

void recolour(std::array<std::uint8_t, palette_size>& words, std::vector<fitted_frame>& frames,
              const std::vector<std::uint8_t>& own) {
  const picture_pixels& first = *frames.front().given;
  for (std::size_t i = 0; 3 * i < first.palette.size() && i < 256; ++i) {
    if (key_of(&first.palette[3 * i]) != key_of(&own[3 * i])) {
      put_word(&words[2 * i], &first.palette[3 * i]);
    }
  }
  for (fitted_frame& frame : frames) {
    frame.takes_given = true;
  }
}

// The colours of the record after insertion, looked up by key: the lowest index of each
// colour of the record, then the slots taken by new colours.
struct colour_lookup {
  std::vector<std::int32_t> slot = std::vector<std::int32_t>(colour_keys, no_slot);
  std::array<bool, 256> used{};
  std::vector<std::uint16_t> missing; // keys the record lacks, in the order first met
  std::vector<const std::uint8_t*> missing_colour;
};

// Maps the pixels of a changed frame to indices of colours the record has, and notes the
// colours it lacks (their pixels are mapped once they have slots).
void map_known_colours(fitted_frame& frame, const std::vector<std::uint8_t>& own,
                       colour_lookup& lookup, std::vector<bool>& pending) {
  const picture_pixels& given = *frame.given;
  const pixel_keys keys(given, own);
  const std::size_t count = given.pixels.size() / (given.indexed ? 1 : 3);
  const bool keeps_places = same_size(frame);
  frame.indices.assign(count, 0);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint16_t key = keys.at(i);
    std::int32_t index = lookup.slot[key];
    if (keeps_places && key_of(&own[3 * (*frame.original)[i]]) == key) {
      index = (*frame.original)[i];
    }
    if (index == no_slot) {
      if (!pending[key]) {
        pending[key] = true;
        lookup.missing.push_back(key);
        lookup.missing_colour.push_back(given_colour(given, i, own));
        ++frame.slots_added;
      }
      continue;
    }
    frame.indices[i] = static_cast<std::uint8_t>(index);
    lookup.used[static_cast<std::size_t>(index)] = true;
  }
}

void map_new_colours(fitted_frame& frame, const std::vector<std::uint8_t>& own,
                     const colour_lookup& lookup, const std::vector<bool>& pending) {
  const pixel_keys keys(*frame.given, own);
  const std::size_t count = frame.indices.size();
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint16_t key = keys.at(i);
    if (pending[key] && !(same_size(frame) && key_of(&own[3 * (*frame.original)[i]]) == key)) {
      frame.indices[i] = static_cast<std::uint8_t>(lookup.slot[key]);
    }
  }
}

// The slots no picture of the record uses after the edit: not by the frames left as they are,
// nor by those taking the record's palette, nor by the colours the others were mapped to.
std::vector<std::int32_t> free_slots(const std::vector<fitted_frame>& frames,
                                     std::array<bool, 256>& used) {
  for (const fitted_frame& frame : frames) {
    if (!frame.changed || frame.takes_given) {
      for (const std::uint8_t index : frame.changed ? frame.given->pixels : *frame.original) {
        used[index] = true;
      }
    }
  }
  std::vector<std::int32_t> slots;
  for (std::int32_t i = 0; i < 256; ++i) {
    if (!used[static_cast<std::size_t>(i)]) {
      slots.push_back(i);
    }
  }
  return slots;
}

bool match_colours(std::array<std::uint8_t, palette_size>& words, std::vector<fitted_frame>& frames,
                   const std::vector<std::uint8_t>& own) {
  // Pictures with the record's own palette keep their indices; the usual case needs no more.
  const std::vector<std::uint16_t> own_keys = keys_of(own);
  bool all_as_given = true;
  for (fitted_frame& frame : frames) {
    frame.takes_given =
        frame.changed && frame.given->indexed && palette_keys(*frame.given, own) == own_keys;
    all_as_given = all_as_given && (!frame.changed || frame.takes_given);
  }
  if (all_as_given) {
    return true;
  }
  colour_lookup lookup;
  for (std::int32_t i = 255; i >= 0; --i) {
    lookup.slot[key_of(&own[3 * static_cast<std::size_t>(i)])] = i;
  }
  std::vector<bool> pending(colour_keys, false);
  for (fitted_frame& frame : frames) {
    if (frame.changed && !frame.takes_given) {
      map_known_colours(frame, own, lookup, pending);
    }
  }
  if (lookup.missing.empty()) { // no colour needs a slot
    return true;
  }
  const std::vector<std::int32_t> slots = free_slots(frames, lookup.used);
  if (lookup.missing.size() > slots.size()) {
    for (fitted_frame& frame : frames) {
      if (frame.slots_added > 0) {
        frame.refusal = "needs " + std::to_string(lookup.missing.size()) +
                        " colours the record's palette lacks; " + std::to_string(slots.size()) +
                        " slots are free";
      }
    }
    return false;
  }
  for (std::size_t k = 0; k < lookup.missing.size(); ++k) {
    lookup.slot[lookup.missing[k]] = slots[k];
    put_word(&words[2 * static_cast<std::size_t>(slots[k])], lookup.missing_colour[k]);
  }
  for (fitted_frame& frame : frames) {
    if (frame.changed && !frame.takes_given) {
      map_new_colours(frame, own, lookup, pending);
    }
  }
  return true;
}

} // namespace

bool shows_same_colours(const picture_pixels& given, std::int32_t width, std::int32_t height,
                        const std::vector<std::uint8_t>& original,
                        const std::vector<std::uint8_t>& colours) {
  if (given.width != width || given.height != height) {
    return false;
  }
  // Differences are gathered rather than returned at the first: the loops then run unbranched.
  unsigned differences = 0;
  if (colours.empty()) { // direct colour: the original's channels have their low bits clear
    if (given.indexed || given.pixels.size() != original.size()) {
      return false;
    }
    if (given.pixels == original) { // the usual case: the picture as extraction wrote it
      return true;
    }
    for (std::size_t i = 0; i < original.size(); ++i) {
      differences |= (given.pixels[i] & 0xF8u) ^ original[i];
    }
    return differences == 0;
  }
  const std::vector<std::uint16_t> own = keys_of(colours);
  const pixel_keys keys(given, colours);
  if (given.indexed && keys.palette == own) {
    return same_colours_in_own_palette(given.pixels, original, own);
  }
  if (given.indexed) {
    for (std::size_t i = 0; i < original.size(); ++i) {
      differences |= keys.palette[given.pixels[i]] ^ own[original[i]];
    }
  } else {
    for (std::size_t i = 0; i < original.size(); ++i) {
      differences |= key_of(&given.pixels[3 * i]) ^ own[original[i]];
    }
  }
  return differences == 0;
}

bool colours_lose_bits(const picture_pixels& given) {
  if (!given.indexed) {
    unsigned bits = 0;
    for (const std::uint8_t channel : given.pixels) {
      bits |= channel;
    }
    return (bits & 7) != 0;
  }
  const auto loses = [&](std::size_t i) {
    const std::uint8_t* colour = &given.palette[3 * i];
    return loses_bits(colour[0], colour[1], colour[2]);
  };
  bool any_loses = false;
  for (std::size_t i = 0; 3 * i < given.palette.size(); ++i) {
    any_loses = any_loses || loses(i);
  }
  if (!any_loses) { // the usual case: no pixel needs looking at
    return false;
  }
  std::array<bool, 256> used{};
  for (const std::uint8_t index : given.pixels) {
    used[index] = true;
  }
  for (std::size_t i = 0; 3 * i < given.palette.size(); ++i) {
    if (used[i] && loses(i)) {
      return true;
    }
  }
  return false;
}

bool fit_to_palette(std::array<std::uint8_t, palette_size>& words,
                    std::vector<fitted_frame>& frames) {
  const std::vector<std::uint8_t> own = palette_colours(words.data());
  for (fitted_frame& frame : frames) {
    frame.rounded = frame.changed && colours_lose_bits(*frame.given);
  }
  if (recolours_whole_record(frames, own)) {
    recolour(words, frames, own);
    return true;
  }
  return match_colours(words, frames, own);
}

bool expand_to_rgb(picture_pixels& picture, std::string& why) {
  if (!picture.indexed) {
    return true;
  }
  std::vector<std::uint8_t> pixels(3 * picture.pixels.size());
  for (std::size_t i = 0; i < picture.pixels.size(); ++i) {
    const std::size_t index = picture.pixels[i];
    if (3 * index + 3 > picture.palette.size()) {
      why = "a pixel uses colour " + std::to_string(index) +
            ", which its palette does not hold: save it again in a paint program";
      return false;
    }
    std::memcpy(&pixels[3 * i], &picture.palette[3 * index], 3);
  }
  picture.pixels = std::move(pixels);
  picture.palette.clear();
  picture.indexed = false;
  return true;
}
