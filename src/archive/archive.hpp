// Turning one index file and its archive into pictures.
//
// Every number in index and archive files is unsigned and big-endian.
//
// Index file: a bare table of 8-byte entries; its size alone tells the kind of archive
// (136 bytes: 17 frame banks; 1,176: 147 screen banks; 3,048: 381 direct-colour frames).
//   entry +0  1 byte  not read
//         +1  u24be   start sector of the record; the archive is addressed in 2,048-byte sectors
//         +4  u32be   length of the record in bytes
//
// Direct-colour record:
//   +0  2 bytes  not read
//   +2  u16be    width W
//   +4  u16be    height H
//   +6  W x H colour words (u16be: bit 15 unused, then 5 bits each of blue, green, red),
//       row by row, top row first
//
// Palette head, shared by frame banks and screen banks:
//   +0    256 colour words, 512 bytes
//   +512  2 bytes not read
//   +514  u16be N, the number of frames
//   +516  offset table: N entries of 4 bytes, each 1 byte not read and a u24be offset
//
// Frame bank, after the palette head:
//   +516 + 4N  size table: N entries of 4 bytes, a u16be width then a u16be height
//   +516 + 8N  pixel area: frame k starts at its offset into it, width x height palette
//              indices, top row first
//
// Screen bank, after the palette head (a record whose entry gives a length of 576 bytes or
// less is skipped without a word; every screen is 352 x 240):
//   +516 + 4N  packed area: screen k's run-length stream starts at its offset into it
//
// Run-length stream:
//   +0  5 bytes  not read
//   +5  u24be    L, the number of bytes to produce
//   +8  packets, read while fewer than L bytes have been produced; the packet that crosses L
//       is written whole. Each opens with a control byte c:
//         c >= 0x80  literal run: the next 256 - c bytes (1 to 128) as they are
//         c <  0x80  repeat run: the next byte, c + 2 times (2 to 129)
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>

#include "common/byte_view.hpp"
#include "common/colour.hpp"
#include "common/picture.hpp"
#include "common/readable_file.hpp"
#include "common/state.hpp"

inline constexpr std::size_t index_entry_size = 8;
inline constexpr std::size_t entry_sector_at = 1;
inline constexpr std::size_t entry_length_at = 4;
inline constexpr std::uint64_t sector_size = 2048;

inline constexpr std::int64_t frame_bank_index_size = 136;
inline constexpr std::int64_t screen_bank_index_size = 1176;
inline constexpr std::int64_t direct_index_size = 3048;

inline constexpr std::size_t direct_width_at = 2;
inline constexpr std::size_t direct_height_at = 4;
inline constexpr std::size_t direct_pixels_at = 6;

inline constexpr std::size_t frame_count_at = palette_size + 2;
inline constexpr std::size_t palette_head_size = frame_count_at + 2;
inline constexpr std::size_t table_entry_size = 4;
inline constexpr std::size_t frame_offset_at = 1; // within an offset-table entry
inline constexpr std::size_t frame_width_at = 0;  // within a size-table entry
inline constexpr std::size_t frame_height_at = 2;

inline constexpr std::int32_t screen_width = 352;
inline constexpr std::int32_t screen_height = 240;
inline constexpr std::size_t screen_bytes = std::size_t{screen_width} * screen_height;
inline constexpr std::uint32_t longest_skipped_screen_bank = 576;

inline constexpr std::size_t run_length_at = 5;
inline constexpr std::size_t run_head_size = 8;
inline constexpr std::uint8_t first_literal_control = 0x80;
inline constexpr std::size_t literal_base = 256; // a literal run copies 256 - c bytes
inline constexpr std::size_t repeat_base = 2;    // a repeat run writes its byte c + 2 times
inline constexpr std::size_t longest_literal = literal_base - first_literal_control;
inline constexpr std::size_t longest_repeat = first_literal_control - 1 + repeat_base;

// Whether an index file of this size is one of the three kinds.
bool known_index_size(std::int64_t index_size);
// The kind of pictures an index file of this (known) size holds.
picture_kind kind_of_index(std::int64_t index_size);

// Reads index entry `entry` (sector and length) from `index`.
void read_index_entry(const byte_view& index, std::int32_t entry, std::uint32_t& sector,
                      std::uint32_t& length);

// Where a pair's archive is read from: a file on disk, or a file inside a disc image. Reads up
// to `count` bytes at `offset` into `into` and returns how many it read: fewer where the
// archive ends or cannot be read further.
using archive_reader = read_at_offset;
// The reader of an archive open as a file.
archive_reader reader_of_file(std::FILE* archive);

// Reads up to `length` bytes at `offset` of the archive into `buffer` (record_buffer_size
// bytes; at most that many are read); returns the bytes actually read.
byte_view read_record(std::uint8_t* buffer, const archive_reader& archive, std::uint64_t offset,
                      std::uint32_t length);

// How many frame counters the record of an entry takes, from no more of it than its head
// (`head`: the first palette_head_size bytes read, or fewer where the record has no more) and
// the entry's length: the same count its decoder advances the counter by.
std::int32_t record_counters(std::int64_t index_size, const byte_view& head, std::uint32_t length);

// Whether a screen bank record of this (index entry) length has no screens decoded from it: too
// short to hold one, or longer than the archive's 32-bit signed offsets reach.
bool screens_never_decoded(std::uint32_t length);

// Whether the first screen of a screen bank, expanded into `scratch` (pixel_buffer_size bytes),
// covers the whole screen, so that nothing earlier screens left there shows through.
bool first_screen_covers_all(const byte_view& record, std::uint32_t length, std::uint8_t* scratch);

// One entry as the walk read it, handed over after its pictures.
struct walked_entry {
  std::int32_t entry = 0;
  byte_view record;               // the bytes actually read, in record_buffer
  std::int32_t first_counter = 0; // the counter of its first frame
  std::int32_t next_counter = 0;  // the counter after its last
};
// Told of each entry after its pictures.
using entry_done = std::function<void(const walked_entry&)>;
// Told before each entry decoded how many entries of the index come after it.
using countdown_step = std::function<void(std::int32_t entries_after)>;

// The counters the pictures of one entry take, before its record is decoded.
struct entry_span {
  picture_kind kind = picture_kind::direct;
  std::int32_t entry = 0;
  std::int32_t first_counter = 0;
  std::int32_t counters = 0;
};

// Which entries a walk decodes, when not all. A record left out is read no further than its
// head, for the number of frames it holds, so every picture keeps its name.
struct entry_choice {
  std::function<bool(const entry_span&)> wanted;
  // A screen bank left out: its screens are not expanded, so the screen falls behind.
  std::function<void(std::uint64_t offset, std::uint32_t length)> screens_skipped;
  // Before the screens of a wanted record are expanded: brings the screen up to date where
  // the record's first screen would not cover all of it.
  std::function<void(const byte_view& record, std::uint32_t length)> screens_wanted;
};

// A pair as the walk reads it, and the buffers it reads into.
struct pair_to_walk {
  byte_view index;
  archive_reader archive;
  std::uint8_t* record_buffer = nullptr; // record_buffer_size bytes
  std::uint8_t* screen = nullptr;        // pixel_buffer_size bytes: the screen the walk starts from
  const entry_choice* choice = nullptr;  // every entry when null
  // In a walk that follows the writing of its pair: waits until entry `entry` (its index entry
  // and its record) may be read; false stops the walk. Unset, every entry may be read at once.
  std::function<bool(std::int32_t entry)> ready;
};

// The walk of one pair, shared by extraction, listing and insertion: reads each entry of the
// index from the archive, decodes it as the index's kind with its pictures going to `sink`,
// then tells `done` (when given). Screens are expanded into `screen`, each over the one before.
// `countdown` (when given) is told before each entry decoded. Index files of any size but the
// three known ones yield nothing. Returns whether any entry was decoded (a walk of a chosen few,
// or one whose `ready` stopped it at once, may decode none).
bool walk_pair(const pair_to_walk& pair, const picture_sink& sink, const entry_done& done = {},
               const countdown_step& countdown = {});

// The record kinds, decoded from `record` (the bytes read for entry `entry`). Each hands every
// picture, or the damage in its place, to `sink`, and advances frame_counter by one per frame,
// given or not, so every picture keeps its name.
void decode_direct_frame(const byte_view& record, std::int32_t entry, std::int32_t& frame_counter,
                         const picture_sink& sink);
void decode_frame_bank(const byte_view& record, std::int32_t entry, std::int32_t& frame_counter,
                       const picture_sink& sink);
// `record_length` is the entry's; each screen is expanded into `screen` (pixel_buffer_size
// bytes) over the one before, and shown from there.
void decode_screen_bank(const byte_view& record, std::uint32_t record_length, std::uint8_t* screen,
                        std::int32_t entry, std::int32_t& frame_counter, const picture_sink& sink);

// Where frame k starts in its record's pixel or packed area, from the offset table (0 when the
// entry is not there).
std::size_t frame_offset(const byte_view& record, std::uint32_t k);

struct run_expansion {
  std::size_t produced; // bytes written to the destination
  bool complete;        // false when the stream runs past the end of its source
  std::size_t consumed; // bytes of the source read, head included
};
// Expands one run-length stream into the destination. Output that would run past the
// destination's end is dropped.
run_expansion expand_runs(const byte_view& source, std::uint8_t* destination,
                          std::size_t destination_size);
