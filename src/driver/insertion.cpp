// --insert: for each index file of the inputs, a new pair in the output folder holding the
// edited pictures. The input pair is only read; the new pair is written under temporary names
// and takes its own names only once it is complete and extracts to the pictures expected.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include "disc/patched_copy.hpp"
#include "driver/disc_inputs.hpp"
#include "driver/driver.hpp"
#include "driver/new_pair.hpp"
#include "driver/platform.hpp"
#include "pictures/picture_names.hpp"
#include "pictures/picture_reader.hpp"
#include "pictures/read_ahead.hpp"

namespace {

std::string last_component(const std::string& path) {
  return path.substr(scan_path(path, native_path_syntax()).name_start);
}

// The pairs on disk the inputs name; the disc images they name go to `discs`.
std::vector<pair_names> find_pairs(extraction_state& state, const std::vector<std::string>& inputs,
                                   std::vector<std::string>& discs) {
  const path_syntax& syntax = native_path_syntax();
  std::vector<pair_names> pairs;
  std::set<std::string> done;
  for (const std::string& input : inputs) {
    if (names_disc_image(input) && !finds_index_file(input)) {
      discs.push_back(input);
      continue;
    }
    for (const index_file& found : find_index_files(state, input, done)) {
      const std::string archive_path = paired_file_name(archive_name(found.path, syntax));
      pairs.push_back({found.path, found.name, archive_path, state.files.folder + found.name,
                       state.files.folder + last_component(archive_path)});
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

// The names of the files in the pictures folder, by picture_file_key: pictures are found
// ignoring letter case.
using picture_file_names = std::map<std::string, std::vector<std::string>>;

// A file name with ASCII letters in upper case.
std::string picture_file_key(std::string name) {
  return ascii_upper_case(std::move(name));
}

constexpr const char* result_names[] = {"unchanged", "replaced", "refused"};

// What one --insert run owns across its index files.
struct insertion_run {
  std::string folder;            // the pictures folder, separator included
  picture_file_names files;      // the files there
  bool preview = false;          // --list: nothing is written, rows say what would happen
  bool nearest = false;          // --nearest: colours beyond the free slots take the nearest
  byte_buffer screen;            // the new pairs' screen (blank_screen)
  std::set<std::string> used;    // files taken as pictures
  read_ahead_threads read_ahead; // with more than one thread: files read before they are needed
};

// The files of the folder named like a picture of the pair whose pictures are named after `base`,
// as a bitmap or a PNG, in any letter case.
std::vector<std::string> files_named_for(const insertion_run& run, const std::string& base,
                                         const picture_place& place) {
  const std::string stem =
      base + (place.kind == picture_kind::direct ? direct_suffix(place.counter)
                                                 : indexed_suffix(place.counter));
  std::vector<std::string> files;
  for (const char* extension : {".BMP", ".PNG"}) {
    const auto found = run.files.find(picture_file_key(stem + extension));
    if (found != run.files.end()) {
      files.insert(files.end(), found->second.begin(), found->second.end());
    }
  }
  return files;
}

// The pictures given for the pair whose pictures are named after `base`.
given_pictures pictures_given(const extraction_state& state, insertion_run& run,
                              const std::string& base) {
  const auto files_for = [&run, base](const picture_place& place) {
    std::vector<std::string> files = files_named_for(run, base, place);
    for (const std::string& file : files) {
      run.used.insert(run.folder + file);
    }
    return files;
  };
  const auto read = [&run](const std::string& path, std::size_t most_pixels,
                           picture_pixels& picture, std::string& why) {
    return read_picture_from(run.read_ahead.get(), path, most_pixels, picture, why);
  };
  const auto name_of = [&state, base](const picture_place& place) {
    return picture_name(state.files, base, place);
  };
  std::function<void(const picture_place&)> read_soon;
  if (run.read_ahead) {
    read_soon = [&run, base](const picture_place& place) {
      const std::vector<std::string> files = files_named_for(run, base, place);
      if (!files.empty()) {
        read_ahead_of(*run.read_ahead, run.folder + files.front());
      }
    };
  }
  return {run.folder, files_for, read, name_of, read_soon, keep_picture};
}

void list_insertion_row(extraction_state& state, const std::string& index_path,
                        const std::string& file, const std::string& place, const char* result,
                        const std::string& what_it_took, const std::string& reason) {
  say(state, text::list_row,
      index_path + '\t' + last_component(file) + '\t' + place + '\t' + result + '\t' +
          what_it_took + '\t' + (reason.empty() ? "-" : reason));
}

// "16x16 -> 32x32" for a picture given at another size than it had, else empty.
std::string size_change(const insertion_row& row) {
  if (row.width == 0 && row.height == 0 && row.old_width == 0 && row.old_height == 0) {
    return {};
  }
  return std::to_string(row.old_width) + 'x' + std::to_string(row.old_height) + " -> " +
         std::to_string(row.width) + 'x' + std::to_string(row.height);
}

// The largest distance of a pixel to the nearest colour it took, over 8-bit channels, rounded.
std::string distance_of(std::int32_t squared) {
  return std::to_string(std::lround(std::sqrt(static_cast<double>(squared))));
}

void list_rows(extraction_state& state, const std::string& index_path, const insertion& work) {
  for (const insertion_row& row : work.rows) {
    const std::string size = size_change(row);
    list_insertion_row(state, index_path, row.file,
                       std::to_string(row.entry) + '\t' +
                           (row.frame < 0 ? std::string("-") : std::to_string(row.frame)),
                       result_names[static_cast<int>(row.result)],
                       std::string(row.rounded ? "yes" : "no") + '\t' +
                           std::to_string(row.slots_added) + '\t' + (size.empty() ? "-" : size) +
                           '\t' + std::to_string(row.moved) + '\t' +
                           (row.moved > 0 ? distance_of(row.farthest) : "-"),
                       row.reason);
  }
}

// After a new pair is made: how many pixels took a nearest colour (a progress line, as the count
// of pictures replaced), and on standard error each picture put back at another size.
void tell_what_moved(extraction_state& state, const insertion& work) {
  if (work.moved > 0 && !state.quiet) {
    say(state, text::inserted_moved,
        counted(work.moved, "picture") + " with " + grouped(work.moved_pixels) +
            (work.moved_pixels == 1 ? " pixel" : " pixels"));
  }
  for (const insertion_row& row : work.rows) {
    const std::string size = size_change(row);
    if (!size.empty()) {
      tell(state, text::size_changed, row.file + ": " + size);
    }
  }
}

// The pair's new pair, or in a preview the rows saying what would become of its pictures.
void put_back(extraction_state& state, insertion_run& run, const pair_names& names,
              std::int64_t index_size) {
  insertion work;
  work.preview = run.preview;
  work.nearest = run.nearest;
  work.screen = run.screen.get();
  const given_pictures given =
      pictures_given(state, run, base_name(names.file_name, native_path_syntax()));
  if (run.preview) {
    rebuild_pair(state, work, index_size, given);
    list_rows(state, names.index_path, work);
    state.incomplete = state.incomplete || work.failed;
  } else if (make_new_pair(state, names, work, index_size, given, run.read_ahead != nullptr)) {
    ++state.pairs_made;
    if (!state.quiet) {
      say(state, text::inserted, counted(work.replaced, "picture"), work.rounded);
    }
    tell_what_moved(state, work);
  }
}

void insert_into_pair(extraction_state& state, insertion_run& run, const pair_names& names) {
  if (!run.preview) {
    make_output_folder(state);
  }
  if (!state.quiet && !run.preview) {
    say(state, text::index_path, names.index_path);
  }
  const std::int64_t index_size = read_index_file(state, names.index_path);
  open_archive(state, names.archive_path);
  if (known_index_size(index_size)) {
    put_back(state, run, names, index_size);
  } else { // passed over, as extraction passes it over
    print_text(stderr, text::unknown_index_size,
               names.index_path + ": " + counted(index_size, "byte"));
  }
  state.archive = {};
}

// ---- a disc image: its pairs rebuilt in memory, then one patched copy of the image ----------

byte_vector whole_disc_file(const disc_image& disc, const iso_file& file) {
  byte_vector bytes(file.size);
  bytes.resize(read_disc_file(disc, file, 0, bytes.data(), bytes.size()).size);
  return bytes;
}

// A pair rebuilt in memory and checked: work.new_index and `archive` (the original's bytes at
// first) become the new pair's. False, after the messages, when it cannot be put back.
bool rebuild_in_memory(extraction_state& state, insertion& work, const given_pictures& given,
                       std::int64_t index_size, byte_vector& archive,
                       const std::string& index_path) {
  const byte_buffer start_screen = blank_screen();
  std::memcpy(start_screen.get(), work.screen, screen_bytes);
  const record_writer write = [&archive](const placed_record& placed) {
    const std::size_t end = placed.offset + placed.bytes.size();
    archive.resize(std::max(archive.size(), end), 0);
    std::copy(placed.bytes.begin(), placed.bytes.end(), archive.begin() + placed.offset);
    return true;
  };
  rebuild_pair(state, work, index_size, given, write);
  if (work.failed) {
    return false;
  }
  const read_at_offset read = [&archive](std::uint64_t offset, std::uint8_t* into,
                                         std::size_t count) {
    const std::size_t from = std::min<std::uint64_t>(offset, archive.size());
    const std::size_t got = std::min(count, archive.size() - from);
    std::copy_n(archive.begin() + from, got, into);
    return got;
  };
  const std::string difference =
      check_pair_read_back({{work.new_index.data(), work.new_index.size()},
                            read,
                            state.record_buffer.get(),
                            start_screen.get(),
                            nullptr,
                            {}},
                           work, given, index_path);
  if (!difference.empty()) {
    say(state, text::insert_error, difference);
  }
  return difference.empty();
}

// Whether the pair's new archive of `size` bytes fits in the sectors its archive has; a preview
// row says so, and an insertion refuses the pair when it does not. (The new index file keeps
// the size of the original.)
bool fits_on_disc(extraction_state& state, const insertion_run& run, const disc_pair& pair,
                  std::uint64_t size) {
  const sector_fit fit = fit_of(*pair.archive, size);
  const std::string sectors = "needs " + counted(static_cast<std::int64_t>(fit.needed), "sector") +
                              ", the disc has " + std::to_string(fit.available) + " for it";
  if (run.preview) {
    list_insertion_row(state, pair.index_path, pair.archive->path, "-\t-",
                       fit.fits() ? "fits" : "too large", "-\t-\t-\t-\t-", sectors);
  } else if (!fit.fits()) {
    say(state, text::insert_error,
        pair.archive_path + ": " + sectors +
            ": give its pictures fewer new colours, or its screens less detail");
  }
  return fit.fits();
}

// Puts the pictures back into every pair of the disc, each rebuilt in place in memory, then
// writes one patched copy of the image into the output folder; or, in a preview, lists what
// would become of each file given and whether each pair's files fit their sectors.
void insert_into_disc(extraction_state& state, insertion_run& run, const std::string& image,
                      std::vector<pair_names>& pairs_seen) {
  const std::shared_ptr<const disc_image> disc = open_disc_named(state, image);
  if (disc == nullptr) {
    return;
  }
  const std::string copy = state.files.folder + last_component(image);
  if (!run.preview && state.files.keep_existing && file_exists(copy)) {
    ++state.kept;
    return;
  }
  bool failed = !disc->listing.reason.empty();
  std::vector<replacement> changes;
  for (const disc_pair& pair : pairs_of_disc(*disc, image)) {
    const std::string file_name = last_component(pair.index->path);
    pairs_seen.push_back({pair.index_path, file_name, pair.archive_path, "", ""});
    if (!state.quiet && !run.preview) {
      say(state, text::index_path, pair.index_path);
    }
    if (!read_disc_index(state, *disc, image, *pair.index)) {
      failed = true;
      continue;
    }
    const std::int64_t index_size = pair.index->size;
    if (!known_index_size(index_size)) { // passed over, as extraction passes it over
      print_text(stderr, text::unknown_index_size,
                 pair.index_path + ": " + counted(index_size, "byte"));
      continue;
    }
    if (pair.archive == nullptr) {
      tell(state, text::system_reason, pair.archive_path + ": not on the disc");
      throw fatal_error{text::file_open_error, pair.archive_path};
    }
    state.archive = file_of_disc(disc, *pair.archive);
    insertion work;
    work.preview = run.preview;
    work.nearest = run.nearest;
    work.screen = run.screen.get();
    const given_pictures given =
        pictures_given(state, run, base_name(file_name, native_path_syntax()));
    if (run.preview) {
      rebuild_pair(state, work, index_size, given);
      list_rows(state, pair.index_path, work);
      failed = !fits_on_disc(state, run, pair, work.archive_size) || work.failed || failed;
      state.archive = {};
      continue;
    }
    byte_vector archive = whole_disc_file(*disc, *pair.archive);
    const bool rebuilt =
        rebuild_in_memory(state, work, given, index_size, archive, pair.index_path);
    state.archive = {};
    if (!rebuilt || !fits_on_disc(state, run, pair, archive.size())) {
      // No new pair: the screen goes on as the original shows it.
      std::memcpy(work.screen, state.pixel_buffer.get(), screen_bytes);
      failed = true;
      continue;
    }
    if (work.replaced > 0) {
      changes.push_back({pair.index->path, work.new_index});
      changes.push_back({pair.archive->path, std::move(archive)});
    }
    if (!state.quiet) {
      say(state, text::inserted, counted(work.replaced, "picture"), work.rounded);
    }
    tell_what_moved(state, work);
  }
  state.incomplete = state.incomplete || failed;
  if (run.preview || failed) {
    return;
  }
  make_output_folder(state);
  const copy_result written = write_patched_copy(*disc, changes, state.files.folder);
  if (!written.written) {
    say(state, text::file_write_error, copy);
    tell(state, text::system_reason, written.reason);
    state.incomplete = true;
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
          list_insertion_row(state, pair.index_path, file, "-\t-", "not used", "-\t-\t-\t-\t-",
                             "names no picture of " + last_component(pair.index_path));
        }
      }
      break;
    }
  }
}

} // namespace

int insert_pictures_of(extraction_state& state, const std::string& pictures_folder,
                       const std::vector<std::string>& inputs, bool preview, int threads,
                       bool nearest) {
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
  run.nearest = nearest;
  if (folder_prefix(run.folder, native_path_syntax()).size() != run.folder.size()) {
    run.folder += native_path_syntax().separators[0];
  }
  reuse_freed_memory();
  std::vector<std::string> discs;
  std::vector<pair_names> pairs = find_pairs(state, inputs, discs);
  const std::string replaced = preview ? std::string() : replaced_input(pairs);
  if (!replaced.empty()) {
    print_text(stderr, text::would_replace_input, replaced);
    return 2;
  }
  // -n: a new pair whose files exist is not made.
  std::erase_if(pairs, [&](const pair_names& names) {
    const int existing = state.files.keep_existing && !preview
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
  run.screen = blank_screen();
  if (threads > 1) {
    try {
      run.read_ahead = start_read_ahead(threads - 1, pixel_buffer_size);
    } catch (const std::system_error&) {
      // No threads to be had: the pictures are read, and the new pairs checked, on this one.
    }
  }
  if (preview) {
    say(state, text::insert_list_header);
  }
  for (const pair_names& names : pairs) {
    insert_into_pair(state, run, names);
  }
  for (const std::string& image : discs) {
    insert_into_disc(state, run, image, pairs);
  }
  report_unused_files(state, run, pairs);
  return 0;
}
