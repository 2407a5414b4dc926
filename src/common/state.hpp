// What the layers share of a run: the working buffers' sizes, where and how pictures are
// written (output_options, picture_output), and the failure that ends a run. What one run owns
// is the driver's (driver/run_state.hpp); pictures are values of their own (common/picture.hpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

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

// What the writers take of a run: where pictures go, in which format, and whether a file that
// exists already is kept.
struct output_options {
  std::string folder; // separator included: the program's folder unless another was asked for
  output_format format = output_format::bmp;
  bool keep_existing = false; // -n: a file that exists already is not written
};

byte_buffer zeroed_bytes(std::size_t size);

// A failure that ends the run at once: the text is printed and the status is 1.
struct fatal_error {
  text message;
  std::string name;
  int error_code = 0; // the system's reason, named on standard error; 0 for none
};
