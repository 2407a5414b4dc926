// Picture files read and decoded on other threads before they are asked for, so that reading
// them overlaps with the walk that compares and rebuilds. Reading ahead is only a hint: a file
// asked for that was not read ahead is read on the asking thread, and a file read ahead that is
// never asked for is dropped. Either way the picture and its failure are those that
// read_picture_file gives.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "common/picture.hpp"

struct picture_read_ahead;
struct picture_read_ahead_stopper {
  void operator()(picture_read_ahead* ahead) const;
};
using read_ahead_threads = std::unique_ptr<picture_read_ahead, picture_read_ahead_stopper>;

// Reading on `threads` threads, each picture of at most `most_pixels` pixels.
read_ahead_threads start_read_ahead(int threads, std::size_t most_pixels);

// The file will soon be asked for. Files are read in the order hinted, and no further while
// those read and not yet taken hold a few MiB; a hint is dropped when the file is hinted
// already or many are waiting.
void read_ahead_of(picture_read_ahead& ahead, const std::string& path);

// As read_picture_file, taking the file from those read ahead when it is among them. Files
// hinted before it and not taken are dropped: files are asked for in the order hinted.
bool read_picture_from(picture_read_ahead* ahead, const std::string& path, std::size_t most_pixels,
                       picture_pixels& picture, std::string& why);
