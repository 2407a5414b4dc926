// --insert: for each index file of the inputs, a new pair in the output folder holding the
// edited pictures. The input pair is only read; the new pair is written under temporary names
// and takes its own names only once it is complete and extracts to the pictures expected.
#include <cstdio>
#include <string>
#include <vector>

#include "archive/archive.hpp"
#include "archive/insert_pair.hpp"
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

std::vector<pair_names> find_pairs(const extraction_state& state,
                                   const std::vector<std::string>& inputs) {
  const path_syntax& syntax = native_path_syntax();
  std::vector<pair_names> pairs;
  std::set<std::string> done;
  for (const std::string& input : inputs) {
    const std::string prefix = folder_prefix(input, syntax);
    for (const folder_entry& entry : find_matching_entries(search_pattern(input, syntax))) {
      const std::string index_path = prefix + entry.name;
      if (entry.is_folder || !done.insert(identity_of(index_path)).second) {
        continue;
      }
      const std::string archive_path = paired_file_name(archive_name(index_path, syntax));
      pairs.push_back({index_path, entry.name, archive_path, state.output_folder + entry.name,
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
    const std::size_t got = std::fread(state.output_buffer.get(), 1, output_buffer_size, from);
    if (got > 0 && std::fwrite(state.output_buffer.get(), 1, got, to) != got) {
      return -1;
    }
    copied += static_cast<std::int64_t>(got);
    if (got < output_buffer_size) {
      return std::ferror(from) != 0 ? -1 : copied;
    }
  }
}

// Makes the partial copy of an input file; null (after the message) when it cannot.
std::FILE* start_copy(extraction_state& state, std::FILE* from, const std::string& final_name,
                      std::int64_t& copied) {
  std::FILE* to = std::fopen((final_name + partial_suffix).c_str(), "w+b");
  if (to == nullptr) {
    say(state, text::file_create_error, final_name);
    return nullptr;
  }
  copied = seek_file(from, 0) ? copy_stream(state, from, to) : -1;
  if (copied < 0) {
    say(state, text::file_write_error, final_name);
    std::fclose(to);
    return nullptr;
  }
  return to;
}

std::uint64_t stream_size(std::FILE* stream) {
  std::fseek(stream, 0, SEEK_END);
#ifdef _WIN32
  return static_cast<std::uint64_t>(_ftelli64(stream));
#else
  return static_cast<std::uint64_t>(ftello(stream));
#endif
}

// The partial copy of the archive, open for rebuilt records to be written into it; null (after
// the message) when it cannot be made.
std::FILE* copy_archive(extraction_state& state, const pair_names& names) {
  const std::string partial = names.new_archive + partial_suffix;
  if (!copy_whole_file(names.archive_path, partial)) {
    say(state, text::file_create_error, names.new_archive);
    return nullptr;
  }
  std::FILE* copy = std::fopen(partial.c_str(), "r+b");
  if (copy == nullptr) {
    say(state, text::file_create_error, names.new_archive);
  }
  return copy;
}

bool finish_file(extraction_state& state, std::FILE* file, const std::string& final_name) {
  const bool flushed = std::fflush(file) == 0 && std::ferror(file) == 0;
  const bool closed = std::fclose(file) == 0;
  if (!flushed || !closed) {
    say(state, text::file_write_error, final_name);
  }
  return flushed && closed;
}

// Writes the new index: the rebuilt table for the three kinds, else a copy.
bool write_new_index(extraction_state& state, const insertion& work, const pair_names& names) {
  std::FILE* index = std::fopen(names.index_path.c_str(), "rb");
  if (index == nullptr) {
    say(state, text::file_open_error, names.index_path);
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
  if (!rewritten) {
    say(state, text::file_write_error, names.new_index);
  }
  return finish_file(state, made, names.new_index) && rewritten;
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
  state.archive_stream = std::fopen(written.c_str(), "rb");
  if (state.archive_stream == nullptr) {
    say(state, text::file_open_error, written);
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
}

// Builds, checks and names the new pair of one index file. A picture or file that fails
// leaves no new pair (and status 1); the other index files go on.
void build_pair(extraction_state& state, const std::string& pictures_folder,
                const std::set<std::string>& picture_files, const pair_names& names) {
  const path_syntax& syntax = native_path_syntax();
  state.index_path = names.index_path;
  if (!state.quiet) {
    say(state, text::index_path, names.index_path);
  }
  const std::int64_t index_size = read_index_file(state, names.index_path);
  open_archive(state, names.archive_path);

  insertion work;
  work.pictures_folder = pictures_folder;
  work.picture_files = picture_files;
  work.archive_name = names.new_archive;
  if (known_index_size(index_size)) {
    work.new_index.assign(state.index_buffer.get(), state.index_buffer.get() + index_size);
  }
  work.screen = byte_buffer(static_cast<std::uint8_t*>(std::calloc(pixel_buffer_size, 1)));
  if (!work.screen) {
    throw std::bad_alloc();
  }
  work.new_archive = copy_archive(state, names);
  const std::string base = base_name(names.file_name, syntax);
  if (work.new_archive != nullptr) {
    work.archive_size = seek_file(work.new_archive, 0) ? stream_size(work.new_archive) : 0;
    insert_pictures(state, work, base, index_size);
    work.failed = !finish_file(state, work.new_archive, names.new_archive) || work.failed;
  }
  const bool complete = work.new_archive != nullptr && !work.failed &&
                        write_new_index(state, work, names) &&
                        verify_written_pair(state, work, names, base, index_size);
  close_archive(state);
  if (complete && replace_file(names.new_archive + partial_suffix, names.new_archive) &&
      replace_file(names.new_index + partial_suffix, names.new_index)) {
    if (!state.quiet) {
      say(state, text::inserted, std::to_string(work.replaced), work.rounded);
    }
    return;
  }
  if (complete) {
    say(state, text::file_write_error, names.new_index);
  }
  remove_partial_pair(names);
  state.incomplete = true;
}

// A failure that ends the run leaves no partial pair behind either.
void insert_into_pair(extraction_state& state, const std::string& pictures_folder,
                      const std::set<std::string>& picture_files, const pair_names& names) {
  try {
    build_pair(state, pictures_folder, picture_files, names);
  } catch (...) {
    close_archive(state);
    remove_partial_pair(names);
    throw;
  }
}

} // namespace

int insert_pictures_of(extraction_state& state, const std::string& pictures_folder,
                       const std::vector<std::string>& inputs) {
  if (!folder_exists(pictures_folder)) {
    say(state, text::file_open_error, pictures_folder);
    state.incomplete = true;
    return 0;
  }
  std::string folder = pictures_folder;
  if (folder_prefix(folder, native_path_syntax()).size() != folder.size()) {
    folder += native_path_syntax().separators[0];
  }
  reuse_freed_memory();
  const std::vector<pair_names> pairs = find_pairs(state, inputs);
  const std::string replaced = replaced_input(pairs);
  if (!replaced.empty()) {
    print_text(stderr, text::would_replace_input, replaced);
    return 2;
  }
  // The folder is read once; each picture is then looked up by name.
  std::set<std::string> picture_files;
  for (const folder_entry& entry : find_matching_entries(folder + "*")) {
    if (!entry.is_folder) {
      picture_files.insert(entry.name);
    }
  }
  for (const pair_names& names : pairs) {
    insert_into_pair(state, folder, picture_files, names);
  }
  return 0;
}
