// What one run owns: its options, the working buffers, the open archive, where pictures are
// written, the counters, and where console text goes. Pictures are values of their own
// (common/picture.hpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "common/readable_file.hpp"
#include "common/texts.hpp"

inline constexpr std::size_t pixel_buffer_size = 0x80000;
inline constexpr std::size_t record_buffer_size = 0x80000;
inline constexpr std::size_t index_buffer_size = 62152;
inline constexpr std::size_t palette_size = 512;
// Room for a whole bitmap of the usual sizes, so each goes to its file with one write call.
inline constexpr std::size_t output_buffer_size = 0x40000;

// Working buffers come from calloc: large blocks arrive as fresh zero pages, so no time goes
// into clearing them and only the pages actually used become resident.
struct free_bytes {
  void operator()(std::uint8_t* bytes) const { std::free(bytes); }
};
using byte_buffer = std::unique_ptr<std::uint8_t[], free_bytes>;

enum class output_format { bmp, png };

// The PNG writer's deflate stream, kept for the whole run.
struct png_deflater;
struct png_deflater_deleter {
  void operator()(png_deflater* deflater) const;
};

// Where one thread writes pictures: the file being written, the buffer a picture is collected
// in, its deflater, and which picture slot of common/files_in_progress names its file.
struct picture_output {
  std::FILE* stream = nullptr;
  byte_buffer buffer;                                           // output_buffer_size bytes
  std::unique_ptr<png_deflater, png_deflater_deleter> deflater; // made for the first PNG
  int writer = 0;
  bool kept = false;          // the last picture was not written: its file existed (-n)
  bool replacing = false;     // the file is written beside one of its name, to take its place
  bool replace_later = false; // ...once the writer threads' order says so, not at close
  // Where a writer thread notes the file it wrote (see pictures/picture_pool.cpp), before the
  // file stops being noted as in progress: an interruption finds it in one place or the other.
  std::uint8_t* written_mark = nullptr;
};

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

// What the writers take of a run: where pictures go, in which format, and whether a file that
// exists already is kept.
struct output_options {
  std::string folder; // separator included: the program's folder unless another was asked for
  output_format format = output_format::bmp;
  bool keep_existing = false; // -n: a file that exists already is not written
};

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
byte_buffer zeroed_bytes(std::size_t size);

// A failure that ends the run at once: the text is printed and the status is 1.
struct fatal_error {
  text message;
  std::string name;
  int error_code = 0; // the system's reason, named on standard error; 0 for none
};
