// The program's entry: chooses the inputs, finds the index files, pairs each with its archive
// and extracts it. Returns the exit status: 0 after a complete run, 1 otherwise.
// `installed_folder` is the folder an installation puts the program into ("" for none): a copy
// running from there saves into the current folder, any other beside itself.
#pragma once

#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "archive/archive.hpp"
#include "archive/pair_files.hpp"
#include "driver/console.hpp"
#include "driver/extraction_sinks.hpp"

int run_ofb2bmp(int argc, char** argv, const char* installed_folder = "");

struct index_file {
  std::string path; // as printed: the input's folder and the name found
  std::string name; // the name alone
};

// The index files one input path matches, in the order they are to be processed, leaving out
// folders and those already in `done` (which takes these). An input that matches none is said
// on standard error, and makes the run incomplete unless it has wildcards.
std::vector<index_file> find_index_files(extraction_state& state, const std::string& input,
                                         std::set<std::string>& done);

// Whether the input path matches an index file (a file, not a folder).
bool finds_index_file(const std::string& input);

// Extracts every index file matched by one input path, or the pairs of the disc image it names
// where it matches none. `done` holds the index files already
// extracted in this run, so none is done twice.
void process_input(extraction_state& state, const std::string& input, std::set<std::string>& done);

// Walks the pair in `state` (index_buffer, archive), saving or listing its pictures
// under the names `source` gives. Index files of any size but the three known ones yield
// nothing.
void extract_pair(extraction_state& state, const picture_source& source, std::int64_t index_size);

// The pair in `state` as the walk reads it: index_size bytes of index_buffer, the archive,
// record_buffer, and pixel_buffer for the screen.
pair_to_walk pair_in(extraction_state& state, std::int64_t index_size,
                     const entry_choice* choice = nullptr);
// The countdown said on the console, or none without `progress`.
countdown_step countdown_of(extraction_state& state, bool progress);

// Walks the pair in `state` (index_size bytes of index_buffer, archive, pixel_buffer for
// the screen, record_buffer), as walk_pair does; with `progress`, the countdown is said before
// each entry decoded and the completion line after the last.
void walk_pair_in(extraction_state& state, std::int64_t index_size, bool progress,
                  const picture_sink& sink, const entry_done& done = {},
                  const entry_choice* choice = nullptr);

// Reads one index file, opens its archive and extracts the pair.
void process_index_file(extraction_state& state, const std::string& index_path,
                        const std::string& file_name);

// Makes the -o folder, with its parents, before the first file goes there; one that cannot be
// made ends the run with "file create error!".
void make_output_folder(extraction_state& state);

// Names the system's reason for a failure about `name` on standard error; nothing for code 0.
void tell_reason(const std::string& name, int error_code);

// Names the same file the same way however it was spelled.
std::string identity_of(const std::string& path);

// Opens the archive for its records to be read; one that cannot be opened ends the run with
// "file open error!".
void open_archive(extraction_state& state, const std::string& archive_path);

// Opens and reads one index file whole into index_buffer (as much of it as the buffer holds) and
// returns its size; a file that cannot be opened, or whose size cannot be told or bytes read,
// ends the run with "file open error!".
std::int64_t read_index_file(extraction_state& state, const std::string& index_path);

// --insert: puts the pictures of `pictures_folder` back into a new pair for each index file of
// the inputs, written into the output folder. Returns 2 when a new pair would replace an input
// file (then nothing is written), else 0; failures are reported and set `incomplete`. A preview
// writes nothing and lists what would become of each file given instead. With more than one
// thread, the pictures given are read ahead on the others, and each new pair is read back for
// its check on one of its own while it is written. With `nearest`, a record's new colours
// beyond its free palette slots take the nearest colour of its palette instead of being refused.
int insert_pictures_of(extraction_state& state, const std::string& pictures_folder,
                       const std::vector<std::string>& inputs, bool preview = false,
                       int threads = 1, bool nearest = false);
