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

noted_path noted[file_slot_count];

noted_path& slot_of(file_slot slot) {
  return noted[static_cast<int>(slot)];
}

} // namespace

void begin_writing(file_slot slot, const std::string& path) {
  noted_path& into = slot_of(slot);
  into.whole = false;
  // The copy must not start before the flag is down, as the handler sees it.
  std::atomic_signal_fence(std::memory_order_seq_cst);
  if (path.size() < path_capacity) {
    std::memcpy(into.bytes, path.c_str(), path.size() + 1);
    into.whole = true;
  }
}

void end_writing(file_slot slot) {
  slot_of(slot).whole = false;
}

void remove_files_being_written(void (*remove)(const char* path)) {
  for (noted_path& slot : noted) {
    if (slot.whole) {
      remove(slot.bytes);
    }
  }
}
