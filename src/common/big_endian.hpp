// Numbers in index and archive files are unsigned and big-endian.
#pragma once

#include <cstdint>

inline std::uint32_t u16be(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0]) << 8 | at[1];
}

inline std::uint32_t u24be(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0]) << 16 | static_cast<std::uint32_t>(at[1]) << 8 | at[2];
}

inline std::uint32_t u32be(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0]) << 24 | static_cast<std::uint32_t>(at[1]) << 16 |
         static_cast<std::uint32_t>(at[2]) << 8 | at[3];
}
