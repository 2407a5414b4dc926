#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "archive/archive.hpp"
#include "common/system_files.hpp"
#include "pictures/bitmap_writers.hpp"
#include "pictures/pictures.hpp"

bool known_index_size(std::int64_t index_size) {
  return index_size == frame_bank_index_size || index_size == screen_bank_index_size ||
         index_size == direct_index_size;
}

void read_index_entry(const byte_view& index, std::int32_t entry, std::uint32_t& sector,
                      std::uint32_t& length) {
  const std::size_t at = entry * index_entry_size;
  read_u24be(index, at + entry_sector_at, sector);
  read_u32be(index, at + entry_length_at, length);
}

void extract_entry(extraction_state& state, const std::string& base_name, std::int64_t index_size,
                   std::int32_t entry, std::int32_t& frame_counter) {
  const byte_view index{state.index_buffer.get(), static_cast<std::size_t>(index_size)};
  std::uint32_t sector = 0;
  std::uint32_t length = 0;
  read_index_entry(index, entry, sector, length);
  read_record(state, sector * sector_size, length);

  if (index_size == frame_bank_index_size) {
    extract_frame_bank(state, base_name, frame_counter, entry);
  } else if (index_size == screen_bank_index_size) {
    extract_screen_bank(state, base_name, length, frame_counter, entry);
  } else {
    extract_direct_frame(state, base_name, frame_counter, entry);
  }
}

std::size_t read_record(extraction_state& state, std::uint64_t offset, std::uint32_t length) {
  state.record_size = 0;
  if (seek_file(state.archive_stream, offset)) {
    const std::size_t wanted = std::min<std::size_t>(length, record_buffer_size);
    mark_readable(state.record_buffer.get(), wanted, record_buffer_size);
    state.record_size = std::fread(state.record_buffer.get(), 1, wanted, state.archive_stream);
  }
  // What an earlier record left past this one is unreadable to the sanitizer builds.
  mark_readable(state.record_buffer.get(), state.record_size, record_buffer_size);
  return state.record_size;
}

byte_view current_record(const extraction_state& state) {
  return {state.record_buffer.get(), state.record_size};
}

void extract_direct_frame(extraction_state& state, const std::string& base_name,
                          std::int32_t& frame_counter, std::int32_t entry_number) {
  const picture shown{picture_kind::direct, frame_counter++, entry_number, 0};
  const byte_view record = current_record(state);
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  if (!read_u16be(record, direct_width_at, width) ||
      !read_u16be(record, direct_height_at, height)) {
    report_broken_record(state, picture_kind::direct, entry_number);
    return;
  }
  state.image_width = static_cast<std::int32_t>(width);
  state.image_height = static_cast<std::int32_t>(height);
  const std::uint8_t* pixels =
      bytes_at(record, direct_pixels_at, std::size_t{width} * height * colour_word_size);
  if (!direct_frame_fits(width, height) || pixels == nullptr) {
    report_broken_frame(state, base_name, shown);
    return;
  }
  save_picture(state, base_name, shown, pixels);
}

void extract_pair(extraction_state& state, const std::string& base_name, std::int64_t index_size) {
  if (!known_index_size(index_size)) {
    return;
  }
  const auto entries = static_cast<std::int32_t>(index_size / index_entry_size);
  std::int32_t frame_counter = 0;
  for (std::int32_t entry = 0; entry < entries; ++entry) {
    if (!state.quiet && !state.list_only) {
      say(state, text::countdown, {}, entries - entry - 1);
    }
    extract_entry(state, base_name, index_size, entry, frame_counter);
  }
  if (!state.quiet && !state.list_only) {
    say(state, text::completed);
  }
}
