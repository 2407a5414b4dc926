// Helpers shared by the tests: scratch folders, whole-file reads, little-endian fields.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "common/state.hpp"
#include "text_count.hpp"

using byte_vector = std::vector<std::uint8_t>;

// A fresh, empty folder under `base` (the system's temporary folder by default), removed by
// the destructor.
struct scratch_folder {
  std::filesystem::path path;
  explicit scratch_folder(
      const std::filesystem::path& base = std::filesystem::temp_directory_path());
  ~scratch_folder();
  scratch_folder(const scratch_folder&) = delete;
  scratch_folder& operator=(const scratch_folder&) = delete;
};

byte_vector read_whole_file(const std::filesystem::path& path);
std::uint32_t le32(const byte_vector& bytes, std::size_t at);
std::uint16_t le16(const byte_vector& bytes, std::size_t at);

// The countdown of an index walk from `from` down to 0, as printed.
std::string countdown(int from);
// The countdown followed by the completion line.
std::string walk_text(int from);

// A state with its buffers allocated, writing bitmaps into `folder` and console text into a
// temporary file that console_text() reads back.
struct test_state {
  extraction_state state;
  explicit test_state(const std::filesystem::path& folder);
  ~test_state();
  std::string console_text();
};
