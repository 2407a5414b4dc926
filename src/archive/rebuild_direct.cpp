#include <algorithm>
#include <cstring>

#include "archive/rebuild_steps.hpp"
#include "common/colour.hpp"

namespace {

// The record's colour words for the picture given. At the original size each pixel starts from
// the original word, and a pixel of the same colour keeps it, bit 15 included: runs of them are
// passed over a block at a time.
void put_colour_words(const frame_work& frame, const byte_view& original,
                      const std::vector<std::uint8_t>& rounded, std::uint8_t* words) {
  const picture_pixels& given = frame.given;
  const bool same_size = given.width == frame.shown->width && given.height == frame.shown->height;
  const std::size_t count = given.pixels.size() / 3;
  if (same_size) {
    std::memcpy(words, original.bytes + direct_pixels_at, colour_word_size * count);
  }
  const std::uint8_t* before = frame.shown->pixels.data();
  constexpr std::size_t block = 64;
  for (std::size_t first = 0; first < count; first += block) {
    const std::size_t end = std::min(count, first + block);
    if (same_size && std::memcmp(&rounded[3 * first], before + 3 * first, 3 * (end - first)) == 0) {
      continue;
    }
    for (std::size_t i = first; i < end; ++i) {
      if (same_size && std::memcmp(&rounded[3 * i], before + 3 * i, 3) == 0) {
        continue;
      }
      const std::uint8_t* colour = &given.pixels[3 * i];
      const std::uint32_t word =
          (words[2 * i] & 0x80) << 8 | colour_word_of(colour[0], colour[1], colour[2]);
      words[2 * i] = static_cast<std::uint8_t>(word >> 8);
      words[2 * i + 1] = static_cast<std::uint8_t>(word);
    }
  }
}

} // namespace

byte_vector rebuild_direct_frame(insertion& work, record_work& record,
                                 const std::vector<shown_picture>& shown) {
  frame_work& frame = record.frames.front();
  const picture_pixels& given = frame.given;
  if (frame.changed && too_large(given.width, given.height, true)) {
    refuse(work, frame, "larger than the tool's buffers allow: make it smaller");
  }
  if (!frame.changed) {
    expect_unchanged(work, shown);
    return {};
  }
  byte_vector rebuilt(record.original.bytes, record.original.bytes + direct_width_at);
  append_u16be(rebuilt, static_cast<std::uint32_t>(given.width));
  append_u16be(rebuilt, static_cast<std::uint32_t>(given.height));
  rebuilt.resize(direct_pixels_at + colour_word_size * (given.pixels.size() / 3));
  // What the new pair shows: each channel's top five bits.
  std::vector<std::uint8_t> rounded(given.pixels.size());
  std::transform(given.pixels.begin(), given.pixels.end(), rounded.begin(),
                 [](std::uint8_t channel) { return static_cast<std::uint8_t>(channel & 0xF8); });
  put_colour_words(frame, record.original, rounded, rebuilt.data() + direct_pixels_at);
  frame.fit.rounded = colours_lose_bits(given);
  expect(work, *frame.shown, rounded, given.width, given.height, {});
  return rebuilt;
}
