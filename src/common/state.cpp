#include "common/state.hpp"

byte_buffer zeroed_bytes(std::size_t size) {
  return byte_buffer(static_cast<std::uint8_t*>(std::calloc(size, 1)));
}
