#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "archive/archive.hpp"
#include "common/system_files.hpp"

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

byte_view read_record(extraction_state& state, std::FILE* archive, std::uint64_t offset,
                      std::uint32_t length) {
  std::size_t read = 0;
  if (seek_file(archive, offset)) {
    const std::size_t wanted = std::min<std::size_t>(length, record_buffer_size);
    mark_readable(state.record_buffer.get(), wanted, record_buffer_size);
    read = std::fread(state.record_buffer.get(), 1, wanted, archive);
  }
  // What an earlier record left past this one is unreadable to the sanitizer builds.
  mark_readable(state.record_buffer.get(), read, record_buffer_size);
  return {state.record_buffer.get(), read};
}

bool walk_pair(extraction_state& state, const pair_to_walk& pair, bool countdown,
               const picture_sink& sink, const entry_done& done) {
  const auto index_size = static_cast<std::int64_t>(pair.index.size);
  if (!known_index_size(index_size)) {
    return true;
  }
  const auto entries = static_cast<std::int32_t>(index_size / index_entry_size);
  std::int32_t frame_counter = 0;
  for (std::int32_t entry = 0; entry < entries; ++entry) {
    if (countdown) {
      say(state, text::countdown, {}, entries - entry - 1);
    }
    std::uint32_t sector = 0;
    std::uint32_t length = 0;
    read_index_entry(pair.index, entry, sector, length);
    const byte_view record = read_record(state, pair.archive, sector * sector_size, length);
    const std::int32_t first_counter = frame_counter;
    if (index_size == frame_bank_index_size) {
      decode_frame_bank(record, entry, frame_counter, sink);
    } else if (index_size == screen_bank_index_size) {
      decode_screen_bank(record, length, pair.screen, entry, frame_counter, sink);
    } else {
      decode_direct_frame(record, entry, frame_counter, sink);
    }
    if (done && !done({entry, record, first_counter, frame_counter})) {
      return false;
    }
  }
  if (countdown) {
    say(state, text::completed);
  }
  return true;
}

bool walk_pair(extraction_state& state, std::int64_t index_size, bool countdown,
               const picture_sink& sink, const entry_done& done) {
  // Only the three known sizes are walked, all within index_buffer.
  const std::size_t size = known_index_size(index_size) ? static_cast<std::size_t>(index_size) : 0;
  return walk_pair(
      state, {{state.index_buffer.get(), size}, state.archive_stream, state.pixel_buffer.get()},
      countdown, sink, done);
}
