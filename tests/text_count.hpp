// Counting messages in console text, for the tests and the fuzz targets alike.
#pragma once

#include <cstddef>
#include <string>

// How many times `needle` occurs in `text`, overlapping occurrences included.
inline std::size_t count_of(const std::string& text, const std::string& needle) {
  std::size_t count = 0;
  for (std::size_t at = text.find(needle); at != std::string::npos;
       at = text.find(needle, at + 1)) {
    ++count;
  }
  return count;
}
