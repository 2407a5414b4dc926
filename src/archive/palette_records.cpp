#include <algorithm>
#include <cstring>

#include "archive/archive.hpp"
#include "bitmap/bitmap_file.hpp"
#include "bitmap/bitmap_writers.hpp"
#include "common/big_endian.hpp"

namespace {

constexpr std::size_t run_head_size = 8;
constexpr std::int32_t shortest_screen_bank = 577;

// Reads the palette head; false (after the message) when the record is too short for the head
// or for `tables_per_frame` 4-byte tables of N entries, in which case the N declared frames are
// still counted.
bool read_palette_head(extraction_state& state, std::size_t tables_per_frame,
                       std::int32_t& frame_counter, std::int32_t entry_number,
                       std::uint32_t& frame_count) {
  if (state.record_size < palette_head_size) {
    report_broken_record(state, entry_number);
    return false;
  }
  const std::uint8_t* record = state.record_buffer.get();
  frame_count = u16be(record + 514);
  if (palette_head_size + tables_per_frame * 4 * frame_count > state.record_size) {
    report_broken_record(state, entry_number);
    frame_counter += static_cast<std::int32_t>(frame_count);
    return false;
  }
  std::memcpy(state.palette.data(), record, palette_size);
  return true;
}

// Packets are short (1 to 129 bytes), so a library call per packet would cost more than the
// bytes it moves. Both helpers cover [0, count) with fixed-size moves that may overlap each
// other but never reach past count, so bytes beyond the packet keep what they held. The
// shortest packets come first: they are the most frequent in busy pictures.
void copy_packet(std::uint8_t* to, const std::uint8_t* from, std::size_t count) {
  if (count < 4) {
    const std::uint8_t first = from[0];
    const std::uint8_t middle = from[count / 2];
    const std::uint8_t last = from[count - 1];
    to[0] = first;
    to[count / 2] = middle;
    to[count - 1] = last;
  } else if (count < 8) {
    std::memcpy(to, from, 4);
    std::memcpy(to + count - 4, from + count - 4, 4);
  } else if (count < 16) {
    std::memcpy(to, from, 8);
    std::memcpy(to + count - 8, from + count - 8, 8);
  } else {
    for (std::size_t at = 0; at + 16 < count; at += 16) {
      std::memcpy(to + at, from + at, 16);
    }
    std::memcpy(to + count - 16, from + count - 16, 16);
  }
}

void fill_packet(std::uint8_t* to, std::uint8_t value, std::size_t count) {
  if (count < 4) {
    to[0] = value;
    to[count / 2] = value;
    to[count - 1] = value;
    return;
  }
  const std::uint64_t spread = value * std::uint64_t{0x0101010101010101};
  if (count < 8) {
    std::memcpy(to, &spread, 4);
    std::memcpy(to + count - 4, &spread, 4);
  } else if (count < 16) {
    std::memcpy(to, &spread, 8);
    std::memcpy(to + count - 8, &spread, 8);
  } else {
    const std::uint64_t pattern[2] = {spread, spread};
    for (std::size_t at = 0; at + 16 < count; at += 16) {
      std::memcpy(to + at, pattern, 16);
    }
    std::memcpy(to + count - 16, pattern, 16);
  }
}

} // namespace

void extract_frame_bank(extraction_state& state, const std::string& base_name,
                        std::int32_t& frame_counter, std::int32_t entry_number) {
  std::uint32_t frame_count = 0;
  if (!read_palette_head(state, 2, frame_counter, entry_number, frame_count)) {
    return;
  }
  const std::uint8_t* record = state.record_buffer.get();
  const std::size_t pixel_area = palette_head_size + 8 * std::size_t{frame_count};
  for (std::uint32_t k = 0; k < frame_count; ++k) {
    const std::int32_t counter = frame_counter++;
    const std::uint8_t* size = record + palette_head_size + 4 * (frame_count + k);
    const std::int64_t width = u16be(size);
    const std::int64_t height = u16be(size + 2);
    const std::size_t start = pixel_area + u24be(record + palette_head_size + 4 * k + 1);
    if (!indexed_frame_fits(width, height) || start > state.record_size ||
        width * height > static_cast<std::int64_t>(state.record_size - start)) {
      report_broken_frame(state, bitmap_path(state, base_name, indexed_suffix(counter)));
      continue;
    }
    state.image_width = static_cast<std::int32_t>(width);
    state.image_height = static_cast<std::int32_t>(height);
    std::memcpy(state.pixel_buffer.get(), record + start, static_cast<std::size_t>(width * height));
    write_indexed_bitmap(state, base_name, counter);
  }
}

void extract_screen_bank(extraction_state& state, const std::string& base_name,
                         std::int32_t record_length, std::int32_t& frame_counter,
                         std::int32_t entry_number) {
  if (record_length < shortest_screen_bank) {
    return;
  }
  state.image_width = screen_width;
  state.image_height = screen_height;
  std::uint32_t frame_count = 0;
  if (!read_palette_head(state, 1, frame_counter, entry_number, frame_count)) {
    return;
  }
  const std::uint8_t* record = state.record_buffer.get();
  const std::size_t packed_area = palette_head_size + 4 * std::size_t{frame_count};
  for (std::uint32_t k = 0; k < frame_count; ++k) {
    const std::int32_t counter = frame_counter++;
    const std::size_t start = packed_area + u24be(record + palette_head_size + 4 * k + 1);
    const std::size_t available = start < state.record_size ? state.record_size - start : 0;
    const run_expansion expansion =
        expand_runs(record + std::min(start, state.record_size), available,
                    state.pixel_buffer.get(), pixel_buffer_size);
    if (!expansion.complete) {
      report_broken_frame(state, bitmap_path(state, base_name, indexed_suffix(counter)));
      continue;
    }
    write_indexed_bitmap(state, base_name, counter);
  }
}

run_expansion expand_runs(const std::uint8_t* source, std::size_t source_size,
                          std::uint8_t* destination, std::size_t destination_size) {
  if (source_size < run_head_size) {
    return {0, false};
  }
  const std::size_t wanted = u24be(source + 5);
  std::size_t read = run_head_size;
  std::size_t produced = 0;
  // L is tested only before each packet: the packet that crosses it is written whole.
  while (produced < wanted) {
    if (produced >= destination_size) {
      break; // the rest would land outside the destination
    }
    if (read >= source_size) {
      return {produced, false};
    }
    const std::uint8_t control = source[read++];
    const std::size_t room = destination_size - produced;
    if (control & 0x80) {
      const std::size_t count = 256 - control;
      if (count > source_size - read) {
        return {produced, false};
      }
      copy_packet(destination + produced, source + read, std::min(count, room));
      read += count;
      produced += std::min(count, room);
    } else {
      const std::size_t count = control + 2u;
      if (read >= source_size) {
        return {produced, false};
      }
      fill_packet(destination + produced, source[read++], std::min(count, room));
      produced += std::min(count, room);
    }
  }
  return {produced, true};
}
