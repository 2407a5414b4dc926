// The three record decoders and run-length expansion: bytes in, pictures out to a sink.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "archive/archive.hpp"

namespace {

picture broken_record(picture_kind kind, std::int32_t entry) {
  return {{kind, -1, entry, -1}, picture_status::broken_record, 0, 0, {}, {}};
}

// Reads the palette head and checks that `tables` tables of N entries follow it. False (after
// telling the sink) when the record is too short for them; then the N declared frames are
// still counted, unless N itself could not be read.
bool read_palette_head(const byte_view& record, picture_kind kind, std::size_t tables,
                       std::int32_t entry, std::int32_t& frame_counter, const picture_sink& sink,
                       std::uint32_t& frame_count) {
  if (!holds(record, 0, palette_head_size)) {
    sink(broken_record(kind, entry));
    return false;
  }
  read_u16be(record, frame_count_at, frame_count);
  if (!holds(record, palette_head_size, tables * table_entry_size * frame_count)) {
    sink(broken_record(kind, entry));
    frame_counter += static_cast<std::int32_t>(frame_count);
    return false;
  }
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

std::size_t frame_offset(const byte_view& record, std::uint32_t k) {
  std::uint32_t offset = 0;
  read_u24be(record, palette_head_size + table_entry_size * k + frame_offset_at, offset);
  return offset;
}

void decode_direct_frame(const byte_view& record, std::int32_t entry, std::int32_t& frame_counter,
                         const picture_sink& sink) {
  picture shown{
      {picture_kind::direct, frame_counter++, entry, 0}, picture_status::ok, 0, 0, {}, {}};
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  if (!read_u16be(record, direct_width_at, width) ||
      !read_u16be(record, direct_height_at, height)) {
    sink(broken_record(picture_kind::direct, entry));
    return;
  }
  shown.width = static_cast<std::int32_t>(width);
  shown.height = static_cast<std::int32_t>(height);
  const std::size_t size = std::size_t{width} * height * colour_word_size;
  const std::uint8_t* pixels = bytes_at(record, direct_pixels_at, size);
  if (!direct_frame_fits(width, height) || pixels == nullptr) {
    shown.status = picture_status::broken_frame;
  } else {
    shown.pixels = {pixels, size};
  }
  sink(shown);
}

void decode_frame_bank(const byte_view& record, std::int32_t entry, std::int32_t& frame_counter,
                       const picture_sink& sink) {
  std::uint32_t frame_count = 0;
  if (!read_palette_head(record, picture_kind::frame, 2, entry, frame_counter, sink, frame_count)) {
    return;
  }
  const byte_view palette{record.bytes, palette_size};
  const std::size_t size_table = palette_head_size + table_entry_size * frame_count;
  const byte_view pixel_area = rest_from(record, size_table + table_entry_size * frame_count);
  for (std::uint32_t k = 0; k < frame_count; ++k) {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    read_u16be(record, size_table + table_entry_size * k + frame_width_at, width);
    read_u16be(record, size_table + table_entry_size * k + frame_height_at, height);
    picture shown{{picture_kind::frame, frame_counter++, entry, static_cast<std::int32_t>(k)},
                  picture_status::ok,
                  static_cast<std::int32_t>(width),
                  static_cast<std::int32_t>(height),
                  {},
                  palette};
    const std::size_t size = std::size_t{width} * height;
    const std::uint8_t* pixels = bytes_at(pixel_area, frame_offset(record, k), size);
    if (!indexed_frame_fits(width, height) || pixels == nullptr) {
      shown.status = picture_status::broken_frame;
    } else {
      shown.pixels = {pixels, size};
    }
    sink(shown);
  }
}

void decode_screen_bank(const byte_view& record, std::uint32_t record_length, std::uint8_t* screen,
                        std::int32_t entry, std::int32_t& frame_counter, const picture_sink& sink) {
  if (record_length <= longest_skipped_screen_bank) {
    return;
  }
  // A length the archive's 32-bit signed offsets cannot reach: the record is not decoded, and
  // like a record too short for its head it takes no numbers.
  if (record_length > static_cast<std::uint32_t>(INT32_MAX)) {
    sink(broken_record(picture_kind::screen, entry));
    return;
  }
  std::uint32_t frame_count = 0;
  if (!read_palette_head(record, picture_kind::screen, 1, entry, frame_counter, sink,
                         frame_count)) {
    return;
  }
  const byte_view palette{record.bytes, palette_size};
  const byte_view packed_area =
      rest_from(record, palette_head_size + table_entry_size * frame_count);
  for (std::uint32_t k = 0; k < frame_count; ++k) {
    picture shown{{picture_kind::screen, frame_counter++, entry, static_cast<std::int32_t>(k)},
                  picture_status::ok,
                  screen_width,
                  screen_height,
                  {screen, screen_bytes},
                  palette};
    const run_expansion expansion =
        expand_runs(rest_from(packed_area, frame_offset(record, k)), screen, pixel_buffer_size);
    if (!expansion.complete) {
      shown.status = picture_status::broken_frame;
      shown.pixels = {};
    }
    sink(shown);
  }
}

bool screens_never_decoded(std::uint32_t length) {
  return length <= longest_skipped_screen_bank || length > std::uint32_t{INT32_MAX};
}

bool first_screen_covers_all(const byte_view& record, std::uint32_t length, std::uint8_t* scratch) {
  std::uint32_t frame_count = 0;
  if (screens_never_decoded(length) || !read_u16be(record, frame_count_at, frame_count) ||
      frame_count == 0 || !holds(record, palette_head_size, table_entry_size * frame_count)) {
    return false;
  }
  const byte_view packed_area =
      rest_from(record, palette_head_size + table_entry_size * frame_count);
  return expand_runs(rest_from(packed_area, frame_offset(record, 0)), scratch, pixel_buffer_size)
             .produced >= screen_bytes;
}

run_expansion expand_runs(const byte_view& source, std::uint8_t* destination,
                          std::size_t destination_size) {
  std::uint32_t wanted = 0;
  if (!holds(source, 0, run_head_size)) {
    return {0, false, 0};
  }
  read_u24be(source, run_length_at, wanted);
  const std::uint8_t* bytes = source.bytes;
  std::size_t read = run_head_size;
  std::size_t produced = 0;
  // L is tested only before each packet: the packet that crosses it is written whole.
  while (produced < wanted) {
    if (produced >= destination_size) {
      break; // the rest would land outside the destination
    }
    if (read >= source.size) {
      return {produced, false, read};
    }
    const std::uint8_t control = bytes[read++];
    const std::size_t room = destination_size - produced;
    if (control >= first_literal_control) {
      const std::size_t count = literal_base - control;
      if (count > source.size - read) {
        return {produced, false, read};
      }
      copy_packet(destination + produced, bytes + read, std::min(count, room));
      read += count;
      produced += std::min(count, room);
    } else {
      const std::size_t count = control + repeat_base;
      if (read >= source.size) {
        return {produced, false, read};
      }
      fill_packet(destination + produced, bytes[read++], std::min(count, room));
      produced += std::min(count, room);
    }
  }
  return {produced, true, read};
}
