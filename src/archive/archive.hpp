// Turning one index file and its archive into frames, and the frames into bitmaps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/state.hpp"

inline constexpr std::int64_t frame_bank_index_size = 136;
inline constexpr std::int64_t screen_bank_index_size = 1176;
inline constexpr std::int64_t direct_index_size = 3048;
inline constexpr std::uint64_t sector_size = 2048;
inline constexpr std::size_t palette_head_size = 516; // palette, 2 unused bytes, frame count
inline constexpr std::int32_t screen_width = 352;
inline constexpr std::int32_t screen_height = 240;

// Walks the index in index_buffer (index_size bytes) entry by entry, reading each record from
// archive_stream and writing its frames as bitmaps named after base_name. Index files of any
// size but the three known ones yield nothing.
void extract_pair(extraction_state& state, const std::string& base_name, std::int64_t index_size);

// Reads up to `length` bytes at `offset` of the archive into record_buffer (at most its size);
// returns how many bytes were actually read, also kept in record_size.
std::size_t read_record(extraction_state& state, std::uint64_t offset, std::uint32_t length);

// The record kinds, already in record_buffer. Each advances frame_counter by one per frame,
// written or not, so every bitmap keeps its name. entry_number names the record in messages.
void extract_direct_frame(extraction_state& state, const std::string& base_name,
                          std::int32_t& frame_counter, std::int32_t entry_number);
void extract_frame_bank(extraction_state& state, const std::string& base_name,
                        std::int32_t& frame_counter, std::int32_t entry_number);
void extract_screen_bank(extraction_state& state, const std::string& base_name,
                         std::int32_t record_length, std::int32_t& frame_counter,
                         std::int32_t entry_number);

struct run_expansion {
  std::size_t produced; // bytes written to the destination
  bool complete;        // false when the stream runs past the end of its source
};
// Expands one run-length stream (8-byte head, then packets) into the destination. Output that
// would run past the destination's end is dropped.
run_expansion expand_runs(const std::uint8_t* source, std::size_t source_size,
                          std::uint8_t* destination, std::size_t destination_size);

// Messages for damaged input; both mark the run as incomplete.
void report_broken_frame(extraction_state& state, const std::string& bitmap_name);
void report_broken_record(extraction_state& state, std::int32_t entry_number);
