// The bytes actually read for one record (or index), and checked reads of its unsigned
// big-endian fields (and the little-endian ones of bitmap files). Every decoder reads untrusted
// bytes through these, so a field that lies outside the bytes there is reported instead of read.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__SANITIZE_ADDRESS__)
#define OFB2BMP_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define OFB2BMP_ADDRESS_SANITIZER 1
#endif
#endif
#ifdef OFB2BMP_ADDRESS_SANITIZER
#include <sanitizer/asan_interface.h>
#endif

struct byte_view {
  const std::uint8_t* bytes = nullptr;
  std::size_t size = 0;
};

// Under AddressSanitizer, marks the `capacity` bytes at `buffer` readable up to `readable` and
// unreadable after it (elsewhere it does nothing): a read beyond the bytes actually there then
// stops the sanitizer builds at once, even where it stays inside the buffer.
inline void mark_readable(const std::uint8_t* buffer, std::size_t readable, std::size_t capacity) {
#ifdef OFB2BMP_ADDRESS_SANITIZER
  ASAN_UNPOISON_MEMORY_REGION(buffer, capacity);
  ASAN_POISON_MEMORY_REGION(buffer + readable, capacity - readable);
#else
  (void)buffer, (void)readable, (void)capacity;
#endif
}

// Whether `count` bytes at `offset` are there (no overflow for any values).
inline bool holds(const byte_view& view, std::size_t offset, std::size_t count) {
  return offset <= view.size && count <= view.size - offset;
}

// The `count` bytes at `offset`, or null when they are not all there.
inline const std::uint8_t* bytes_at(const byte_view& view, std::size_t offset, std::size_t count) {
  return holds(view, offset, count) ? view.bytes + offset : nullptr;
}

// The bytes from `offset` to the end; empty when `offset` lies past it.
inline byte_view rest_from(const byte_view& view, std::size_t offset) {
  return offset < view.size ? byte_view{view.bytes + offset, view.size - offset}
                            : byte_view{view.bytes + view.size, 0};
}

// The unsigned field of `width` bytes at `offset`, most significant byte first (big-endian) or
// last; false when it is not all there.
inline bool read_field(const byte_view& view, std::size_t offset, std::size_t width,
                       bool big_endian, std::uint32_t& value) {
  const std::uint8_t* at = bytes_at(view, offset, width);
  if (at == nullptr) {
    return false;
  }
  value = 0;
  for (std::size_t i = 0; i < width; ++i) {
    value = value << 8 | at[big_endian ? i : width - 1 - i];
  }
  return true;
}

inline bool read_be(const byte_view& view, std::size_t offset, std::size_t width,
                    std::uint32_t& value) {
  return read_field(view, offset, width, true, value);
}

inline bool read_u16be(const byte_view& view, std::size_t offset, std::uint32_t& value) {
  return read_be(view, offset, 2, value);
}
inline bool read_u24be(const byte_view& view, std::size_t offset, std::uint32_t& value) {
  return read_be(view, offset, 3, value);
}
inline bool read_u32be(const byte_view& view, std::size_t offset, std::uint32_t& value) {
  return read_be(view, offset, 4, value);
}

inline bool read_le(const byte_view& view, std::size_t offset, std::size_t width,
                    std::uint32_t& value) {
  return read_field(view, offset, width, false, value);
}

inline bool read_u16le(const byte_view& view, std::size_t offset, std::uint32_t& value) {
  return read_le(view, offset, 2, value);
}
inline bool read_u32le(const byte_view& view, std::size_t offset, std::uint32_t& value) {
  return read_le(view, offset, 4, value);
}
