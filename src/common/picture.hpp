// A picture as a value: what the record decoders give and every sink takes (the file writers,
// the lister, insertion's collector), the copy that collector keeps, and a picture read back
// from a file. Decoders know nothing of where pictures go; sinks know nothing of archives.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "common/byte_view.hpp"
#include "common/state.hpp"

enum class picture_kind { direct, frame, screen };

enum class picture_status { ok, broken_frame, broken_record };

// Where a picture lies in the current index file: its kind, the frame counter that names it,
// the index entry of its record and its place in that record (both from 0). A broken record
// has counter and frame -1.
struct picture_place {
  picture_kind kind = picture_kind::direct;
  std::int32_t counter = 0;
  std::int32_t entry = 0;
  std::int32_t frame = 0;
};

// One picture, or the damage found in its place. The views point where the bytes lie (the
// record read, or the screen expanded from it), so a sink that keeps a picture copies it: the
// next screen is expanded over the same bytes, the next record read over the record.
struct picture {
  picture_place place;
  picture_status status = picture_status::ok;
  std::int32_t width = 0; // an ok picture's or a broken frame's size; 0 for a broken record
  std::int32_t height = 0;
  byte_view pixels;  // ok only: colour words for direct colour, else palette indices; top row first
  byte_view palette; // palette kinds: the record's 256 colour words (palette_size bytes)
};

// Where decoders hand each picture, in the order of the walk.
using picture_sink = std::function<void(const picture&)>;

// A picture kept in memory as extraction shows it, or the damage found in its place.
struct shown_picture {
  picture_place where; // a broken record: its kind and entry, counter and frame -1
  picture_status status = picture_status::ok;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::vector<std::uint8_t> pixels;  // direct colour: red, green, blue a pixel; else indices
  std::vector<std::uint8_t> palette; // palette kinds: red, green, blue of all 256 colours
};

// A picture read back from a file, rows top row first.
struct picture_pixels {
  std::int32_t width = 0;
  std::int32_t height = 0;
  bool indexed = false;              // palette indices with a palette; else red, green, blue
  std::vector<std::uint8_t> pixels;  // indexed: one index a pixel; else 3 bytes a pixel: R, G, B
  std::vector<std::uint8_t> palette; // indexed: R, G, B of each colour the file gives (0..256)
};

// Largest frames the tool accepts: as many 24-bit pixels, or palette indices, as pixel_buffer
// holds bytes.
inline bool direct_frame_fits(std::int64_t width, std::int64_t height) {
  return width >= 0 && height >= 0 &&
         width * height * 3 <= static_cast<std::int64_t>(pixel_buffer_size);
}
inline bool indexed_frame_fits(std::int64_t width, std::int64_t height) {
  return width >= 0 && height >= 0 &&
         width * height <= static_cast<std::int64_t>(pixel_buffer_size);
}
