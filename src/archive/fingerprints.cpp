#include <cstring>

#include "archive/rebuild_steps.hpp"

namespace {

// Folds bytes into a 64-bit fingerprint: four lanes of eight bytes a step, so the multiplies
// overlap. Each step is invertible, so two inputs that differ in a single place never share a
// fingerprint.
std::uint64_t fold(std::uint64_t hash, const std::uint8_t* bytes, std::size_t count) {
  constexpr std::uint64_t odd_multiplier = 0x9E3779B97F4A7C15;
  const auto step = [](std::uint64_t lane, std::uint64_t word) {
    lane = (lane ^ word) * odd_multiplier;
    return lane ^ lane >> 29;
  };
  std::uint64_t lanes[4] = {hash, hash + 1, hash + 2, hash + 3};
  std::size_t at = 0;
  for (; at + 32 <= count; at += 32) {
    for (int lane = 0; lane < 4; ++lane) {
      std::uint64_t word = 0;
      std::memcpy(&word, bytes + at + 8 * lane, 8);
      lanes[lane] = step(lanes[lane], word);
    }
  }
  std::uint64_t tail = count;
  for (; at < count; ++at) {
    tail = tail << 8 | bytes[at];
    if ((count - at) % 8 == 1) {
      lanes[0] = step(lanes[0], tail);
    }
  }
  // Each lane is mixed before the next joins it: the same change in two lanes does not cancel.
  return step(step(step(step(step(hash, lanes[0]), lanes[1]), lanes[2]), lanes[3]), tail);
}

std::uint64_t fingerprint_of(const picture_place& where, picture_status status, std::int32_t width,
                             std::int32_t height, const std::vector<std::uint8_t>& pixels,
                             const std::vector<std::uint8_t>& palette) {
  const std::int32_t head[] = {static_cast<std::int32_t>(where.kind), where.counter, where.entry,
                               static_cast<std::int32_t>(status),     width,         height};
  const std::uint64_t hash = fold(0, reinterpret_cast<const std::uint8_t*>(head), sizeof head);
  return fold(fold(hash, pixels.data(), pixels.size()), palette.data(), palette.size());
}

} // namespace

std::uint64_t fingerprint_of(const shown_picture& shown) {
  return fingerprint_of(shown.where, shown.status, shown.width, shown.height, shown.pixels,
                        shown.palette);
}

void expect(insertion& work, const shown_picture& shown, const std::vector<std::uint8_t>& pixels,
            std::int32_t width, std::int32_t height, const std::vector<std::uint8_t>& palette) {
  work.expected.push_back(
      fingerprint_of(shown.where, shown.status, width, height, pixels, palette));
}

void expect_unchanged(insertion& work, const std::vector<shown_picture>& shown) {
  for (const shown_picture& picture : shown) {
    work.expected.push_back(fingerprint_of(picture));
  }
}
