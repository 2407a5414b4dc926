// Helpers shared by the tests and the fuzz targets: scratch folders, whole files, little-endian
// fields, the walk's console text, and a state that writes into a folder of the test's own.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "common/picture.hpp"
#include "driver/run_state.hpp"
#include "sample_writer.hpp"

namespace fs = std::filesystem;
using byte_vector = std::vector<std::uint8_t>;

// A fresh, empty folder under `base` (the system's temporary folder by default), removed by
// the destructor.
struct scratch_folder {
  fs::path path;
  explicit scratch_folder(const fs::path& base = fs::temp_directory_path());
  ~scratch_folder();
  scratch_folder(const scratch_folder&) = delete;
  scratch_folder& operator=(const scratch_folder&) = delete;
};

// Thousands of small pictures: memory-backed storage where there is some.
fs::path fast_storage();

byte_vector read_whole_file(const fs::path& path);
std::string read_text(const fs::path& path);
std::uint32_t le32(const byte_vector& bytes, std::size_t at);
// Unsigned big-endian fields of index and archive files, read without bounds.
inline std::uint32_t u16be(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0]) << 8 | at[1];
}
inline std::uint32_t u24be(const std::uint8_t* at) {
  return u16be(at) << 8 | at[2];
}
inline std::uint32_t u32be(const std::uint8_t* at) {
  return u24be(at) << 8 | at[3];
}
// The exit status of a shell command.
int shell(const std::string& command);

// The countdown of an index walk from `from` down to 0, as printed.
std::string countdown(int from);
// The countdown followed by the completion line.
std::string walk_text(int from);

// Red, green and blue bytes of colour words, each channel's five bits shifted up; colour words
// from big-endian bytes, as records hold them.
byte_vector rgb_of(const colour_words& words);
colour_words words_of(const std::uint8_t* bytes, std::size_t count);

// A bitmap of `bits` a pixel with an info header of `header_size` bytes, the colour table given
// (4 bytes an entry), then the rows as stored.
byte_vector bitmap_of(std::uint32_t header_size, std::int32_t width, std::int32_t height, int bits,
                      const byte_vector& table, const byte_vector& rows);
// An uncompressed 8-bit (with the colours given, 3 bytes each) or 24-bit bitmap (pixels given
// red, green, blue), bottom-up, laid out as the tool writes its own.
byte_vector bitmap_file(int width, int height, const byte_vector& pixels,
                        const byte_vector& colours = {});

// A PNG of the chunks given (type, data), in order, each with its length and checksum; nothing
// is added, not even IEND. deflated() makes an IDAT chunk of the rows given.
using png_chunk = std::pair<std::string, byte_vector>;
byte_vector png_of(const std::vector<png_chunk>& chunks);
png_chunk deflated(const byte_vector& rows);

// An ok picture of `kind` viewing `pixels` (colour words or indices, big-endian as records hold
// them) and `palette` (colour words); the vectors must outlive it.
inline picture picture_of(picture_kind kind, std::int32_t counter, std::int32_t width,
                          std::int32_t height, const byte_vector& pixels,
                          const byte_vector& palette = {}) {
  return {{kind, counter, 0, 0},
          picture_status::ok,
          width,
          height,
          {pixels.data(), pixels.size()},
          {palette.data(), palette.size()}};
}

// Extracts the index file `index` quietly through the driver, the pictures into `folder`.
// Returns the console text (the messages); `incomplete` tells whether anything was missing.
std::string extract_quietly(const fs::path& index, const fs::path& folder,
                            output_format format = output_format::bmp, bool* incomplete = nullptr);

// Every file in `folder`, by name.
std::map<std::string, byte_vector> files_in(const fs::path& folder);

// A state with its buffers allocated, writing pictures into `folder` and console text into
// memory, which console_text() gives.
struct test_state {
  extraction_state state;
  char* console_bytes = nullptr;
  std::size_t console_size = 0;
  explicit test_state(const fs::path& folder);
  ~test_state();
  test_state(const test_state&) = delete;
  test_state& operator=(const test_state&) = delete;
  std::string console_text();
};
