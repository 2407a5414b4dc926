// The run's console: text said in the order of the pictures, however many threads write them.
#pragma once

#include <cstdint>
#include <string>

#include "common/texts.hpp"
#include "driver/run_state.hpp"

// Prints on the run's console. A console that fails is remembered: the run goes on with its
// files but ends with status 1. While pictures sent to writer threads before it are still
// being written, the text waits for them (see print_held_text).
void say(extraction_state& state, text id, const std::string& name = {}, std::int64_t number = 0);
// Prints on standard error, waiting as `say` does.
void tell(extraction_state& state, text id, const std::string& name);
// Prints the text that waited for the pictures written by now.
void print_held_text(extraction_state& state);
