// A whole index walk: arbitrary index entries and an arbitrary archive. The first byte picks
// the index size (frame banks, screen banks, direct colour, or an unknown size); the next
// bytes are the index (zero entries where the input ends early); the rest is the archive.
#include <cstring>

#include "archive/archive.hpp"
#include "fuzz_support.hpp"

namespace {

constexpr std::int64_t index_sizes[] = {frame_bank_index_size, screen_bank_index_size,
                                        direct_index_size, 8};

// An archive stream over the input's bytes; an empty archive is an empty file.
std::FILE* open_archive(const std::uint8_t* bytes, std::size_t size) {
  if (size == 0) {
    return std::fopen("/dev/null", "rb");
  }
  return fmemopen(const_cast<std::uint8_t*>(bytes), size, "rb");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzz_state fuzz;
  if (size < 1) {
    return -1;
  }
  const std::int64_t index_size = index_sizes[data[0] % 4];
  const std::size_t index_bytes = std::min<std::size_t>(size - 1, index_size);
  fuzz.start_input();
  std::memset(fuzz.state.index_buffer.get(), 0, index_size);
  std::memcpy(fuzz.state.index_buffer.get(), data + 1, index_bytes);
  fuzz.state.archive_stream = open_archive(data + 1 + index_bytes, size - 1 - index_bytes);
  require(fuzz.state.archive_stream != nullptr, "no archive stream");
  fuzz.state.archive_path = "A.BIN";
  try {
    extract_pair(fuzz.state, "P", index_size);
  } catch (const fatal_error& failure) {
    require(false, text_of(failure.message, failure.name).c_str());
  }
  std::fclose(fuzz.state.archive_stream);
  fuzz.state.archive_stream = nullptr;

  const std::string console = fuzz.console_text();
  check_and_clear_bitmaps(fuzz.state);
  const std::size_t broken =
      count_of(console, "broken frame![") + count_of(console, "broken record![");
  require(fuzz.state.incomplete == (broken != 0), "incomplete does not match the messages");
  if (index_size == 8) {
    require(console.empty(), "an index of unknown size yields nothing");
  } else {
    require(console.size() >= 12 && console.compare(console.size() - 12, 12, "\ncompleted.\n") == 0,
            "the walk ends with its completion line");
    require(count_of(console, "\r") == static_cast<std::size_t>(index_size / 8),
            "one countdown step per entry");
  }
  return 0;
}
