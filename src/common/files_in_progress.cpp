#include "common/files_in_progress.hpp"

#include <atomic>
#include <cstring>

namespace {

// Longer than any path Linux (4,096 bytes) or the Windows ANSI functions accept.
constexpr std::size_t path_capacity = 4096;

struct noted_path {
  char bytes[path_capacity];
  std::atomic<bool> whole{false};
};
static_assert(std::atomic<bool>::is_always_lock_free, "the handler may read the flag");

// The two .part files, then one picture for each writer thread.
noted_path noted[2 + most_picture_writers];

noted_path& slot_of(file_slot slot, int writer) {
  return slot == file_slot::picture ? noted[2 + writer] : noted[static_cast<int>(slot) - 1];
}

} // namespace

void begin_writing(file_slot slot, const std::string& path, int writer) {
  noted_path& into = slot_of(slot, writer);
  into.whole = false;
  // The copy must not start before the flag is down, as the handler sees it from this thread
  // or another.
  std::atomic_thread_fence(std::memory_order_seq_cst);
  if (path.size() < path_capacity) {
    std::memcpy(into.bytes, path.c_str(), path.size() + 1);
    into.whole = true;
  }
}

void end_writing(file_slot slot, int writer) {
  slot_of(slot, writer).whole = false;
}

void remove_files_being_written(void (*remove)(const char* path)) {
  for (noted_path& slot : noted) {
    if (slot.whole) {
      remove(slot.bytes);
    }
  }
}
