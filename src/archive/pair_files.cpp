#include "archive/pair_files.hpp"

#include <algorithm>
#include <cstdio>

#include "common/system_files.hpp"

bool open_file_on_disk(const std::string& path, readable_file& file, int& error_code) {
  std::FILE* stream = open_file(path, "rb");
  if (stream == nullptr) {
    error_code = last_error_code();
    return false;
  }
  // Records are read whole at an offset: a stream buffer would only add a read call and a copy.
  std::setvbuf(stream, nullptr, _IONBF, 0);
  file.size = file_size(stream);
  file.read_at = reader_of_file(stream);
  file.owner =
      std::shared_ptr<void>(stream, [](void* open) { std::fclose(static_cast<std::FILE*>(open)); });
  return true;
}

std::int64_t read_index_bytes(const readable_file& index, std::uint8_t* buffer,
                              std::size_t capacity) {
  if (index.size < 0) {
    return -1;
  }
  // Only the three known sizes are ever walked, all far below the buffer's size.
  const auto wanted = static_cast<std::size_t>(
      std::min<std::int64_t>(index.size, static_cast<std::int64_t>(capacity)));
  return index.read_at(0, buffer, wanted) == wanted ? index.size : -1;
}

bool catch_up_screens(const std::vector<skipped_screens>& skipped, const file_opener& open,
                      std::uint8_t* record_buffer, std::uint8_t* screen, std::string& failed_path,
                      int& error_code) {
  readable_file archive;
  std::string open_path;
  for (const skipped_screens& bank : skipped) {
    if (!archive.read_at || bank.archive_path != open_path) {
      archive = {};
      open_path = bank.archive_path;
      if (!open(open_path, archive, error_code)) {
        failed_path = open_path;
        return false;
      }
    }
    const byte_view record = read_record(record_buffer, archive.read_at, bank.offset, bank.length);
    std::int32_t counter = 0;
    decode_screen_bank(record, bank.length, screen, 0, counter, [](const picture&) {});
  }
  return true;
}
