// The files of a pair as the walk reads them: an index file read whole, and an archive read at
// any offset. Both go through one reader, so a file on disk and a file inside a disc image read
// alike; the walk and everything below it never learn which it is.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/archive.hpp"

// Opens a file on disk. False, with the system's code of the failure, when it cannot be opened.
bool open_file_on_disk(const std::string& path, readable_file& file, int& error_code);

// Reads an index file whole into `buffer` (as much of it as `capacity` holds) and returns its
// size; -1 when its size cannot be told or the bytes wanted cannot all be read.
std::int64_t read_index_bytes(const readable_file& index, std::uint8_t* buffer,
                              std::size_t capacity);

// A screen bank whose screens were not expanded, in the order of the run.
struct skipped_screens {
  std::string archive_path;
  std::uint64_t offset = 0;
  std::uint32_t length = 0;
};

// Expands the screens of the banks passed over, in order, into `screen` (pixel_buffer_size
// bytes), so it holds what a walk of every entry would have left there; `record_buffer` is
// record_buffer_size bytes to read them into. An archive that cannot be opened stops it: false,
// with its path and the system's code.
bool catch_up_screens(const std::vector<skipped_screens>& skipped, const file_opener& open,
                      std::uint8_t* record_buffer, std::uint8_t* screen, std::string& failed_path,
                      int& error_code);
