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
#include <set>
#include <string>
#include <vector>

#include "archive/record_writing.hpp"
#include "common/state.hpp"

struct insertion {
  std::string pictures_folder;         // where the edited pictures are, separator included
  std::set<std::string> picture_files; // the names of the files there
  std::string archive_name;            // the new archive as named in messages

  std::FILE* new_archive = nullptr; // a copy of the archive; rebuilt records are written into it
  std::uint64_t archive_size = 0;   // bytes in new_archive
  // Per entry, the bytes of the archive its extraction reads (at most record_buffer's size
  // from its start, perhaps past the archive's end); a record may only be written where no
  // other entry reads.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> read_spans;
  byte_vector new_index; // the index, entries of rebuilt records updated

  // What each picture of the new pair must extract to, in the order of the walk.
  std::vector<std::uint64_t> expected;
  byte_buffer screen;         // the screen as the new pair will show it, while walking screen banks
  bool screen_matches = true; // it is the screen the original shows at the same point

  std::int32_t replaced = 0; // pictures that differ from the original
  std::int32_t rounded = 0;  // of those, pictures whose colours lost their low bits
  bool failed = false;       // a picture could not be put back; no new pair
};

// Walks the pair in `state` (index_buffer, archive_stream), puts back the pictures found in
// the pictures folder, writes rebuilt records into new_archive and their entries into
// new_index. Prints the countdown and completion lines as extraction does; every picture that
// cannot be put back is named with the reason, and leaves `failed` set.
void insert_pictures(extraction_state& state, insertion& work, const std::string& base_name,
                     std::int64_t index_size);

// Extracts the new pair (its index in index_buffer, archive_stream open on the new archive) in
// memory and checks that it gives exactly the pictures expected. False, after a message naming
// the first picture that differs, when it does not.
bool verify_new_pair(extraction_state& state, const insertion& work, const std::string& base_name,
                     std::int64_t index_size);
