// The gallery (--gallery): one page beside the pictures showing every picture of the run as a
// thumbnail that links to its file, grouped by index file and record, with broken frames and
// records in their place. The sink notes a few facts of each picture (no pixels); the page is
// made from those alone, so it reads the same however many threads wrote the files.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/picture.hpp"
#include "pictures/sinks.hpp"

// What the page shows of one picture, or of the damage found in its place.
struct gallery_entry {
  std::string index_path; // the index file, as listed
  std::string file_name;  // the picture's file, without its folder; empty for a broken record
  picture_place place;
  picture_status status = picture_status::ok;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::string message; // broken: the console's words, without the line end
};

// The gallery's part of the sink, after the file writer: notes the picture handed over (a PNG
// without pixels gives no file and is passed over).
void note_for_gallery(std::vector<gallery_entry>& entries, const output_options& files,
                      const picture_source& source, const picture& shown);

// What of the entries has a file of its own to show: all of them, but for a run ended by a
// failed picture, nothing from the first picture whose file is not there (`file_there` is
// asked for each file name); and of pictures of one name (index files of one name in several
// folders) only the last, whose file replaced the others.
std::vector<gallery_entry>
pictures_on_disk(std::vector<gallery_entry> entries,
                 const std::function<bool(const std::string&)>& file_there);

// The page, index.html, for pictures in its own folder. Names are taken as UTF-8: other bytes
// are shown as \xNN, and every byte outside the unreserved ones is percent-encoded in links.
std::string gallery_page(const std::vector<gallery_entry>& entries);
