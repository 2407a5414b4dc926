#include "archive/palette_fitting.hpp"

#include <algorithm>
#include <cstring>

#include "common/colour.hpp"
#include "common/texts.hpp"

namespace {

constexpr std::size_t colour_keys = 1 << 15;
constexpr std::int32_t no_slot = -1;

// A colour as a colour word keeps it: the top five bits of each channel.
std::uint16_t key_of(const std::uint8_t* colour) {
  return colour_word_of(colour[0], colour[1], colour[2]);
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

// Sets a colour word, keeping its unused bit 15 as the record had it.
void put_key(std::uint8_t* word, std::uint16_t key) {
  word[0] = static_cast<std::uint8_t>((word[0] & 0x80) | key >> 8);
  word[1] = static_cast<std::uint8_t>(key);
}
void put_word(std::uint8_t* word, const std::uint8_t* colour) {
  put_key(word, key_of(colour));
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
// colour of the record, then the slots taken by new colours (or, for those left without one,
// the nearest colour).
struct colour_lookup {
  std::vector<std::int32_t> slot = std::vector<std::int32_t>(colour_keys, no_slot);
  std::array<bool, 256> used{};
  // The keys the record lacks, in the order first met; each with the frame that met it first,
  // the pixels using it, and the squared distance to the colour it took when that is not its
  // own (-1 while it is).
  std::vector<std::int32_t> missing_at = std::vector<std::int32_t>(colour_keys, -1);
  std::vector<std::uint16_t> missing;
  std::vector<std::size_t> first_frame;
  std::vector<std::uint32_t> pixels;
  std::vector<std::int32_t> distance;
};

// A colour as 0xRRGGBB, with the channels a colour word keeps.
std::uint32_t rgb_value(std::uint16_t key) {
  return std::uint32_t{colour_red(key)} << 16 | std::uint32_t{colour_green(key)} << 8 |
         colour_blue(key);
}

// "#F8F8F8": a colour as 0xRRGGBB in hexadecimal digits.
std::string hex_colour(std::uint32_t rgb) {
  static constexpr char digits[] = "0123456789ABCDEF";
  std::string text = "#";
  for (int shift = 20; shift >= 0; shift -= 4) {
    text += digits[(rgb >> shift) & 15];
  }
  return text;
}

// The lacking colours, those most pixels use first (of equal ones, the lower value).
std::vector<std::size_t> most_used_first(const colour_lookup& lookup) {
  std::vector<std::size_t> order(lookup.missing.size());
  for (std::size_t m = 0; m < order.size(); ++m) {
    order[m] = m;
  }
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return lookup.pixels[a] != lookup.pixels[b]
               ? lookup.pixels[a] > lookup.pixels[b]
               : rgb_value(lookup.missing[a]) < rgb_value(lookup.missing[b]);
  });
  return order;
}

// Why the changed frames cannot be put back: the colours they lack, the most used named, and
// what to do about them.
std::string lacking_colours(const colour_lookup& lookup, std::size_t free) {
  constexpr std::size_t named = 3;
  const std::size_t count = lookup.missing.size();
  const std::vector<std::size_t> order = most_used_first(lookup);
  std::string why = "needs " + grouped(static_cast<std::int64_t>(count)) +
                    (count == 1 ? " colour" : " colours") + " the record's palette lacks (";
  for (std::size_t k = 0; k < count && k < named; ++k) {
    const std::uint32_t pixels = lookup.pixels[order[k]];
    why += (k == 0 ? "" : ", ") + hex_colour(rgb_value(lookup.missing[order[k]])) + " in " +
           grouped(pixels) +
           (k > 0         ? ""
            : pixels == 1 ? " pixel"
                          : " pixels");
  }
  if (count > named) {
    why += ", and " + grouped(static_cast<std::int64_t>(count - named)) + " more";
  }
  return why + "); " + grouped(static_cast<std::int64_t>(free)) +
         (free == 1 ? " slot is free" : " slots are free") +
         ": draw without anti-aliasing in the picture's own colours, or add --nearest";
}

// Maps the pixels of a changed frame to indices of colours the record has, and notes the
// colours it lacks (their pixels are mapped once they have slots).
void map_known_colours(fitted_frame& frame, std::size_t frame_at,
                       const std::vector<std::uint8_t>& own, colour_lookup& lookup) {
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
      frame.needs_new = true;
      if (lookup.missing_at[key] < 0) {
        lookup.missing_at[key] = static_cast<std::int32_t>(lookup.missing.size());
        lookup.missing.push_back(key);
        lookup.first_frame.push_back(frame_at);
        lookup.pixels.push_back(0);
        lookup.distance.push_back(-1);
        ++frame.slots_added;
      }
      ++lookup.pixels[static_cast<std::size_t>(lookup.missing_at[key])];
      continue;
    }
    frame.indices[i] = static_cast<std::uint8_t>(index);
    lookup.used[static_cast<std::size_t>(index)] = true;
  }
}

void map_new_colours(fitted_frame& frame, const std::vector<std::uint8_t>& own,
                     const colour_lookup& lookup) {
  const pixel_keys keys(*frame.given, own);
  const std::size_t count = frame.indices.size();
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint16_t key = keys.at(i);
    const std::int32_t m = lookup.missing_at[key];
    if (m >= 0 && !(same_size(frame) && key_of(&own[3 * (*frame.original)[i]]) == key)) {
      frame.indices[i] = static_cast<std::uint8_t>(lookup.slot[key]);
      const std::int32_t distance = lookup.distance[static_cast<std::size_t>(m)];
      if (distance >= 0) {
        ++frame.moved;
        frame.farthest = std::max(frame.farthest, distance);
      }
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

// The index of the colour nearest to `key` among `colours` (red, green, blue), the lowest of
// equally near ones, and its squared distance.
std::pair<std::int32_t, std::int32_t> nearest_colour(std::uint16_t key,
                                                     const std::vector<std::uint8_t>& colours) {
  const int red = colour_red(key);
  const int green = colour_green(key);
  const int blue = colour_blue(key);
  std::pair<std::int32_t, std::int32_t> best{0, -1};
  for (std::int32_t i = 0; i < 256; ++i) {
    const std::uint8_t* colour = &colours[3 * static_cast<std::size_t>(i)];
    const int distance = (red - colour[0]) * (red - colour[0]) +
                         (green - colour[1]) * (green - colour[1]) +
                         (blue - colour[2]) * (blue - colour[2]);
    if (best.second < 0 || distance < best.second) {
      best = {i, distance};
    }
  }
  return best;
}

// More lacking colours than free slots, and nearest colours allowed: those most pixels use take
// the slots in that order, then each other takes the nearest colour of the palette so written.
void give_nearest_colours(std::array<std::uint8_t, palette_size>& words,
                          std::vector<fitted_frame>& frames, colour_lookup& lookup,
                          const std::vector<std::int32_t>& slots) {
  const std::vector<std::size_t> order = most_used_first(lookup);
  for (std::size_t k = 0; k < slots.size(); ++k) {
    const std::uint16_t key = lookup.missing[order[k]];
    lookup.slot[key] = slots[k];
    put_key(&words[2 * static_cast<std::size_t>(slots[k])], key);
  }
  const std::vector<std::uint8_t> written = palette_colours(words.data());
  for (std::size_t k = slots.size(); k < order.size(); ++k) {
    const std::size_t m = order[k];
    const auto [index, distance] = nearest_colour(lookup.missing[m], written);
    lookup.slot[lookup.missing[m]] = index;
    lookup.distance[m] = distance;
    --frames[lookup.first_frame[m]].slots_added;
  }
}

bool match_colours(std::array<std::uint8_t, palette_size>& words, std::vector<fitted_frame>& frames,
                   const std::vector<std::uint8_t>& own, bool nearest) {
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
  for (std::size_t k = 0; k < frames.size(); ++k) {
    if (frames[k].changed && !frames[k].takes_given) {
      map_known_colours(frames[k], k, own, lookup);
    }
  }
  if (lookup.missing.empty()) { // no colour needs a slot
    return true;
  }
  const std::vector<std::int32_t> slots = free_slots(frames, lookup.used);
  if (lookup.missing.size() <= slots.size()) { // each takes a slot, in the order first met
    for (std::size_t k = 0; k < lookup.missing.size(); ++k) {
      lookup.slot[lookup.missing[k]] = slots[k];
      put_key(&words[2 * static_cast<std::size_t>(slots[k])], lookup.missing[k]);
    }
  } else if (nearest) {
    give_nearest_colours(words, frames, lookup, slots);
  } else {
    const std::string why = lacking_colours(lookup, slots.size());
    for (fitted_frame& frame : frames) {
      if (frame.needs_new) {
        frame.refusal = why;
      }
    }
    return false;
  }
  for (fitted_frame& frame : frames) {
    if (frame.changed && !frame.takes_given) {
      map_new_colours(frame, own, lookup);
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
                    std::vector<fitted_frame>& frames, bool nearest) {
  const std::vector<std::uint8_t> own = palette_colours(words.data());
  for (fitted_frame& frame : frames) {
    frame.rounded = frame.changed && colours_lose_bits(*frame.given);
  }
  if (recolours_whole_record(frames, own)) {
    recolour(words, frames, own);
    return true;
  }
  return match_colours(words, frames, own, nearest);
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
