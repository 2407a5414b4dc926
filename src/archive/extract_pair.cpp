#include <cstring>

#include "archive/archive.hpp"
#include "bitmap/bitmap_file.hpp"
#include "bitmap/bitmap_writers.hpp"
#include "common/big_endian.hpp"

namespace {

constexpr std::size_t entry_size = 8;
constexpr std::size_t direct_head_size = 6;

bool seek_archive(std::FILE* stream, std::uint64_t offset) {
#ifdef _WIN32
  return _fseeki64(stream, static_cast<long long>(offset), SEEK_SET) == 0;
#else
  return fseeko(stream, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

std::string countdown_text(std::int64_t entries_after) {
  char text[32];
  std::snprintf(text, sizeof text, "%3d\r", static_cast<int>(entries_after));
  return text;
}

} // namespace

void report_broken_frame(extraction_state& state, const std::string& bitmap_name) {
  state.incomplete = true;
  say(state, format_message("broken frame![%s]\n", bitmap_name));
}

void report_broken_record(extraction_state& state, std::int32_t entry_number) {
  state.incomplete = true;
  say(state, format_message("broken record![%s:", state.archive_path) +
                 std::to_string(entry_number) + "]\n");
}

std::size_t read_record(extraction_state& state, std::uint64_t offset, std::uint32_t length) {
  state.record_size = 0;
  if (offset > static_cast<std::uint64_t>(INT64_MAX) ||
      !seek_archive(state.archive_stream, offset)) {
    return 0;
  }
  const std::size_t wanted = std::min<std::size_t>(length, record_buffer_size);
  state.record_size = std::fread(state.record_buffer.get(), 1, wanted, state.archive_stream);
  return state.record_size;
}

void extract_direct_frame(extraction_state& state, const std::string& base_name,
                          std::int32_t& frame_counter, std::int32_t entry_number) {
  const std::int32_t counter = frame_counter++;
  if (state.record_size < direct_head_size) {
    report_broken_record(state, entry_number);
    return;
  }
  const std::uint8_t* record = state.record_buffer.get();
  const std::int64_t width = u16be(record + 2);
  const std::int64_t height = u16be(record + 4);
  const std::int64_t pixel_bytes = width * height * 2;
  if (!direct_frame_fits(width, height) ||
      pixel_bytes > static_cast<std::int64_t>(state.record_size - direct_head_size)) {
    report_broken_frame(state, bitmap_path(state, base_name, direct_suffix(counter)));
    return;
  }
  state.image_width = static_cast<std::int32_t>(width);
  state.image_height = static_cast<std::int32_t>(height);
  std::memcpy(state.pixel_buffer.get(), record + direct_head_size,
              static_cast<std::size_t>(pixel_bytes));
  write_direct_bitmap(state, base_name, counter);
}

void extract_pair(extraction_state& state, const std::string& base_name, std::int64_t index_size) {
  if (index_size != frame_bank_index_size && index_size != screen_bank_index_size &&
      index_size != direct_index_size) {
    return;
  }
  std::int32_t frame_counter = 0;
  for (std::int64_t i = 0; i < index_size; i += entry_size) {
    say(state, countdown_text((index_size - i - 8) / 8));
    const std::uint8_t* entry = state.index_buffer.get() + i;
    const std::uint32_t length = u32be(entry + 4);
    read_record(state, u24be(entry + 1) * sector_size, length);

    const auto entry_number = static_cast<std::int32_t>(i / entry_size);
    if (index_size == frame_bank_index_size) {
      extract_frame_bank(state, base_name, frame_counter, entry_number);
    } else if (index_size == screen_bank_index_size) {
      extract_screen_bank(state, base_name, static_cast<std::int32_t>(length), frame_counter,
                          entry_number);
    } else {
      extract_direct_frame(state, base_name, frame_counter, entry_number);
    }
  }
  say(state, "\ncompleted.\n");
}
