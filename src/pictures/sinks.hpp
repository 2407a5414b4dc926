// What the sinks pictures go to share: the names of kinds, the pair pictures come from, the
// file writer's one picture, and insertion's collector. The run's sinks that print (the lister,
// the damage lines) are the driver's (driver/extraction_sinks.hpp).
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
// (a PNG without pixels, or a file kept by -n). Writer threads call it too.
// A palette picture's pixels may come `rows_as_in_file` for a bitmap (see write_indexed_bitmap).
bool write_picture_file(const output_options& files, picture_output& output,
                        const std::string& base_name, const picture& shown,
                        bool rows_as_in_file = false);
// Whether write_picture_file takes the picture's rows as the file lays them out.
bool takes_rows_as_in_file(const output_options& files, const picture& shown);

// The insertion collector: keeps a copy of the picture (only the place and status of a broken
// one).
void keep_picture(std::vector<shown_picture>& kept, const picture& shown);
