#include "bitmap/bitmap_file.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

[[noreturn]] void fail_write(extraction_state& state, const std::string& path) {
  state.output_used = 0;
  if (state.output_stream != nullptr) {
    std::fclose(state.output_stream);
    state.output_stream = nullptr;
  }
  std::remove(path.c_str());
  throw fatal_error{format_message("file write error![%s]\n", path)};
}

void write_through(extraction_state& state, const std::string& path, const void* bytes,
                   std::size_t size) {
  if (size != 0 && std::fwrite(bytes, 1, size, state.output_stream) != size) {
    fail_write(state, path);
  }
}

void flush_output(extraction_state& state, const std::string& path) {
  const std::size_t waiting = state.output_used;
  state.output_used = 0;
  write_through(state, path, state.output_buffer.get(), waiting);
}

} // namespace

char counter_digit(std::uint32_t value) {
  char digit = static_cast<char>('0' + value);
  if (digit > '9') {
    digit = static_cast<char>(digit + 7);
  }
  return digit;
}

std::string base36_text(std::uint32_t value) {
  std::string text;
  do {
    text.insert(text.begin(), counter_digit(value % 36));
    value /= 36;
  } while (value != 0);
  return text;
}

std::string direct_suffix(std::int32_t frame_counter) {
  const auto counter = static_cast<std::uint32_t>(frame_counter);
  return base36_text(counter / 16) + counter_digit(counter % 16);
}

std::string indexed_suffix(std::int32_t frame_counter) {
  const auto counter = static_cast<std::uint32_t>(frame_counter);
  return base36_text(counter >> 8) + counter_digit((counter >> 4) & 15) +
         counter_digit(counter & 15);
}

std::string bitmap_path(const extraction_state& state, const std::string& base_name,
                        const std::string& suffix) {
  return state.program_folder + base_name + suffix + ".BMP";
}

void put_u16le(std::uint8_t* at, std::uint32_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}

void put_u32le(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    at[i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

void put_bitmap_header(std::uint8_t* at, const bitmap_header& header) {
  std::fill(at, at + bitmap_header_size, std::uint8_t{0});
  at[0] = 'B';
  at[1] = 'M';
  put_u32le(at + 2, header.file_size);
  // 6: both reserved fields stay 0
  put_u32le(at + 10, header.pixel_offset);
  put_u32le(at + 14, 40);
  put_u32le(at + 18, static_cast<std::uint32_t>(header.width));
  put_u32le(at + 22, static_cast<std::uint32_t>(header.height));
  put_u16le(at + 26, 1);
  put_u16le(at + 28, header.bit_count);
  // 30: no compression, 34: no image size, 38 and 42: no resolution
  put_u32le(at + 46, header.colours_used);
  // 50: no "important colours" count
}

void open_bitmap(extraction_state& state, const std::string& path,
                 const char* create_error_format) {
  state.output_stream = std::fopen(path.c_str(), "wb");
  if (state.output_stream == nullptr) {
    throw fatal_error{format_message(create_error_format, path)};
  }
  // The bitmap is collected in output_buffer; stdio's own small buffer would only split it
  // into many write calls.
  state.output_used = 0;
  if (state.output_buffer) {
    std::setvbuf(state.output_stream, nullptr, _IONBF, 0);
  }
}

void write_bitmap_bytes(extraction_state& state, const std::string& path, const void* bytes,
                        std::size_t size) {
  if (!state.output_buffer) {
    write_through(state, path, bytes, size);
    return;
  }
  if (size > output_buffer_size - state.output_used) {
    flush_output(state, path);
    if (size > output_buffer_size) {
      write_through(state, path, bytes, size);
      return;
    }
  }
  std::memcpy(state.output_buffer.get() + state.output_used, bytes, size);
  state.output_used += size;
}

void write_bitmap_rows(extraction_state& state, const std::string& path, const std::uint8_t* pixels,
                       std::size_t row_bytes, std::int32_t height) {
  static const std::uint8_t zeros[4] = {};
  const std::size_t padding = row_padding(row_bytes);
  for (std::int32_t row = height - 1; row >= 0; --row) {
    write_bitmap_bytes(state, path, pixels + static_cast<std::size_t>(row) * row_bytes, row_bytes);
    write_bitmap_bytes(state, path, zeros, padding);
  }
}

void close_bitmap(extraction_state& state, const std::string& path) {
  if (state.output_used != 0) {
    flush_output(state, path);
  }
  const bool flushed = std::fflush(state.output_stream) == 0 && !std::ferror(state.output_stream);
  const bool closed = std::fclose(state.output_stream) == 0;
  state.output_stream = nullptr;
  if (!flushed || !closed) {
    fail_write(state, path);
  }
}
