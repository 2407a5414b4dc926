// Disc images as inputs: a cue sheet, or an image of 2,048- or 2,352-byte sectors, named where
// no index file is found. Every index file (.OFB, any letter case) of the disc's file system is
// a pair with the file of its folder of the same base name ending .BIN; each pair reads as the
// same pair copied out of the image does. A file inside an image is shown as the image's name,
// a colon and its path there: "game.cue:/DATA/PICS.OFB".
#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "disc/disc_reader.hpp"
#include "driver/console.hpp"

// Whether `input` names a disc image: no wildcards, an existing file (not a folder) whose name
// ends ".cue" in any letter case, or whose first bytes are those of an image.
bool names_disc_image(const std::string& input);

// A pair of a disc: its index file and its archive (null when the disc has none), as shown.
struct disc_pair {
  const iso_file* index = nullptr;
  const iso_file* archive = nullptr;
  std::string index_path;
  std::string archive_path;
};
// The pairs of the disc, in path order.
std::vector<disc_pair> pairs_of_disc(const disc_image& disc, const std::string& image);

// A file of the disc, read as a file on disk is. Where the image is damaged, fewer bytes are
// read, as at a file's end, and `damage` (when given) keeps the first reason.
readable_file file_of_disc(const std::shared_ptr<const disc_image>& disc, const iso_file& file,
                           const std::shared_ptr<std::string>& damage = {});

// Opens the disc image for reading; null after naming on standard error what is wrong (the run
// is then incomplete). A disc whose file system is damaged is opened, and named so too.
std::shared_ptr<const disc_image> open_disc_named(extraction_state& state,
                                                  const std::string& image);

// Reads the index file of a pair of the disc into index_buffer; false after naming what is
// wrong with the image there (the run is then incomplete).
bool read_disc_index(extraction_state& state, const disc_image& disc, const std::string& image,
                     const iso_file& index);

// Extracts (lists, saves) every pair of the disc in path order; screens carry over from one to
// the next as between the index files of one run. A disc that cannot be read, or is damaged,
// is named on standard error with what is wrong, and the run ends with status 1 after the pairs
// that can still be read. Sectors whose error check fails are counted and named, one line for
// each file that has them; their bytes are used all the same.
void process_disc(extraction_state& state, const std::string& image, std::set<std::string>& done);
