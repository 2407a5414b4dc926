// Where the decoders hand over each picture, and report the ones they cannot give.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/state.hpp"

enum class picture_kind { direct, frame, screen };

// One picture of the current index file: its kind, the frame counter that names it, and where
// it lies (the index entry of its record and its place in that record, both from 0). Its size
// is image_width x image_height.
struct picture {
  picture_kind kind;
  std::int32_t counter;
  std::int32_t entry;
  std::int32_t frame;
};

// The name of the file the picture is saved as, without its folder.
std::string picture_name(const extraction_state& state, const std::string& base_name,
                         const picture& shown);

// Saves the picture from `pixels`: colour words for direct colour, else palette indices into
// `palette`; rows top row first.
void save_picture(extraction_state& state, const std::string& base_name, const picture& shown,
                  const std::uint8_t* pixels);

// A picture that lies outside its record's bytes or is too large; it is not saved. The run
// ends with status 1.
void report_broken_frame(extraction_state& state, const std::string& base_name,
                         const picture& shown);
// A record too short for its own head or tables; none of its pictures is saved.
void report_broken_record(extraction_state& state, picture_kind kind, std::int32_t entry);

enum class shown_status { picture, broken_frame, broken_record };

// A picture kept in memory as extraction shows it, or the damage found in its place.
struct shown_picture {
  picture where; // a broken record: its kind and entry, counter and frame -1
  shown_status status = shown_status::picture;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::vector<std::uint8_t> pixels;  // direct colour: red, green, blue a pixel; else indices
  std::vector<std::uint8_t> palette; // palette kinds: red, green, blue of all 256 colours
};

// The 256 colours of a palette of colour words, as red, green, blue.
std::vector<std::uint8_t> palette_colours(const std::uint8_t* palette_words);
