#include "archive/record_writing.hpp"

#include "archive/archive.hpp"

namespace {

// How many bytes from `at` equal the one there, at most `limit`.
std::size_t equal_run(const std::uint8_t* bytes, std::size_t count, std::size_t at,
                      std::size_t limit) {
  std::size_t length = 1;
  while (at + length < count && length < limit && bytes[at + length] == bytes[at]) {
    ++length;
  }
  return length;
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
  out.reserve(out.size() + count + count / longest_literal + 2);
  std::size_t at = 0;
  while (at < count) {
    const std::size_t run = equal_run(pixels, count, at, longest_repeat);
    if (run >= 2) {
      out.push_back(static_cast<std::uint8_t>(run - repeat_base));
      out.push_back(pixels[at]);
      at += run;
      continue;
    }
    // A literal stops where the next repeat run begins.
    const std::size_t start = at++;
    while (at < count && at - start < longest_literal &&
           (at + 1 == count || pixels[at + 1] != pixels[at])) {
      ++at;
    }
    out.push_back(static_cast<std::uint8_t>(literal_base - (at - start)));
    out.insert(out.end(), pixels + start, pixels + at);
  }
}

void append_run_stream(byte_vector& out, const std::uint8_t* head, const std::uint8_t* pixels,
                       std::size_t count) {
  out.insert(out.end(), head, head + run_length_at);
  append_u24be(out, static_cast<std::uint32_t>(count));
  append_runs(out, pixels, count);
}
