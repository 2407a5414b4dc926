// A file open for reading at offsets: a file on disk, or a file inside a disc image, read alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// Reads up to `count` bytes at `offset` into `into` and returns how many it read: fewer where
// the file ends or cannot be read further.
using read_at_offset =
    std::function<std::size_t(std::uint64_t offset, std::uint8_t* into, std::size_t count)>;

struct readable_file {
  read_at_offset read_at;            // empty when no file is open
  std::int64_t size = -1;            // -1 when it cannot be told
  std::shared_ptr<const void> owner; // keeps open what read_at reads from
};

// How a run opens a file it names: on disk, or inside a disc image. False, with the system's
// code (0 where the system has none), when it cannot be opened.
using file_opener =
    std::function<bool(const std::string& path, readable_file& file, int& error_code)>;
