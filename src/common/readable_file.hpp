// A file open for reading at offsets: a file on disk, or a file inside a disc image, read alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

// Reads up to `count` bytes at `offset` into `into` and returns how many it read: fewer where
// the file ends or cannot be read further.
using read_at_offset =
    std::function<std::size_t(std::uint64_t offset, std::uint8_t* into, std::size_t count)>;

struct readable_file {
  read_at_offset read_at;      // empty when no file is open
  std::int64_t size = -1;      // -1 when it cannot be told
  std::shared_ptr<void> owner; // keeps open what read_at reads from
};
