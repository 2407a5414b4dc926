// What the fuzz targets share: a state whose bitmaps go into a scratch folder in memory-backed
// storage and whose console text is kept, and the checks made after every input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/state.hpp"
#include "text_count.hpp"

// A state with zero-filled working buffers, bitmaps going into the scratch folder (under
// /dev/shm, or $OFB2BMP_FUZZ_SCRATCH) and console text into memory.
struct fuzz_state {
  extraction_state state;
  char* console_bytes = nullptr;
  std::size_t console_size = 0;
  fuzz_state();
  ~fuzz_state();
  fuzz_state(const fuzz_state&) = delete;
  fuzz_state& operator=(const fuzz_state&) = delete;

  // Forgets the console text and the damage of the previous input.
  void start_input();
  // Replaces record_buffer with an allocation of exactly `size` bytes holding `bytes`, so that
  // AddressSanitizer reports any read past the bytes actually read for the record.
  void hold_record(const std::uint8_t* bytes, std::size_t size);
  std::string console_text();
};

// Stops the fuzzer with a message when `holds` is false.
void require(bool holds, const char* what);

// Checks every bitmap in the scratch folder (a well-formed header whose sizes match the file)
// and removes it; returns how many there were.
std::size_t check_and_clear_bitmaps(const extraction_state& state);
