// Putting edited pictures back: a new index file and archive that extract to the pictures
// given, and to the original ones where none is given.
//
// The pair is walked as extraction walks it, and each record's pictures are compared with the
// files of the same names in the pictures folder. A record none of whose pictures changed is
// left as it is. A changed one is rebuilt and written over its own sectors when it fits there
// (and shares them with no other entry), else after the end of the archive on a sector
// boundary; its index entry then gets the new sector and length. Every other byte of the
// archive stays as it was, and no other entry comes to read other bytes than before.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "archive/record_writing.hpp"
#include "common/state.hpp"

enum class insertion_result { unchanged, replaced, refused };

// What became of one file given.
struct insertion_row {
  std::string file; // folder included
  std::int32_t entry = 0;
  std::int32_t frame = 0;
  insertion_result result = insertion_result::unchanged;
  bool rounded = false;         // a colour it was given lost low bits
  std::int32_t slots_added = 0; // palette slots its new colours took
  std::string reason;           // why it was refused
};

// The names of the files in the pictures folder, by picture_file_key: pictures are found
// ignoring letter case.
using picture_file_names = std::map<std::string, std::vector<std::string>>;
// A file name with ASCII letters in upper case.
std::string picture_file_key(std::string name);

struct insertion {
  std::string pictures_folder; // where the edited pictures are, separator included
  const picture_file_names* picture_files = nullptr; // the files there (the run's); none if null
  std::string index_path;                            // the original index file, as printed
  std::string archive_name;                          // the new archive as named in messages
  bool preview = false; // nothing is written and nothing printed: rows say what would happen

  std::FILE* new_archive = nullptr; // a copy of the archive; rebuilt records are written into it
  std::uint64_t archive_size = 0;   // bytes in new_archive
  // Per entry, the bytes of the archive its extraction reads (at most record_buffer's size
  // from its start, perhaps past the archive's end); a record may only be written where no
  // other entry reads.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> read_spans;
  byte_vector new_index; // the index, entries of rebuilt records updated

  // What each picture of the new pair must extract to, in the order of the walk.
  std::vector<std::uint64_t> expected;
  // The screen as the new pair will show it (pixel_buffer_size bytes, carried from one index
  // file to the next as extraction carries it), and whether it is the one the original shows.
  std::uint8_t* screen = nullptr;
  bool screen_matches = true;

  std::int32_t replaced = 0;       // pictures that differ from the original
  std::int32_t rounded = 0;        // of those, pictures whose colours lost their low bits
  bool failed = false;             // a picture could not be put back; no new pair
  bool write_failed = false;       // the new archive could not be written
  std::vector<insertion_row> rows; // one for each file given, in the order of the walk
  std::set<std::string> used;      // the files of the folder taken as pictures, folder included
};

// Walks the pair in `state` (index_buffer, archive_stream), puts back the pictures found in
// the pictures folder, writes rebuilt records into new_archive and their entries into
// new_index. Prints the countdown and completion lines as extraction does; every picture that
// cannot be put back is named with the reason, and leaves `failed` set. The walk starts from
// the screens in pixel_buffer (the original's) and `screen` (the new pair's), and leaves them
// as the last screen bank left them.
void insert_pictures(extraction_state& state, insertion& work, const std::string& base_name,
                     std::int64_t index_size);

// Extracts the new pair (its index in index_buffer, archive_stream open on the new archive,
// pixel_buffer holding the screen it starts from) in memory and checks that it gives exactly
// the pictures expected. False, after a message naming
// the first picture that differs, when it does not.
bool verify_new_pair(extraction_state& state, const insertion& work, const std::string& base_name,
                     std::int64_t index_size);
