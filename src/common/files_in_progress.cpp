#include "common/files_in_progress.hpp"

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

namespace {

struct noted_path {
  char bytes[noted_path_capacity] = {};
  std::atomic<bool> whole{false};
  std::atomic<bool> creating{false}; // a writer thread is between publishing and creating it
};
static_assert(std::atomic<bool>::is_always_lock_free, "the handler may read the flag");

// The two .part files, then one picture for the main thread and each writer thread. Zero
// bytes from the start, so the program touches no page of them before it writes a picture.
constinit noted_path noted[2 + 1 + most_picture_writers];
constinit std::atomic<bool> interrupted{false};
constinit std::atomic<bool> line_open{false};
constinit std::atomic<void (*)(removal)> written_ahead{nullptr};
constinit std::atomic<int> deferred_signal{0};
constinit std::atomic<void (*)(int)> deferred_handler{nullptr};

bool on_writer_thread(file_slot slot, int writer) {
  return slot == file_slot::picture && writer > 0;
}

// What the main thread creates needs no waiting: an interruption runs on it (or, on Windows,
// stops it first), so it cannot create a file while the cleanup runs.
void wait_for_writer_threads() {
  for (int writer = 1; writer <= most_picture_writers; ++writer) {
    while (noted[2 + writer].creating) {
    }
  }
}

noted_path& slot_of(file_slot slot, int writer) {
  return slot == file_slot::picture ? noted[2 + writer] : noted[static_cast<int>(slot) - 1];
}

} // namespace

void begin_writing(file_slot slot, const std::string& path, int writer) {
  noted_path& into = slot_of(slot, writer);
  into.creating = slot == file_slot::picture;
  if (on_writer_thread(slot, writer)) {
    while (interrupted) {
      // The run is ending: the cleanup must not wait for this thread, nor find a file after.
      into.creating = false;
      std::this_thread::sleep_for(std::chrono::hours(1));
    }
  }
  into.whole = false;
  // The copy must not start before the flag is down, as the handler sees it from this thread
  // or another.
  std::atomic_thread_fence(std::memory_order_seq_cst);
  if (path.size() < noted_path_capacity) {
    std::memcpy(into.bytes, path.c_str(), path.size() + 1);
    into.whole = true;
  }
}

void file_created(file_slot slot, int writer, bool created) {
  noted_path& into = slot_of(slot, writer);
  if (!created) {
    into.whole = false; // before an interruption may look: the path may be another's file
  }
  into.creating = false;
  if (!on_writer_thread(slot, writer)) {
    if (const int signal_number = deferred_signal.exchange(0)) {
      deferred_handler.load()(signal_number);
    }
  }
}

bool defer_interruption(int signal_number, void (*handle)(int)) {
  if (!main_thread_creating()) {
    return false;
  }
  deferred_handler = handle;
  deferred_signal = signal_number;
  return true;
}

bool main_thread_creating() {
  return noted[2].creating;
}

void end_writing(file_slot slot, int writer) {
  slot_of(slot, writer).whole = false;
}

void note_console_line_open(bool open) {
  line_open = open;
}

bool console_line_open() {
  return line_open;
}

void note_written_ahead(void (*remove_written_ahead)(removal remove)) {
  written_ahead = remove_written_ahead;
}

void remove_files_being_written(removal remove) {
  interrupted = true;
  wait_for_writer_threads();
  for (noted_path& slot : noted) {
    if (slot.whole) {
      remove(slot.bytes);
    }
  }
  // A writer marks a file as written before it stops noting it in its slot: every file made
  // before the wait above is found in one of the two places.
  if (void (*const remove_ahead)(removal) = written_ahead) {
    remove_ahead(remove);
  }
}
