// A new pair as one transaction: the original pair walked and its records rebuilt with the
// pictures given, written under temporary names that an interruption removes, walked again and
// compared with the pictures expected, and only then given its own names. The original pair is
// only read.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "archive/rebuild.hpp"
#include "driver/run_state.hpp"

// One index file of the run, its archive, and the names of the new pair.
struct pair_names {
  std::string index_path;
  std::string file_name;
  std::string archive_path;
  std::string new_index;
  std::string new_archive;
};

// The screen the new pairs of a run show, carried from one index file to the next as
// extraction carries the original's; blank at first.
byte_buffer blank_screen();

// Rebuilds the pair in `state` (index_size bytes of index_buffer, archive, pixel_buffer for the
// original's screen) as the pair layer's rebuild_pair does, saying each entry's refusals once
// it is done (not in a preview), and the countdown and completion lines as extraction does,
// unless quiet or in a preview.
void rebuild_pair(extraction_state& state, insertion& work, std::int64_t index_size,
                  const given_pictures& given, const record_writer& write = {},
                  const std::function<void(std::int32_t entries)>& rebuilt = {});

// Walks `pair` and compares its pictures with those `work` expects; false, after a message
// naming the first difference, when they differ.
bool check_new_pair(extraction_state& state, const pair_to_walk& pair, const insertion& work,
                    const given_pictures& given, const std::string& index_path);

// Makes the new pair `names` gives from the original in `state` (see rebuild_pair). True once it
// has its own names; else, after the messages, no partial file is left, the run is incomplete,
// and work.screen goes on as the original's. With `check_alongside`, the new pair is read back
// on another thread while it is written.
bool make_new_pair(extraction_state& state, const pair_names& names, insertion& work,
                   std::int64_t index_size, const given_pictures& given,
                   bool check_alongside = false);
