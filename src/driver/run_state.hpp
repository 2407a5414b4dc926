// What one run owns: its options, the working buffers, the open archive, where pictures are
// written, the counters, and where console text goes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "common/readable_file.hpp"
#include "common/state.hpp"

// Console text said while pictures sent before it are still being written on other threads
// waits for them, so that the console reads alike for any number of threads.
struct held_text {
  std::uint64_t after; // printed once this many pictures are written
  std::FILE* stream;
  std::string bytes;
};

// The threads that write pictures when there are more than one (pictures/picture_pool.hpp).
struct picture_pool;
// The pictures --only takes (driver/selection.hpp).
struct picture_selection;
// What the gallery shows of a picture (pictures/gallery.hpp).
struct gallery_entry;

struct extraction_state {
  std::string program_folder;  // folder of the program file, separator included
  output_options files;        // where and how pictures are written
  std::string folder_to_make;  // -o as given, made before the first file goes there; empty
                               // once it exists, and without -o
  bool list_only = false;      // pictures are listed as table rows instead of saved
  bool quiet = false;          // no path, countdown or completion lines
  std::int32_t kept = 0;       // files not written because they existed
  std::int64_t saved = 0;      // picture files written, in order
  std::int32_t pairs_made = 0; // --insert: new pairs under their own names
  std::string gallery_page;    // --gallery: the page's path, once it is written
  byte_buffer index_buffer;
  byte_buffer record_buffer;
  byte_buffer pixel_buffer; // the current screen, expanded from its run-length stream

  readable_file archive; // the archive being walked
  // Opens an archive named again (the screens --only passed over): inside a disc image read by
  // this run, or on disk when unset.
  file_opener open_named_file;

  picture_output output;              // this thread's, when pictures are written here
  picture_pool* pool = nullptr;       // where pictures go when written on other threads
  std::uint64_t pictures_sent = 0;    // to the writer threads
  std::uint64_t pictures_written = 0; // of those, written and found good, in order
  std::deque<held_text> held;
  picture_selection* selection = nullptr;        // with --only: the pictures taken, else every one
  std::vector<gallery_entry>* gallery = nullptr; // --gallery: every picture so far, in walk order
  std::FILE* console = stdout;

  bool incomplete = false;     // a frame or record could not be written; the run ends with status 1
  bool console_failed = false; // some console text was lost; the run ends with status 1
};

// Allocates the three working buffers, zero-filled, and this thread's output buffer. False
// when any of them could not be had.
bool allocate_working_buffers(extraction_state& state);
