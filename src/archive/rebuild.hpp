// Putting edited pictures back: the records of a new pair that extracts to the pictures given,
// and to the original ones where none is given.
//
// The original pair is walked as extraction walks it, and each record's pictures are compared
// with the pictures given of the same names. A record none of whose pictures changed is left as
// it is. A changed one is rebuilt and placed over its own sectors when it fits there (and shares
// them with no other entry), else after the end of the archive on a sector boundary; its index
// entry then gets the new sector and length. Every other byte of the archive stays as it was,
// and no other entry comes to read other bytes than before.
//
// Nothing here opens a file: the pictures given are looked up and read through
// `given_pictures`, and each rebuilt record goes back to the caller with its place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "archive/archive.hpp"
#include "archive/record_writing.hpp"

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
  std::int32_t moved = 0;       // pixels that took the nearest colour instead of their own
  std::int32_t farthest = 0;    // of those, the largest squared distance to the colour taken
  // The size the picture had, and the size it is given at, where they differ (else all 0).
  std::int32_t old_width = 0, old_height = 0, width = 0, height = 0;
};

// Where the pictures given come from.
struct given_pictures {
  std::string folder; // separator included
  // The names of the files in `folder` given for a picture; none when unset.
  std::function<std::vector<std::string>(const picture_place&)> files_for;
  // Reads and decodes a picture file, as read_picture_file does.
  std::function<bool(const std::string& path, std::size_t most_pixels, picture_pixels& picture,
                     std::string& why)>
      read;
  // The name of the file extraction writes for a picture.
  std::function<std::string(const picture_place&)> name_of;
  // A hint that the picture given for a place will soon be read; may be unset.
  std::function<void(const picture_place&)> read_soon;
  // Keeps a picture the walk shows as a value, for comparing (the sinks' keep_picture).
  std::function<void(std::vector<shown_picture>& kept, const picture& shown)> keep;
};

// One pair's insertion.
struct insertion {
  bool preview = false; // nothing is printed: rows say what would happen
  bool nearest = false; // colours beyond the free slots take the nearest colour of the palette

  std::uint64_t archive_size = 0; // bytes of the new archive, rebuilt records placed so far
  // Per entry, the bytes of the archive its extraction reads (at most record_buffer's size
  // from its start, perhaps past the archive's end); a record may only be placed where no
  // other entry reads.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> read_spans;
  byte_vector new_index; // the original's index, entries of rebuilt records updated

  // What each picture of the new pair must extract to, in the order of the walk.
  std::vector<std::uint64_t> expected;
  // The screen as the new pair will show it (pixel_buffer_size bytes, carried from one index
  // file to the next as extraction carries it), and whether it is the one the original shows.
  std::uint8_t* screen = nullptr;
  bool screen_matches = true;
  const std::uint8_t* original_screen = nullptr; // the screen of the original's walk

  std::int32_t replaced = 0;     // pictures that differ from the original
  std::int32_t rounded = 0;      // of those, pictures whose colours lost their low bits
  std::int32_t moved = 0;        // of those, pictures with pixels given a nearest colour
  std::int64_t moved_pixels = 0; // and how many such pixels they have
  bool failed = false;           // a picture could not be put back; no new pair
  // Each refusal to name, "DIR/NAME: why", in the order met; the caller says them and clears.
  std::vector<std::string> refusals;
  std::vector<insertion_row> rows; // one for each file given, in the order of the walk
};

// A rebuilt record as the new archive takes it: `bytes` at `offset`, zero bytes first where the
// record starts past the archive's end. Empty when the entry's record stays as it was.
struct placed_record {
  std::uint64_t offset = 0;
  byte_vector bytes;
};

// Readies `work`, whose new_index holds the original's index, for the walk of the original
// that expands its screens into `original_screen`.
void start_rebuild(insertion& work, const std::uint8_t* original_screen);

// Puts back the pictures given for one entry of that walk, which showed `shown`. Every picture
// that cannot be put back leaves `failed` set and (but for the others of a record refused
// whole) a line in `refusals`.
placed_record rebuild_entry(insertion& work, const given_pictures& given,
                            const walked_entry& walked, const std::vector<shown_picture>& shown);

// Where each rebuilt record goes; false when it could not be written.
using record_writer = std::function<bool(const placed_record&)>;

// Walks the original pair and rebuilds its records into `work` with the pictures given, each
// rebuilt one going to `write` when set; `archive_size` is the original archive's. Screens go
// on from original.screen (the original's) and work.screen (the new pair's). `rebuilt` (when
// set) is told 0 once work.new_index holds the original's index, then after each entry how
// many entries are done: their records written, their refusals in work.refusals. `countdown`
// is told before each entry, as by walk_pair. Returns whether any entry was decoded.
bool rebuild_pair(insertion& work, const pair_to_walk& original, std::uint64_t archive_size,
                  const given_pictures& given, const record_writer& write = {},
                  const std::function<void(std::int32_t entries)>& rebuilt = {},
                  const countdown_step& countdown = {});

// The pictures a new pair gives when read back: each one's fingerprint and place, in order.
using read_back = std::vector<std::pair<std::uint64_t, picture_place>>;
void note_read_back(read_back& pictures, const given_pictures& given, const picture& found);

// Empty when the pictures read back are exactly those `work` expects; else what to say: the
// first picture that differs (as `given` names it), or the index file when pictures are
// missing.
std::string compare_read_back(const read_back& pictures, const insertion& work,
                              const given_pictures& given, const std::string& index_path);
// Walks `pair` and compares its pictures so.
std::string check_pair_read_back(const pair_to_walk& pair, const insertion& work,
                                 const given_pictures& given, const std::string& index_path);

// A fingerprint of what a picture shows (or of the damage in its place), to compare the new
// pair's pictures with those expected without keeping them all.
std::uint64_t fingerprint_of(const shown_picture& shown);
