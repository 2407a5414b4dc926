#include <algorithm>

#include "archive/rebuild_steps.hpp"

namespace {

constexpr std::uint32_t last_sector = 0xFFFFFF;

std::uint64_t round_to_sector(std::uint64_t size) {
  return (size + sector_size - 1) / sector_size * sector_size;
}

// Whether writing `size` bytes at `offset` (and the zero bytes that would fill any gap before
// it) leaves every other entry reading what it read before.
bool free_to_write(const insertion& work, std::int32_t entry, std::uint64_t offset,
                   std::uint64_t size) {
  const std::uint64_t begin = std::min(offset, work.archive_size);
  for (std::size_t other = 0; other < work.read_spans.size(); ++other) {
    const auto& [start, end] = work.read_spans[other];
    if (other != static_cast<std::size_t>(entry) && start < offset + size && begin < end) {
      return false;
    }
  }
  return true;
}

// Where a rebuilt record of `size` bytes goes; false (after the refusal) when nowhere.
bool find_place(insertion& work, record_work& record, std::size_t size, std::uint64_t& offset) {
  std::uint32_t sector = 0;
  std::uint32_t length = 0;
  read_index_entry({work.new_index.data(), work.new_index.size()}, record.entry, sector, length);
  offset = sector * sector_size;
  if (size <= round_to_sector(length) && free_to_write(work, record.entry, offset, size)) {
    return true;
  }
  offset = round_to_sector(work.archive_size);
  if (!free_to_write(work, record.entry, offset, size)) {
    refuse_record(
        work, record,
        "its rebuilt record has no room: another entry reads past the end of the archive");
    return false;
  }
  if (offset / sector_size > last_sector) {
    refuse_record(work, record, "the archive would grow past the last sector its index can name");
    return false;
  }
  return true;
}

void point_entry_at(insertion& work, std::int32_t entry, std::uint64_t offset, std::size_t length) {
  std::uint8_t* at = work.new_index.data() + entry * index_entry_size;
  const auto sector = static_cast<std::uint32_t>(offset / sector_size);
  const std::uint8_t fields[] = {
      static_cast<std::uint8_t>(sector >> 16), static_cast<std::uint8_t>(sector >> 8),
      static_cast<std::uint8_t>(sector),       static_cast<std::uint8_t>(length >> 24),
      static_cast<std::uint8_t>(length >> 16), static_cast<std::uint8_t>(length >> 8),
      static_cast<std::uint8_t>(length)};
  std::copy(std::begin(fields), std::end(fields), at + entry_sector_at);
}

} // namespace

void find_read_spans(insertion& work) {
  const byte_view index{work.new_index.data(), work.new_index.size()};
  const auto entries = static_cast<std::int32_t>(index.size / index_entry_size);
  work.read_spans.clear();
  for (std::int32_t entry = 0; entry < entries; ++entry) {
    std::uint32_t sector = 0;
    std::uint32_t length = 0;
    read_index_entry(index, entry, sector, length);
    const std::uint64_t start = sector * sector_size;
    work.read_spans.emplace_back(start,
                                 start + std::min<std::uint64_t>(length, record_buffer_size));
  }
}

placed_record place_record(insertion& work, record_work& record, const byte_vector& rebuilt) {
  std::uint64_t offset = 0;
  if (rebuilt.size() > record_buffer_size) {
    refuse_record(work, record,
                  "its rebuilt record would be longer than the tool's record buffer (" +
                      std::to_string(record_buffer_size) + " bytes)");
    return {};
  }
  if (!find_place(work, record, rebuilt.size(), offset)) {
    return {};
  }
  placed_record placed{std::min(offset, work.archive_size), {}};
  placed.bytes.resize(offset - placed.offset, 0); // the gap after the archive's end
  placed.bytes.insert(placed.bytes.end(), rebuilt.begin(), rebuilt.end());
  work.archive_size = std::max(work.archive_size, offset + rebuilt.size());
  work.read_spans[static_cast<std::size_t>(record.entry)] = {offset, offset + rebuilt.size()};
  point_entry_at(work, record.entry, offset, rebuilt.size());
  return placed;
}
