#include "common/state.hpp"

byte_buffer zeroed_bytes(std::size_t size) {
  return byte_buffer(static_cast<std::uint8_t*>(std::calloc(size, 1)));
}

bool allocate_working_buffers(extraction_state& state) {
  // All are asked for before any failure is reported.
  state.pixel_buffer = zeroed_bytes(pixel_buffer_size);
  state.record_buffer = zeroed_bytes(record_buffer_size);
  state.index_buffer = zeroed_bytes(index_buffer_size);
  state.output.buffer = zeroed_bytes(output_buffer_size);
  return state.pixel_buffer && state.record_buffer && state.index_buffer && state.output.buffer;
}
