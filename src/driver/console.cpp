#include "driver/console.hpp"

#include "common/files_in_progress.hpp"

namespace {

// Prints the bytes, marking a console that failed and whether its line is left open.
void print_noted(extraction_state& state, std::FILE* stream, const std::string& bytes) {
  const bool printed = print_bytes(stream, bytes);
  if (stream != state.console) {
    return;
  }
  state.console_failed = state.console_failed || !printed;
  note_console_line_open(!bytes.empty() && bytes.back() != '\n');
}

void print_or_hold(extraction_state& state, std::FILE* stream, text id, const std::string& name,
                   std::int64_t number) {
  if (state.pictures_written < state.pictures_sent) {
    state.held.push_back({state.pictures_sent, stream, text_of(id, name, number)});
  } else {
    print_noted(state, stream, text_of(id, name, number));
  }
}

} // namespace

void say(extraction_state& state, text id, const std::string& name, std::int64_t number) {
  print_or_hold(state, state.console, id, name, number);
}

void tell(extraction_state& state, text id, const std::string& name) {
  print_or_hold(state, stderr, id, name, 0);
}

void print_held_text(extraction_state& state) {
  while (!state.held.empty() && state.held.front().after <= state.pictures_written) {
    const held_text& next = state.held.front();
    print_noted(state, next.stream, next.bytes);
    state.held.pop_front();
  }
}

bool allocate_working_buffers(extraction_state& state) {
  // All are asked for before any failure is reported.
  state.pixel_buffer = zeroed_bytes(pixel_buffer_size);
  state.record_buffer = zeroed_bytes(record_buffer_size);
  state.index_buffer = zeroed_bytes(index_buffer_size);
  state.output.buffer = zeroed_bytes(output_buffer_size);
  return state.pixel_buffer && state.record_buffer && state.index_buffer && state.output.buffer;
}
