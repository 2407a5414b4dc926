#include "driver/driver.hpp"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "archive/archive.hpp"
#include "driver/disc_inputs.hpp"
#include "driver/options.hpp"
#include "driver/platform.hpp"
#include "driver/selection.hpp"
#include "pictures/gallery.hpp"
#include "pictures/output_file.hpp"

namespace {

// "/?" asks for the usage on Windows, as its own programs do.
bool is_windows_help(const std::vector<std::string>& inputs) {
#ifdef _WIN32
  return !inputs.empty() && inputs.front() == "/?";
#else
  (void)inputs;
  return false;
#endif
}

int exit_status(const extraction_state& state) {
  return state.incomplete || state.console_failed ? 1 : 0;
}

// Whether the program runs from the folder its installation puts it into: the same folder
// however either path is spelled (links, a merged /usr).
bool runs_installed(const std::string& program_folder, const char* installed_folder) {
  return *installed_folder != '\0' && !program_folder.empty() &&
         same_file(program_folder, installed_folder);
}

// What --help says of where pictures go without -o, for this copy.
std::string default_folder_said(const char* installed_folder) {
  const std::string folder = folder_prefix(program_file_path(), native_path_syntax());
  if (runs_installed(folder, installed_folder)) {
    return "Without -o, pictures go into the current folder, as this copy is installed in " +
           folder;
  }
  return "Without -o, pictures go into the folder that holds this copy of ofb2bmp: " + folder;
}

// Sets output_folder: the folder asked for (made once a file is to go there), the current
// folder for an installed copy, or the program's own.
bool settle_output_folder(extraction_state& state, const run_options& options,
                          const char* program_name, const char* installed_folder) {
  const path_syntax& syntax = native_path_syntax();
  if (options.output_dir.empty()) {
    const std::string program_path = program_file_path();
    if (program_path.empty()) {
      // Without the program's own folder the pictures would land in the current one instead.
      const int error_code = last_error_code();
      say(state, text::file_create_error, program_name);
      tell_reason(program_name, error_code);
      return false;
    }
    state.program_folder = folder_prefix(program_path, syntax);
    // A system's program folder is no place for pictures, nor where the user looks for them.
    state.files.folder =
        runs_installed(state.program_folder, installed_folder) ? "" : state.program_folder;
    return true;
  }
  state.folder_to_make = options.output_dir;
  state.files.folder = options.output_dir;
  if (folder_prefix(state.files.folder, syntax).size() != state.files.folder.size()) {
    state.files.folder += syntax.separators[0];
  }
  return true;
}

// Names a name that gave no index file; one without wildcards makes the run incomplete.
void tell_nothing_found(extraction_state& state, const std::string& input, text why) {
  tell(state, why, input);
  if (input.find_first_of("*?") == std::string::npos) {
    state.incomplete = true;
  }
}

// The names of the index files (any size) in `folder` ("" for the current one).
std::vector<std::string> index_files_in(const std::string& folder) {
  std::vector<std::string> names;
  for (const folder_entry& entry : find_matching_entries(folder + "*.OFB")) {
    if (!entry.is_folder) {
      names.push_back(entry.name);
    }
  }
  return names;
}

// A pattern as the user would give it on this platform's command line, for the tool to match.
std::string quoted_pattern(const std::string& pattern) {
#ifdef _WIN32
  return '"' + pattern + '"';
#else
  return '\'' + pattern + '\'';
#endif
}

// Leads on from a name that found no index file: a folder's pattern and how many index files it
// holds, or the names of its folder nearest to a name without wildcards.
void hint_after_nothing_found(extraction_state& state, const std::string& input) {
  const path_syntax& syntax = native_path_syntax();
  if (folder_exists(input)) {
    const std::string folder =
        folder_prefix(input, syntax).size() == input.size() ? input : input + syntax.separators[0];
    const std::size_t count = index_files_in(folder).size();
    if (count > 0) {
      tell(state, text::hint,
           input + ": a folder of " + counted(static_cast<std::int64_t>(count), "index file") +
               ": to take every pair in it, give " + quoted_pattern(folder + "*"));
    }
    return;
  }
  if (input.find_first_of("*?") != std::string::npos) {
    return;
  }
  const std::string folder = folder_prefix(input, syntax);
  const std::vector<std::string> nearest =
      nearest_names(input.substr(folder.size()), index_files_in(folder), 3);
  std::string names;
  for (std::size_t k = 0; k < nearest.size(); ++k) {
    names += (k == 0 ? "" : k + 1 == nearest.size() ? " or " : ", ") + folder + nearest[k];
  }
  if (!names.empty()) {
    tell(state, text::hint, input + ": did you mean " + names + "?");
  }
}

// For a person at a terminal, a last line on standard error: where the pictures (or the new
// pairs) went, and the gallery's page. Scripts reading standard error, -q and listings, which
// write nothing, get none.
void tell_where_files_went(const extraction_state& state) {
  if (state.quiet || state.list_only || !standard_error_is_terminal()) {
    return;
  }
  const std::string folder = absolute_path(state.files.folder);
  std::string where;
  if (state.pairs_made > 0) {
    where = counted(state.pairs_made, "new pair") + " written in " + folder;
  } else if (state.saved > 0 || !state.gallery_page.empty()) {
    where = counted(state.saved, "picture") + " saved in " + folder;
  }
  if (!state.gallery_page.empty()) {
    where += ", shown in " + absolute_path(state.gallery_page);
  }
  if (!where.empty()) {
    print_text(stderr, text::where_saved, where);
  }
}

// Ends the run: the files kept by -n are counted on standard error, then where files went.
int finish_run(const extraction_state& state, int status) {
  if (state.kept > 0) {
    print_text(stderr, text::kept_existing, counted(state.kept, "file"));
  }
  tell_where_files_went(state);
  return status;
}

// --gallery: index.html beside the pictures, once every picture is finished, also after a
// failure. It goes through this thread's picture output, free by then, as a picture would, so
// that an interruption or a failed write leaves no half page; a failure only marks the run.
void write_gallery(extraction_state& state, std::vector<gallery_entry>& noted) {
  std::vector<gallery_entry> shown =
      pictures_on_disk(std::move(noted), [&state](const std::string& name) {
        return file_exists(state.files.folder + name);
      });
  for (gallery_entry& entry : shown) {
    entry.index_path = name_in_utf8(entry.index_path);
    entry.file_name = name_in_utf8(entry.file_name);
    entry.message = name_in_utf8(entry.message);
  }
  const std::string page = gallery_page(shown);
  const std::string path = state.files.folder + "index.html";
  try {
    make_output_folder(state); // a run that found no index file still shows its empty page
    open_output(state.output, path, text::file_create_error, false);
    const byte_piece whole{page.data(), page.size()};
    write_output(state.output, path, &whole, 1);
    close_output(state.output, path);
    state.gallery_page = path;
  } catch (const fatal_error& failure) {
    state.incomplete = true;
    say(state, failure.message, failure.name);
    tell_reason(failure.name, failure.error_code);
  }
}

} // namespace

void make_output_folder(extraction_state& state) {
  if (state.folder_to_make.empty()) {
    return;
  }
  if (!create_output_folder(state.folder_to_make)) {
    throw fatal_error{text::file_create_error, state.folder_to_make, last_error_code()};
  }
  state.folder_to_make.clear();
}

void tell_reason(const std::string& name, int error_code) {
  if (error_code != 0) {
    print_text(stderr, text::system_reason, name + ": " + error_text(error_code));
  }
}

std::string identity_of(const std::string& path) {
  try {
    std::error_code ignored;
    const std::filesystem::path canonical = std::filesystem::weakly_canonical(path, ignored);
    return canonical.empty() ? path : canonical.string();
  } catch (...) {
    return path;
  }
}

void open_archive(extraction_state& state, const std::string& archive_path) {
  int error_code = 0;
  if (!open_file_on_disk(archive_path, state.archive, error_code)) {
    throw fatal_error{text::file_open_error, archive_path, error_code};
  }
}

std::int64_t read_index_file(extraction_state& state, const std::string& index_path) {
  readable_file index;
  int error_code = 0;
  if (!open_file_on_disk(index_path, index, error_code)) {
    throw fatal_error{text::file_open_error, index_path, error_code};
  }
  const std::int64_t index_size =
      read_index_bytes(index, state.index_buffer.get(), index_buffer_size);
  if (index_size < 0) {
    throw fatal_error{text::file_open_error, index_path};
  }
  return index_size;
}

pair_to_walk pair_in(extraction_state& state, std::int64_t index_size, const entry_choice* choice) {
  // Only the three known sizes are walked, all within index_buffer.
  const std::size_t size = known_index_size(index_size) ? static_cast<std::size_t>(index_size) : 0;
  return {{state.index_buffer.get(), size},
          state.archive.read_at,
          state.record_buffer.get(),
          state.pixel_buffer.get(),
          choice,
          {}};
}

countdown_step countdown_of(extraction_state& state, bool progress) {
  if (!progress) {
    return {};
  }
  return [&state](std::int32_t entries_after) { say(state, text::countdown, {}, entries_after); };
}

void walk_pair_in(extraction_state& state, std::int64_t index_size, bool progress,
                  const picture_sink& sink, const entry_done& done, const entry_choice* choice) {
  // A walk that decoded nothing of a chosen few has nothing to complete.
  if (walk_pair(pair_in(state, index_size, choice), sink, done, countdown_of(state, progress)) &&
      progress) {
    say(state, text::completed);
  }
}

void extract_pair(extraction_state& state, const picture_source& source, std::int64_t index_size) {
  const bool progress = !state.quiet && !state.list_only;
  picture_sink sink = extraction_sink(state, source);
  if (state.gallery != nullptr) {
    sink = [&state, &source, save = std::move(sink)](const picture& shown) {
      save(shown);
      note_for_gallery(*state.gallery, state.files, source, shown);
    };
  }
  if (state.selection == nullptr) {
    walk_pair_in(state, index_size, progress, sink);
    return;
  }
  if (known_index_size(index_size) && !may_select_from(*state.selection, source)) {
    pass_over_pair(*state.selection, source,
                   {state.index_buffer.get(), static_cast<std::size_t>(index_size)});
    return;
  }
  // The path is said before the first entry taken: an index file without one stays unnamed.
  bool said = false;
  const entry_choice choice =
      chosen_entries(state, *state.selection, source, [&state, &source, &said, progress] {
        if (progress && !said) {
          say(state, text::index_path, source.index_path);
        }
        said = true;
      });
  walk_pair_in(state, index_size, progress,
               selected_pictures(state, *state.selection, source, std::move(sink)), {}, &choice);
}

void process_index_file(extraction_state& state, const std::string& index_path,
                        const std::string& file_name) {
  const path_syntax& syntax = native_path_syntax();
  if (!state.list_only) {
    make_output_folder(state);
  }
  if (!state.quiet && !state.list_only && state.selection == nullptr) {
    say(state, text::index_path, index_path);
  }
  const std::int64_t index_size = read_index_file(state, index_path);
  if (!known_index_size(index_size)) {
    tell(state, text::unknown_index_size, index_path + ": " + counted(index_size, "byte"));
  }

  // The archive is needed even when the index is of no known size.
  const std::string archive_path = paired_file_name(archive_name(index_path, syntax));
  open_archive(state, archive_path);
  extract_pair(state, {base_name(file_name, syntax), index_path, archive_path}, index_size);
  state.archive = {};
}

bool finds_index_file(const std::string& input) {
  const std::vector<folder_entry> entries =
      find_matching_entries(search_pattern(input, native_path_syntax()));
  return std::any_of(entries.begin(), entries.end(),
                     [](const folder_entry& entry) { return !entry.is_folder; });
}

std::vector<index_file> find_index_files(extraction_state& state, const std::string& input,
                                         std::set<std::string>& done) {
  const path_syntax& syntax = native_path_syntax();
  const std::string prefix = folder_prefix(input, syntax);
  const std::vector<folder_entry> entries = find_matching_entries(search_pattern(input, syntax));
  std::vector<index_file> found;
  bool any = false;
  for (const folder_entry& entry : entries) {
    const std::string index_path = prefix + entry.name;
    any = any || !entry.is_folder;
    if (!entry.is_folder && done.insert(identity_of(index_path)).second) {
      found.push_back({index_path, entry.name});
    }
  }
  if (!any) {
    const bool only_a_folder = entries.size() == 1 && entries.front().is_folder;
    tell_nothing_found(state, input, only_a_folder ? text::folder_named : text::no_index_file);
    hint_after_nothing_found(state, input);
  }
  return found;
}

void process_input(extraction_state& state, const std::string& input, std::set<std::string>& done) {
  if (names_disc_image(input) && !finds_index_file(input)) {
    process_disc(state, input, done);
    return;
  }
  for (const index_file& found : find_index_files(state, input, done)) {
    process_index_file(state, found.path, found.name);
  }
}

void extract_inputs(extraction_state& state, const std::vector<std::string>& inputs, int writers) {
  running_pool pool;
  struct forget_pool {
    extraction_state& state;
    ~forget_pool() { state.pool = nullptr; }
  } forget{state};
  if (writers > 1 && !state.list_only) {
    start_writers(state, pool, writers); // without threads, pictures are written on this one
  }
  std::set<std::string> done;
  try {
    for (const std::string& input : inputs) {
      process_input(state, input, done);
    }
  } catch (...) {
    // What was sent before the failure comes first, its own failure included.
    if (pool) {
      finish_writers(state);
    }
    throw;
  }
  if (pool) {
    finish_writers(state);
  }
}

int run_ofb2bmp(int argc, char** argv, const char* installed_folder) {
  reserve_standard_streams();
  remove_files_on_interruption();
  extraction_state state;
  run_options options;
  if (!parse_options(argc, argv, options, stderr)) {
    return 2;
  }
  std::vector<std::string> inputs = input_names(options.names);
  if (options.help || is_windows_help(inputs)) {
    say(state, text::usage, default_folder_said(installed_folder));
    return exit_status(state);
  }
  if (options.version) {
    say(state, text::version, OFB2BMP_VERSION);
    return exit_status(state);
  }
  state.files.format = options.format;
  state.list_only = options.list;
  state.quiet = options.quiet;
  state.files.keep_existing = options.no_clobber;
  picture_selection selection;
  for (const std::string& value : options.only) {
    std::string wrong;
    add_to_selection(selection, value, wrong); // checked as the options were read
  }
  if (!options.only.empty()) {
    state.selection = &selection;
  }
  // Listing needs no folder: nothing is written, and names are listed without one.
  if (!state.list_only &&
      !settle_output_folder(state, options, argc > 0 ? argv[0] : "ofb2bmp", installed_folder)) {
    return 1;
  }
  if (inputs.empty()) {
    std::string chosen;
    if (!ask_for_input_path(chosen)) {
      return 1;
    }
    inputs.push_back(chosen);
  }
  if (!allocate_working_buffers(state)) {
    say(state, text::out_of_memory);
    return 1;
  }
  if (state.list_only && !options.insert) {
    say(state, text::list_header);
  }
  // Listing writes no file, so no gallery either.
  std::vector<gallery_entry> gallery;
  if (options.gallery && !state.list_only) {
    state.gallery = &gallery;
  }
  const int threads = options.jobs != 0 ? options.jobs : default_picture_writers();
  try {
    if (options.insert) {
      if (insert_pictures_of(state, options.insert_dir, inputs, options.list, threads,
                             options.nearest) == 2) {
        return finish_run(state, 2);
      }
    } else {
      extract_inputs(state, inputs, threads);
      if (state.selection != nullptr) {
        tell_unmatched(state, selection);
      }
    }
  } catch (const fatal_error& failure) {
    state.archive = {};
    say(state, failure.message, failure.name);
    tell_reason(failure.name, failure.error_code);
    // Where the folder could not be made, the page could not go there either.
    if (state.gallery != nullptr && state.folder_to_make.empty()) {
      write_gallery(state, gallery);
    }
    return finish_run(state, 1);
  } catch (const std::bad_alloc&) {
    say(state, text::out_of_memory);
    return finish_run(state, 1);
  }
  if (state.gallery != nullptr) {
    write_gallery(state, gallery);
  }
  return finish_run(state, exit_status(state));
}
