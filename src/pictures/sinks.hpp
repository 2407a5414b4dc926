// The sinks pictures go to: the file writer, the lister, and insertion's collector.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/picture.hpp"
#include "common/state.hpp"

// "direct", "frame" or "screen", as the listing and the gallery name a kind.
const char* kind_name(picture_kind kind);

// A picture without pixels cannot be a PNG: such a picture gives no file and no word.
bool gives_file(const output_options& files, const picture& shown);

// The pair pictures come from, as the sinks name it.
struct picture_source {
  std::string base_name;    // the pictures' files are named after it
  std::string index_path;   // the index file, as listed
  std::string archive_path; // the archive, as named in messages about damaged records
};

// Writes an ok picture as a bitmap or a PNG through `output`; false when no file was written
// (a PNG without pixels, or a file kept by -n). Reads nothing of `state` but its options, so
// writer threads call it too.
bool write_picture_file(const output_options& files, picture_output& output,
                        const std::string& base_name, const picture& shown);

// The file writer: an ok picture is saved as a bitmap or a PNG, here or on the run's writer
// threads; a broken frame or record is named on the console instead, and the run ends with
// status 1.
void save_picture(extraction_state& state, const picture_source& source, const picture& shown);

// The lister: one row of the listing for each picture, broken ones included (which end the run
// with status 1).
void list_picture(extraction_state& state, const picture_source& source, const picture& shown);

// Where extraction sends pictures: to the lister when listing, else to the file writer. The
// sink refers to `source`, which must outlive it.
picture_sink extraction_sink(extraction_state& state, const picture_source& source);

// The insertion collector: keeps a copy of the picture (only the place and status of a broken
// one).
void keep_picture(std::vector<shown_picture>& kept, const picture& shown);
