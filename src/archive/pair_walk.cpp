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

byte_view read_record(std::uint8_t* buffer, std::FILE* archive, std::uint64_t offset,
                      std::uint32_t length) {
  const std::size_t wanted = std::min<std::size_t>(length, record_buffer_size);
  mark_readable(buffer, wanted, record_buffer_size);
  const std::size_t read = read_file_at(archive, offset, buffer, wanted);
  // What an earlier record left past this one is unreadable to the sanitizer builds.
  mark_readable(buffer, read, record_buffer_size);
  return {buffer, read};
}

std::int32_t record_counters(std::int64_t index_size, const byte_view& head, std::uint32_t length) {
  if (index_size == direct_index_size) {
    return 1; // a direct-colour record takes its number even when it is broken
  }
  const bool skipped = index_size == screen_bank_index_size && screens_never_decoded(length);
  std::uint32_t frame_count = 0;
  if (skipped || !holds(head, 0, palette_head_size)) {
    return 0;
  }
  read_u16be(head, frame_count_at, frame_count);
  return static_cast<std::int32_t>(frame_count);
}

picture_kind kind_of_index(std::int64_t index_size) {
  return index_size == frame_bank_index_size    ? picture_kind::frame
         : index_size == screen_bank_index_size ? picture_kind::screen
                                                : picture_kind::direct;
}

namespace {

// Whether the entry is to be decoded; one that is not only moves the counter on.
bool entry_wanted(extraction_state& state, const pair_to_walk& pair, std::int32_t entry,
                  std::uint32_t sector, std::uint32_t length, std::int32_t& frame_counter) {
  const auto index_size = static_cast<std::int64_t>(pair.index.size);
  entry_span span{kind_of_index(index_size), entry, frame_counter, 1};
  if (span.kind != picture_kind::direct) {
    const auto head_length =
        static_cast<std::uint32_t>(std::min(palette_head_size, std::size_t{length}));
    const byte_view head =
        read_record(state.record_buffer.get(), pair.archive, sector * sector_size, head_length);
    span.counters = record_counters(index_size, head, length);
  }
  if (pair.choice->wanted(span)) {
    return true;
  }
  frame_counter += span.counters;
  if (span.kind == picture_kind::screen && span.counters > 0) {
    pair.choice->screens_skipped(sector * sector_size, length);
  }
  return false;
}

} // namespace

bool walk_pair(extraction_state& state, const pair_to_walk& pair, bool countdown,
               const picture_sink& sink, const entry_done& done) {
  const auto index_size = static_cast<std::int64_t>(pair.index.size);
  if (!known_index_size(index_size)) {
    return true;
  }
  const auto entries = static_cast<std::int32_t>(index_size / index_entry_size);
  std::int32_t frame_counter = 0;
  bool any_decoded = false;
  for (std::int32_t entry = 0; entry < entries; ++entry) {
    if (pair.ready && !pair.ready(entry)) {
      return false;
    }
    std::uint32_t sector = 0;
    std::uint32_t length = 0;
    read_index_entry(pair.index, entry, sector, length);
    if (pair.choice != nullptr &&
        !entry_wanted(state, pair, entry, sector, length, frame_counter)) {
      continue;
    }
    any_decoded = true;
    if (countdown) {
      say(state, text::countdown, {}, entries - entry - 1);
    }
    const byte_view record =
        read_record(state.record_buffer.get(), pair.archive, sector * sector_size, length);
    const std::int32_t first_counter = frame_counter;
    if (index_size == frame_bank_index_size) {
      decode_frame_bank(record, entry, frame_counter, sink);
    } else if (index_size == screen_bank_index_size) {
      if (pair.choice != nullptr) {
        pair.choice->screens_wanted(record, length);
      }
      decode_screen_bank(record, length, pair.screen, entry, frame_counter, sink);
    } else {
      decode_direct_frame(record, entry, frame_counter, sink);
    }
    if (done && !done({entry, record, first_counter, frame_counter})) {
      return false;
    }
  }
  // A walk that decoded nothing of a chosen few has nothing to complete.
  if (countdown && any_decoded) {
    say(state, text::completed);
  }
  return true;
}

bool walk_pair(extraction_state& state, std::int64_t index_size, bool countdown,
               const picture_sink& sink, const entry_done& done, const entry_choice* choice) {
  // Only the three known sizes are walked, all within index_buffer.
  const std::size_t size = known_index_size(index_size) ? static_cast<std::size_t>(index_size) : 0;
  return walk_pair(state,
                   {{state.index_buffer.get(), size},
                    state.archive_stream,
                    state.pixel_buffer.get(),
                    choice,
                    {}},
                   countdown, sink, done);
}
