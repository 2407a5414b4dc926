#include "driver/new_pair.hpp"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "common/files_in_progress.hpp"
#include "common/system_files.hpp"
#include "driver/driver.hpp"
#include "driver/platform.hpp"

namespace {

constexpr char partial_suffix[] = ".part";

struct file_closer {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// Says the message, and on standard error the system's reason (by default the last failure's).
void tell_failure(extraction_state& state, text message, const std::string& name,
                  int error_code = last_error_code()) {
  say(state, message, name);
  tell_reason(name, error_code);
}

// Closes a file of the new pair. A write that failed before (`write_failed`) or now is named
// once, with the system's reason.
bool finish_file(extraction_state& state, std::FILE* file, const std::string& final_name,
                 bool write_failed) {
  const bool flushed = std::fflush(file) == 0 && std::ferror(file) == 0;
  const int error_code = last_error_code();
  const bool closed = std::fclose(file) == 0;
  const bool written = !write_failed && flushed && closed;
  if (!written) {
    say(state, text::file_write_error, final_name);
    tell_reason(final_name, flushed ? last_error_code() : error_code);
  }
  return written;
}

// True when the check found no difference; else says the difference it found.
bool said_no_difference(extraction_state& state, const std::string& difference) {
  if (!difference.empty()) {
    say(state, text::insert_error, difference);
  }
  return difference.empty();
}

// The check of a new pair on a thread of its own, following the rebuild entry by entry: each
// entry is read back from the partial archive once its record is written, and its pictures are
// fingerprinted. The run compares them with those expected once the rebuild is done.
struct check_alongside {
  std::mutex lock;
  std::condition_variable released_more;
  std::int32_t released = 0; // entries whose index entry and record are final
  bool ended = false;        // no more entries come: the rebuild is over or failed
  read_back pictures;        // the thread's until it is joined
  bool started = false;      // a thread could be had; else the pair is checked once written
  bool opened = false;       // the partial archive could be opened; else, the system's reason:
  int open_error = 0;
  std::exception_ptr failure;
  std::thread thread;

  void release(std::int32_t entries) {
    {
      const std::lock_guard<std::mutex> guard(lock);
      released = entries;
    }
    released_more.notify_one();
  }
  // Ends the walk after the entries released, and waits for it.
  void finish() {
    {
      const std::lock_guard<std::mutex> guard(lock);
      ended = true;
    }
    released_more.notify_one();
    if (thread.joinable()) {
      thread.join();
    }
  }
  ~check_alongside() { finish(); }
};

void check_while_written(check_alongside& check, const std::string& written, const insertion& work,
                         const given_pictures& given, const std::uint8_t* start_screen) {
  try {
    const std::unique_ptr<std::FILE, file_closer> archive(open_file(written, "rb"));
    if (archive == nullptr) {
      check.open_error = last_error_code();
      return;
    }
    check.opened = true;
    std::setvbuf(archive.get(), nullptr, _IONBF, 0);
    const byte_buffer record_buffer = zeroed_bytes(record_buffer_size);
    const byte_buffer screen = blank_screen();
    if (!record_buffer) {
      throw std::bad_alloc();
    }
    std::memcpy(screen.get(), start_screen, screen_bytes);
    const auto ready = [&check](std::int32_t entry) {
      std::unique_lock<std::mutex> guard(check.lock);
      check.released_more.wait(guard, [&] { return check.released > entry || check.ended; });
      return check.released > entry;
    };
    // The new index as rebuilt: an entry is read only once released, after its last change.
    const pair_to_walk pair{{work.new_index.data(), work.new_index.size()},
                            reader_of_file(archive.get()),
                            record_buffer.get(),
                            screen.get(),
                            nullptr,
                            ready};
    walk_pair(pair, [&check, &given](const picture& found) {
      note_read_back(check.pictures, given, found);
    });
  } catch (...) {
    check.failure = std::current_exception();
  }
}

// The partial copy of the archive, open for rebuilt records to be written into it; null (after
// the message) when it cannot be made. An output folder that takes no file at all ends the run:
// no other pair could be written there, and the pictures given were never looked at.
std::FILE* copy_archive(extraction_state& state, const pair_names& names) {
  const std::string partial = names.new_archive + partial_suffix;
  begin_writing(file_slot::new_archive, partial);
  std::FILE* copy =
      copy_whole_file(names.archive_path, partial) ? open_file(partial, "r+b") : nullptr;
  if (copy == nullptr) {
    const int error_code = last_error_code();
    // On Windows a folder standing under the name is refused as the folder would be.
    if (refused_by_folder(error_code) && !folder_exists(partial)) {
      throw fatal_error{text::file_create_error, names.new_archive, error_code};
    }
    tell_failure(state, text::file_create_error, names.new_archive, error_code);
  }
  return copy;
}

// The new archive: the copy, with the records rebuilt during the walk written into it. With
// `check`, the check starts once the new index is in place, and each entry is released to it
// once its record is written.
bool write_new_archive(extraction_state& state, const pair_names& names, insertion& work,
                       std::int64_t index_size, const given_pictures& given, check_alongside* check,
                       const std::uint8_t* start_screen) {
  std::FILE* archive = copy_archive(state, names);
  if (archive == nullptr) {
    return false;
  }
  if (check != nullptr) {
    // Each record goes to the file as it is written, for the check to read it back.
    std::setvbuf(archive, nullptr, _IONBF, 0);
  }
  bool write_failed = false;
  const auto write = [&](const placed_record& placed) {
    const bool written =
        seek_file(archive, placed.offset) &&
        std::fwrite(placed.bytes.data(), 1, placed.bytes.size(), archive) == placed.bytes.size();
    write_failed = write_failed || !written;
    return written;
  };
  const auto rebuilt = [&](std::int32_t entries) {
    if (check == nullptr) {
      return;
    }
    if (entries == 0) {
      try {
        start_without_interruptions([&] {
          check->thread =
              std::thread(check_while_written, std::ref(*check), names.new_archive + partial_suffix,
                          std::cref(work), std::cref(given), start_screen);
        });
        check->started = true;
      } catch (const std::system_error&) {
      }
    } else if (!write_failed) {
      check->release(entries);
    }
  };
  rebuild_pair(state, work, index_size, given, write, rebuilt);
  return finish_file(state, archive, names.new_archive, write_failed);
}

bool write_new_index(extraction_state& state, const insertion& work, const pair_names& names) {
  begin_writing(file_slot::new_index, names.new_index + partial_suffix);
  std::FILE* index = open_file(names.new_index + partial_suffix, "wb");
  if (index == nullptr) {
    tell_failure(state, text::file_create_error, names.new_index);
    return false;
  }
  const std::size_t size = work.new_index.size();
  return finish_file(state, index, names.new_index,
                     std::fwrite(work.new_index.data(), 1, size, index) != size);
}

// Reads the new pair back as written, from the screen its extraction will start from, and
// checks every picture. With `check`, the archive was read back while it was written, after
// the index in memory: that stands when the index file as written holds the same bytes.
bool check_written_pair(extraction_state& state, const insertion& work, const pair_names& names,
                        std::int64_t index_size, const given_pictures& given,
                        std::uint8_t* start_screen, check_alongside* check) {
  const std::string written = names.new_archive + partial_suffix;
  if (check != nullptr && !check->started) {
    check = nullptr;
  }
  if (check != nullptr) {
    check->finish();
    if (check->failure) {
      std::rethrow_exception(check->failure);
    }
    if (!check->opened) {
      tell_failure(state, text::file_open_error, written, check->open_error);
      return false;
    }
  }
  // The index as written, too.
  if (read_index_file(state, names.new_index + partial_suffix) != index_size) {
    return false;
  }
  if (check != nullptr &&
      std::memcmp(state.index_buffer.get(), work.new_index.data(), work.new_index.size()) == 0) {
    return said_no_difference(state,
                              compare_read_back(check->pictures, work, given, names.index_path));
  }
  const std::unique_ptr<std::FILE, file_closer> archive(open_file(written, "rb"));
  if (archive == nullptr) {
    tell_failure(state, text::file_open_error, written);
    return false;
  }
  std::setvbuf(archive.get(), nullptr, _IONBF, 0);
  return check_new_pair(state,
                        {{state.index_buffer.get(), static_cast<std::size_t>(index_size)},
                         reader_of_file(archive.get()),
                         state.record_buffer.get(),
                         start_screen,
                         nullptr,
                         {}},
                        work, given, names.index_path);
}

void remove_partial_pair(const pair_names& names) {
  std::remove((names.new_archive + partial_suffix).c_str());
  std::remove((names.new_index + partial_suffix).c_str());
  end_writing(file_slot::new_archive);
  end_writing(file_slot::new_index);
}

// Whether the new pair is complete, checked, and under its own names.
bool commit_new_pair(extraction_state& state, const pair_names& names, insertion& work,
                     std::int64_t index_size, const given_pictures& given,
                     bool check_alongside_it) {
  const byte_buffer start_screen = blank_screen();
  std::memcpy(start_screen.get(), work.screen, screen_bytes);
  // After the screen it reads: ended and joined before the screen goes.
  std::unique_ptr<check_alongside> check;
  if (check_alongside_it) {
    check = std::make_unique<check_alongside>();
  }
  const bool complete =
      write_new_archive(state, names, work, index_size, given, check.get(), start_screen.get()) &&
      !work.failed && write_new_index(state, work, names) &&
      check_written_pair(state, work, names, index_size, given, start_screen.get(), check.get());
  if (!complete) {
    return false;
  }
  if (!replace_file(names.new_archive + partial_suffix, names.new_archive)) {
    tell_failure(state, text::file_write_error, names.new_archive);
    return false;
  }
  if (!replace_file(names.new_index + partial_suffix, names.new_index)) {
    // An archive without the index that goes with it would be half a pair.
    const int error_code = last_error_code();
    std::remove(names.new_archive.c_str());
    tell_failure(state, text::file_write_error, names.new_index, error_code);
    return false;
  }
  end_writing(file_slot::new_archive);
  end_writing(file_slot::new_index);
  return true;
}

} // namespace

byte_buffer blank_screen() {
  byte_buffer screen = zeroed_bytes(pixel_buffer_size);
  if (!screen) {
    throw std::bad_alloc();
  }
  return screen;
}

void rebuild_pair(extraction_state& state, insertion& work, std::int64_t index_size,
                  const given_pictures& given, const record_writer& write,
                  const std::function<void(std::int32_t entries)>& rebuilt) {
  const bool progress = !state.quiet && !work.preview;
  // Each entry's refusals are said as soon as it is done, before the next countdown step.
  const auto entries_done = [&](std::int32_t entries) {
    for (const std::string& refusal : work.preview ? std::vector<std::string>{} : work.refusals) {
      say(state, text::insert_error, refusal);
    }
    work.refusals.clear();
    if (rebuilt) {
      rebuilt(entries);
    }
  };
  if (rebuild_pair(work, pair_in(state, index_size),
                   static_cast<std::uint64_t>(std::max<std::int64_t>(state.archive.size, 0)), given,
                   write, entries_done, countdown_of(state, progress)) &&
      progress) {
    say(state, text::completed);
  }
}

bool check_new_pair(extraction_state& state, const pair_to_walk& pair, const insertion& work,
                    const given_pictures& given, const std::string& index_path) {
  return said_no_difference(state, check_pair_read_back(pair, work, given, index_path));
}

bool make_new_pair(extraction_state& state, const pair_names& names, insertion& work,
                   std::int64_t index_size, const given_pictures& given, bool check_alongside) {
  try {
    if (commit_new_pair(state, names, work, index_size, given, check_alongside)) {
      return true;
    }
  } catch (...) {
    remove_partial_pair(names);
    throw;
  }
  // No new pair: the screen goes on as the original shows it.
  std::memcpy(work.screen, state.pixel_buffer.get(), screen_bytes);
  remove_partial_pair(names);
  state.incomplete = true;
  return false;
}
