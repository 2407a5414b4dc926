#include "common/state.hpp"

#include <vector>

namespace {

byte_buffer zeroed_bytes(std::size_t size) {
  return byte_buffer(static_cast<std::uint8_t*>(std::calloc(size, 1)));
}

} // namespace

bool allocate_working_buffers(extraction_state& state) {
  // All three are asked for before any failure is reported.
  state.pixel_buffer = zeroed_bytes(pixel_buffer_size);
  state.record_buffer = zeroed_bytes(record_buffer_size);
  state.index_buffer = zeroed_bytes(index_buffer_size);
  state.output_buffer.reset(static_cast<std::uint8_t*>(std::malloc(output_buffer_size)));
  return state.pixel_buffer && state.record_buffer && state.index_buffer;
}

std::string format_message(const char* format, const std::string& name) {
  const int length = std::snprintf(nullptr, 0, format, name.c_str());
  if (length <= 0) {
    return {};
  }
  std::vector<char> text(static_cast<std::size_t>(length) + 1);
  std::snprintf(text.data(), text.size(), format, name.c_str());
  return std::string(text.data(), static_cast<std::size_t>(length));
}

void say(extraction_state& state, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), state.console);
  std::fflush(state.console);
}
