// What the fuzz targets share: a state whose pictures go into a scratch folder in memory-backed
// storage and whose console text is kept, and the checks made after every input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

#include "common/state.hpp"
#include "damage_oracle.hpp"

// A state with zero-filled working buffers, pictures going into the scratch folder (under
// /dev/shm, or $OFB2BMP_FUZZ_SCRATCH) and console text into memory.
struct fuzz_state {
  extraction_state state;
  char* console_bytes = nullptr;
  std::size_t console_size = 0;
  fuzz_state();
  ~fuzz_state();
  fuzz_state(const fuzz_state&) = delete;
  fuzz_state& operator=(const fuzz_state&) = delete;

  // Forgets the console text and the damage of the previous input; `format_choice` (one input
  // byte) picks the output format.
  void start_input(std::uint8_t format_choice);
  std::string console_text();
  // Checks that every picture in the scratch folder is well formed, removes them and returns
  // their names.
  std::set<std::string> take_pictures();
};

// Stops with a message (and the input's name, when replaying) when `holds` is false.
void require(bool holds, const std::string& what);

// The input being replayed, named in failures.
extern std::string replayed_input;
