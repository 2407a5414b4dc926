// What one run owns: its options, the working buffers, the open archive and output file, the
// PNG deflater, the counters, and where console text goes. Pictures are values of their own
// (common/picture.hpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

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

struct extraction_state {
  std::string program_folder; // folder of the program file, separator included
  std::string output_folder;  // where pictures go, separator included: the program's folder
                              // unless another was asked for
  output_format format = output_format::bmp;
  bool list_only = false;     // pictures are listed as table rows instead of saved
  bool quiet = false;         // no path, countdown or completion lines
  bool keep_existing = false; // -n: a file that exists already is not written
  std::int32_t kept = 0;      // files not written because they existed
  byte_buffer index_buffer;
  byte_buffer record_buffer;
  byte_buffer pixel_buffer; // the current screen, expanded from its run-length stream

  std::FILE* archive_stream = nullptr; // the archive being walked, closed if the run fails

  std::FILE* output_stream = nullptr;
  byte_buffer output_buffer; // collects the picture being written
  std::unique_ptr<png_deflater, png_deflater_deleter> deflater; // made for the first PNG
  std::FILE* console = stdout;

  bool incomplete = false;     // a frame or record could not be written; the run ends with status 1
  bool console_failed = false; // some console text was lost; the run ends with status 1
};

// Allocates the three working buffers, zero-filled, and the output buffer. False when any of
// them could not be had.
bool allocate_working_buffers(extraction_state& state);

// A failure that ends the run at once: the text is printed and the status is 1.
struct fatal_error {
  text message;
  std::string name;
  int error_code = 0; // the system's reason, named on standard error; 0 for none
};
