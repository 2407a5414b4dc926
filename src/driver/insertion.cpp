// --insert: for each index file of the inputs, a new pair in the output folder holding the
// edited pictures. The input pair is only read; the new pair is written under temporary names
// and takes its own names only once it is complete and extracts to the pictures expected.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "archive/archive.hpp"
#include "archive/insert_pair.hpp"
#include "common/files_in_progress.hpp"
#include "driver/driver.hpp"
#include "driver/platform.hpp"

namespace {

// One index file of the run, its archive, and the names of the new pair.
struct pair_names {
  std::string index_path;
  std::string file_name;
  std::string archive_path;
  std::string new_index;
  std::string new_archive;
};

constexpr char partial_suffix[] = ".part";

std::string last_component(const std::string& path) {
  return path.substr(scan_path(path, native_path_syntax()).name_start);
}

std::vector<pair_names> find_pairs(extraction_state& state,
                                   const std::vector<std::string>& inputs) {
  const path_syntax& syntax = native_path_syntax();
  std::vector<pair_names> pairs;
  std::set<std::string> done;
  for (const std::string& input : inputs) {
    for (const index_file& found : find_index_files(state, input, done)) {
      const std::string archive_path = paired_file_name(archive_name(found.path, syntax));
      pairs.push_back({found.path, found.name, archive_path, state.output_folder + found.name,
                       state.output_folder + last_component(archive_path)});
    }
  }
  return pairs;
}

// The input files that a new pair of this run would replace: the first found, or empty.
std::string replaced_input(const std::vector<pair_names>& pairs) {
  for (const pair_names& output : pairs) {
    for (const pair_names& input : pairs) {
      for (const std::string* made : {&output.new_index, &output.new_archive}) {
        for (const std::string* read : {&input.index_path, &input.archive_path}) {
          if (same_file(*made, *read)) {
            return *read;
          }
        }
      }
    }
  }
  return {};
}

// Copies the rest of `from` to `to`; the number of bytes copied, or -1 on a read or write error.
std::int64_t copy_stream(extraction_state& state, std::FILE* from, std::FILE* to) {
  std::int64_t copied = 0;
  for (;;) {
    const std::size_t got = std::fread(state.output.buffer.get(), 1, output_buffer_size, from);
    if (got > 0 && std::fwrite(state.output.buffer.get(), 1, got, to) != got) {
      return -1;
    }
    copied += static_cast<std::int64_t>(got);
    if (got < output_buffer_size) {
      return std::ferror(from) != 0 ? -1 : copied;
    }
  }
}

// Says the message, and on standard error the system's reason.
void tell_failure(extraction_state& state, text message, const std::string& name) {
  const int error_code = last_error_code();
  say(state, message, name);
  tell_reason(name, error_code);
}

// Makes the partial copy of an input file; null (after the message) when it cannot.
std::FILE* start_copy(extraction_state& state, std::FILE* from, const std::string& final_name,
                      std::int64_t& copied) {
  begin_writing(file_slot::new_index, final_name + partial_suffix);
  std::FILE* to = open_file(final_name + partial_suffix, "wb");
  if (to == nullptr) {
    tell_failure(state, text::file_create_error, final_name);
    return nullptr;
  }
  copied = seek_file(from, 0) ? copy_stream(state, from, to) : -1;
  if (copied < 0) {
    tell_failure(state, text::file_write_error, final_name);
    std::fclose(to);
    return nullptr;
  }
  return to;
}

// The partial copy of the archive, open for rebuilt records to be written into it; null (after
// the message) when it cannot be made.
std::FILE* copy_archive(extraction_state& state, const pair_names& names) {
  const std::string partial = names.new_archive + partial_suffix;
  begin_writing(file_slot::new_archive, partial);
  if (!copy_whole_file(names.archive_path, partial)) {
    tell_failure(state, text::file_create_error, names.new_archive);
    return nullptr;
  }
  std::FILE* copy = open_file(partial, "r+b");
  if (copy == nullptr) {
    tell_failure(state, text::file_create_error, names.new_archive);
  }
  return copy;
}

// Closes a file of the new pair. A write that failed before (`write_failed`) or now is named
// once, with the system's reason.
bool finish_file(extraction_state& state, std::FILE* file, const std::string& final_name,
                 bool write_failed = false) {
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

// Writes the new index: the rebuilt table for the three kinds, else a copy.
bool write_new_index(extraction_state& state, const insertion& work, const pair_names& names) {
  std::FILE* index = std::fopen(names.index_path.c_str(), "rb");
  if (index == nullptr) {
    tell_failure(state, text::file_open_error, names.index_path);
    return false;
  }
  std::int64_t copied = 0;
  std::FILE* made = start_copy(state, index, names.new_index, copied);
  std::fclose(index);
  if (made == nullptr) {
    return false;
  }
  const bool rewritten =
      work.new_index.empty() ||
      (seek_file(made, 0) &&
       std::fwrite(work.new_index.data(), 1, work.new_index.size(), made) == work.new_index.size());
  return finish_file(state, made, names.new_index, !rewritten);
}

void close_archive(extraction_state& state) {
  if (state.archive_stream != nullptr) {
    std::fclose(state.archive_stream);
    state.archive_stream = nullptr;
  }
}

// Reads the new pair back as written and extracts it in memory, checking every picture.
bool verify_written_pair(extraction_state& state, const insertion& work, const pair_names& names,
                         const std::string& base, std::int64_t index_size) {
  close_archive(state);
  const std::string written = names.new_archive + partial_suffix;
  state.archive_stream = open_file(written, "rb");
  if (state.archive_stream == nullptr) {
    tell_failure(state, text::file_open_error, written);
    return false;
  }
  std::setvbuf(state.archive_stream, nullptr, _IONBF, 0);
  // The index as written, too.
  const bool verified = read_index_file(state, names.new_index + partial_suffix) == index_size &&
                        verify_new_pair(state, work, base, index_size);
  close_archive(state);
  return verified;
}

void remove_partial_pair(const pair_names& names) {
  std::remove((names.new_archive + partial_suffix).c_str());
  std::remove((names.new_index + partial_suffix).c_str());
  end_writing(file_slot::new_archive);
  end_writing(file_slot::new_index);
}

// What one --insert run owns across its index files.
struct insertion_run {
  std::string folder;         // the pictures folder, separator included
  picture_file_names files;   // the files there
  bool preview = false;       // --list: nothing is written, rows say what would happen
  byte_buffer screen;         // the new pairs' screen, carried as extraction carries it
  std::set<std::string> used; // files taken as pictures
};

const char* result_name(insertion_result result) {
  switch (result) {
  case insertion_result::unchanged:
    return "unchanged";
  case insertion_result::replaced:
    return "replaced";
  case insertion_result::refused:
    return "refused";
  }
  return "";
}

void list_insertion_row(extraction_state& state, const std::string& index_path,
                        const std::string& file, const std::string& place, const char* result,
                        const std::string& rounded_and_slots, const std::string& reason) {
  say(state, text::list_row,
      index_path + '\t' + last_component(file) + '\t' + place + '\t' + result + '\t' +
          rounded_and_slots + '\t' + (reason.empty() ? "-" : reason));
}

void list_rows(extraction_state& state, const insertion& work) {
  for (const insertion_row& row : work.rows) {
    list_insertion_row(state, work.index_path, row.file,
                       std::to_string(row.entry) + '\t' +
                           (row.frame < 0 ? std::string("-") : std::to_string(row.frame)),
                       result_name(row.result),
                       std::string(row.rounded ? "yes" : "no") + '\t' +
                           std::to_string(row.slots_added),
                       row.reason);
  }
}

// The new pair of one index file, rebuilt and checked, under its own names. A picture or file
// that fails leaves no new pair (and status 1); the other index files go on.
void write_pair(extraction_state& state, insertion_run& run, insertion& work,
                const pair_names& names, const std::string& base, std::int64_t index_size) {
  // Each pair's check starts from the screen its extraction will start from.
  const std::vector<std::uint8_t> new_start(run.screen.get(), run.screen.get() + screen_bytes);
  work.new_archive = copy_archive(state, names);
  if (work.new_archive != nullptr) {
    work.archive_size =
        static_cast<std::uint64_t>(std::max<std::int64_t>(file_size(work.new_archive), 0));
    insert_pictures(state, work, base, index_size);
    if (!finish_file(state, work.new_archive, names.new_archive, work.write_failed)) {
      work.failed = true;
    }
  }
  const std::vector<std::uint8_t> original_end(state.pixel_buffer.get(),
                                               state.pixel_buffer.get() + screen_bytes);
  std::memcpy(state.pixel_buffer.get(), new_start.data(), screen_bytes);
  const bool complete = work.new_archive != nullptr && !work.failed &&
                        write_new_index(state, work, names) &&
                        verify_written_pair(state, work, names, base, index_size);
  close_archive(state);
  std::memcpy(state.pixel_buffer.get(), original_end.data(), screen_bytes);
  if (complete && replace_file(names.new_archive + partial_suffix, names.new_archive) &&
      replace_file(names.new_index + partial_suffix, names.new_index)) {
    end_writing(file_slot::new_archive);
    end_writing(file_slot::new_index);
    if (!state.quiet) {
      say(state, text::inserted, counted(work.replaced, "picture"), work.rounded);
    }
    return;
  }
  if (complete) {
    tell_failure(state, text::file_write_error, names.new_index);
  }
  // No new pair: the screen goes on as the original shows it.
  std::memcpy(run.screen.get(), original_end.data(), screen_bytes);
  remove_partial_pair(names);
  state.incomplete = true;
}

void build_pair(extraction_state& state, insertion_run& run, const pair_names& names) {
  const path_syntax& syntax = native_path_syntax();
  if (!state.quiet && !run.preview) {
    say(state, text::index_path, names.index_path);
  }
  const std::int64_t index_size = read_index_file(state, names.index_path);
  open_archive(state, names.archive_path);
  if (!known_index_size(index_size)) { // passed over, as extraction passes it over
    print_text(stderr, text::unknown_index_size,
               names.index_path + ": " + std::to_string(index_size));
    close_archive(state);
    return;
  }
  insertion work;
  work.pictures_folder = run.folder;
  work.picture_files = &run.files;
  work.index_path = names.index_path;
  work.archive_name = names.new_archive;
  work.preview = run.preview;
  work.screen = run.screen.get();
  work.new_index.assign(state.index_buffer.get(), state.index_buffer.get() + index_size);
  const std::string base = base_name(names.file_name, syntax);
  if (run.preview) {
    work.archive_size =
        static_cast<std::uint64_t>(std::max<std::int64_t>(file_size(state.archive_stream), 0));
    insert_pictures(state, work, base, index_size);
    close_archive(state);
    list_rows(state, work);
    state.incomplete = state.incomplete || work.failed;
  } else {
    write_pair(state, run, work, names, base, index_size);
  }
  run.used.insert(work.used.begin(), work.used.end());
}

// A failure that ends the run leaves no partial pair behind either.
void insert_into_pair(extraction_state& state, insertion_run& run, const pair_names& names) {
  try {
    build_pair(state, run, names);
  } catch (...) {
    close_archive(state);
    remove_partial_pair(names);
    throw;
  }
}

bool is_picture_file(const std::string& key) {
  const std::size_t size = key.size();
  return size > 4 &&
         (key.compare(size - 4, 4, ".BMP") == 0 || key.compare(size - 4, 4, ".PNG") == 0);
}

// Pictures in the folder named like those of a pair of the run (its base name, then anything)
// that name none of its pictures: said on standard error, and listed in a preview.
void report_unused_files(extraction_state& state, const insertion_run& run,
                         const std::vector<pair_names>& pairs) {
  const path_syntax& syntax = native_path_syntax();
  for (const auto& [key, files] : run.files) {
    for (const pair_names& pair : pairs) {
      const std::string base = picture_file_key(base_name(pair.file_name, syntax));
      if (!is_picture_file(key) || key.compare(0, base.size(), base) != 0) {
        continue;
      }
      for (const std::string& file : files) {
        if (run.used.count(run.folder + file) != 0) {
          continue;
        }
        print_text(stderr, text::not_used, run.folder + file);
        if (run.preview) {
          list_insertion_row(state, pair.index_path, file, "-\t-", "not used", "-\t-",
                             "names no picture of " + last_component(pair.index_path));
        }
      }
      break;
    }
  }
}

} // namespace

int insert_pictures_of(extraction_state& state, const std::string& pictures_folder,
                       const std::vector<std::string>& inputs, bool preview) {
  if (!folder_exists(pictures_folder)) {
    const int error_code = last_error_code();
    say(state, text::file_open_error, pictures_folder);
    if (file_exists(pictures_folder)) {
      print_text(stderr, text::system_reason, pictures_folder + ": not a folder");
    } else {
      tell_reason(pictures_folder, error_code);
    }
    state.incomplete = true;
    return 0;
  }
  insertion_run run;
  run.folder = pictures_folder;
  run.preview = preview;
  if (folder_prefix(run.folder, native_path_syntax()).size() != run.folder.size()) {
    run.folder += native_path_syntax().separators[0];
  }
  reuse_freed_memory();
  std::vector<pair_names> pairs = find_pairs(state, inputs);
  const std::string replaced = preview ? std::string() : replaced_input(pairs);
  if (!replaced.empty()) {
    print_text(stderr, text::would_replace_input, replaced);
    return 2;
  }
  // -n: a new pair whose files exist is not made.
  std::erase_if(pairs, [&](const pair_names& names) {
    const int existing = state.keep_existing && !preview
                             ? file_exists(names.new_index) + file_exists(names.new_archive)
                             : 0;
    state.kept += existing;
    return existing > 0;
  });
  // The folder is read once; each picture is then looked up by name.
  for (const folder_entry& entry : find_matching_entries(run.folder + "*")) {
    if (!entry.is_folder) {
      run.files[picture_file_key(entry.name)].push_back(entry.name);
    }
  }
  run.screen = byte_buffer(static_cast<std::uint8_t*>(std::calloc(pixel_buffer_size, 1)));
  if (!run.screen) {
    throw std::bad_alloc();
  }
  if (preview) {
    say(state, text::insert_list_header);
  }
  for (const pair_names& names : pairs) {
    insert_into_pair(state, run, names);
  }
  report_unused_files(state, run, pairs);
  return 0;
}
