#include "archive/record_writing.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#include "archive/archive.hpp"

namespace {

constexpr std::uint64_t every_byte = 0x0101010101010101;

// Eight bytes, the first in the lowest bits.
std::uint64_t load_word(const std::uint8_t* bytes) {
  std::uint64_t word = 0;
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(&word, bytes, sizeof word);
  } else {
    for (int i = 7; i >= 0; --i) {
      word = word << 8 | bytes[i];
    }
  }
  return word;
}

// The place of the lowest zero byte of `word` (8 when none). The borrow of the subtraction only
// runs upwards, so the lowest byte flagged is a zero byte.
unsigned lowest_zero_byte(std::uint64_t word) {
  return static_cast<unsigned>(std::countr_zero((word - every_byte) & ~word & every_byte << 7)) / 8;
}

// How many bytes from `at` equal the one there, at most `limit`. Eight bytes a step while they
// all equal it, then byte by byte.
std::size_t equal_run(const std::uint8_t* bytes, std::size_t count, std::size_t at,
                      std::size_t limit) {
  const std::uint64_t repeated = bytes[at] * every_byte;
  std::size_t length = 1;
  while (at + length + 8 <= count && length + 8 <= limit &&
         load_word(bytes + at + length) == repeated) {
    length += 8;
  }
  while (at + length < count && length < limit && bytes[at + length] == bytes[at]) {
    ++length;
  }
  return length;
}

// Where a literal that has reached `at` ends: before the first byte from `at` on that equals the
// one after it, at most `limit` bytes after `start`, or at `count`.
std::size_t literal_end(const std::uint8_t* bytes, std::size_t count, std::size_t start,
                        std::size_t at, std::size_t limit) {
  // Eight places a step: a zero byte in the difference of two neighbouring words is a pair.
  while (at + 9 <= count && at - start + 8 <= limit) {
    const unsigned pair = lowest_zero_byte(load_word(bytes + at) ^ load_word(bytes + at + 1));
    at += pair;
    if (pair < 8) {
      return at;
    }
  }
  while (at < count && at - start < limit && (at + 1 == count || bytes[at + 1] != bytes[at])) {
    ++at;
  }
  return at;
}

} // namespace

void append_u16be(byte_vector& out, std::uint32_t value) {
  out.push_back(static_cast<std::uint8_t>(value >> 8));
  out.push_back(static_cast<std::uint8_t>(value));
}

void append_u24be(byte_vector& out, std::uint32_t value) {
  out.push_back(static_cast<std::uint8_t>(value >> 16));
  append_u16be(out, value);
}

void append_u32be(byte_vector& out, std::uint32_t value) {
  out.push_back(static_cast<std::uint8_t>(value >> 24));
  append_u24be(out, value);
}

void append_runs(byte_vector& out, const std::uint8_t* pixels, std::size_t count) {
  // Packed through a pointer into scratch room for the longest outcome, then appended. A
  // literal costs one byte more than it holds, and ends at the longest literal, at the end, or
  // before a repeat, which holds at least as many bytes as it costs: half again is room enough.
  thread_local byte_vector scratch;
  scratch.resize(std::max(scratch.size(), count + count / 2 + 2));
  std::uint8_t* const first = scratch.data();
  std::uint8_t* next = first;
  std::size_t at = 0;
  while (at < count) {
    const std::size_t run = equal_run(pixels, count, at, longest_repeat);
    if (run >= 2) {
      *next++ = static_cast<std::uint8_t>(run - repeat_base);
      *next++ = pixels[at];
      at += run;
      continue;
    }
    // A literal stops where the next repeat run begins.
    const std::size_t start = at;
    at = literal_end(pixels, count, start, at + 1, longest_literal);
    *next++ = static_cast<std::uint8_t>(literal_base - (at - start));
    std::memcpy(next, pixels + start, at - start);
    next += at - start;
  }
  out.insert(out.end(), first, next);
}

void append_run_stream(byte_vector& out, const std::uint8_t* head, const std::uint8_t* pixels,
                       std::size_t count) {
  out.insert(out.end(), head, head + run_length_at);
  append_u24be(out, static_cast<std::uint32_t>(count));
  append_runs(out, pixels, count);
}
