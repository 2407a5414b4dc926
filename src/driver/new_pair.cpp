#include "driver/new_pair.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "common/files_in_progress.hpp"
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

// The partial copy of the archive, open for rebuilt records to be written into it; null (after
// the message) when it cannot be made.
std::FILE* copy_archive(extraction_state& state, const pair_names& names) {
  const std::string partial = names.new_archive + partial_suffix;
  begin_writing(file_slot::new_archive, partial);
  std::FILE* copy =
      copy_whole_file(names.archive_path, partial) ? open_file(partial, "r+b") : nullptr;
  if (copy == nullptr) {
    tell_failure(state, text::file_create_error, names.new_archive);
  }
  return copy;
}

// The new archive: the copy, with the records rebuilt during the walk written into it.
bool write_new_archive(extraction_state& state, const pair_names& names, insertion& work,
                       std::int64_t index_size, const given_pictures& given) {
  std::FILE* archive = copy_archive(state, names);
  if (archive == nullptr) {
    return false;
  }
  bool write_failed = false;
  rebuild_pair(state, work, index_size, given, [&](const placed_record& placed) {
    const bool written =
        seek_file(archive, placed.offset) &&
        std::fwrite(placed.bytes.data(), 1, placed.bytes.size(), archive) == placed.bytes.size();
    write_failed = write_failed || !written;
    return written;
  });
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
// checks every picture.
bool check_written_pair(extraction_state& state, const insertion& work, const pair_names& names,
                        std::int64_t index_size, const given_pictures& given,
                        std::uint8_t* start_screen) {
  const std::string written = names.new_archive + partial_suffix;
  const std::unique_ptr<std::FILE, file_closer> archive(open_file(written, "rb"));
  if (archive == nullptr) {
    tell_failure(state, text::file_open_error, written);
    return false;
  }
  std::setvbuf(archive.get(), nullptr, _IONBF, 0);
  // The index as written, too.
  return read_index_file(state, names.new_index + partial_suffix) == index_size &&
         check_new_pair(state,
                        {{state.index_buffer.get(), static_cast<std::size_t>(index_size)},
                         archive.get(),
                         start_screen},
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
                     std::int64_t index_size, const given_pictures& given) {
  const byte_buffer start_screen = blank_screen();
  std::memcpy(start_screen.get(), work.screen, screen_bytes);
  const bool complete =
      write_new_archive(state, names, work, index_size, given) && !work.failed &&
      write_new_index(state, work, names) &&
      check_written_pair(state, work, names, index_size, given, start_screen.get());
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

// Hints the pictures of the entry after `walked`, guessing that it holds as many as this one, so
// that they are read while this one is compared and rebuilt.
void read_next_entry_soon(const given_pictures& given, picture_kind kind,
                          const walked_entry& walked) {
  const std::int32_t count = walked.next_counter - walked.first_counter;
  for (std::int32_t frame = 0; given.read_soon && frame < count; ++frame) {
    given.read_soon({kind, walked.next_counter + frame, walked.entry + 1, frame});
  }
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
                  const given_pictures& given, const record_writer& write) {
  if (!known_index_size(index_size)) {
    return;
  }
  work.new_index.assign(state.index_buffer.get(), state.index_buffer.get() + index_size);
  work.archive_size =
      static_cast<std::uint64_t>(std::max<std::int64_t>(file_size(state.archive_stream), 0));
  start_rebuild(work, state.pixel_buffer.get());
  std::vector<shown_picture> shown;
  const auto keep = [&shown](const picture& found) { keep_picture(shown, found); };
  const auto rebuild = [&](const walked_entry& walked) {
    read_next_entry_soon(given, kind_of_index(index_size), walked);
    const placed_record placed = rebuild_entry(state, work, given, walked, shown);
    if (write && !placed.bytes.empty() && !write(placed)) {
      work.failed = true;
    }
    shown.clear();
    return true;
  };
  walk_pair(state, index_size, !state.quiet && !work.preview, keep, rebuild);
}

bool check_new_pair(extraction_state& state, const pair_to_walk& pair, const insertion& work,
                    const given_pictures& given, const std::string& index_path) {
  std::vector<shown_picture> shown;
  std::size_t next = 0;
  const auto keep = [&shown](const picture& found) { keep_picture(shown, found); };
  const auto compare = [&](const walked_entry&) {
    for (const shown_picture& picture : shown) {
      if (next >= work.expected.size() || fingerprint_of(picture) != work.expected[next++]) {
        say(state, text::insert_error,
            given.folder + given.name_of(picture.where) +
                ": the new pair does not give this picture back (a fault of ofb2bmp)");
        return false;
      }
    }
    shown.clear();
    return true;
  };
  if (!walk_pair(state, pair, false, keep, compare)) {
    return false;
  }
  if (next != work.expected.size()) {
    say(state, text::insert_error,
        index_path + ": the new pair gives fewer pictures back (a fault of ofb2bmp)");
    return false;
  }
  return true;
}

bool make_new_pair(extraction_state& state, const pair_names& names, insertion& work,
                   std::int64_t index_size, const given_pictures& given) {
  try {
    if (commit_new_pair(state, names, work, index_size, given)) {
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
