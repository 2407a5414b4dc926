// Picture file names: the index file's base name, the picture's counter as a suffix, and the
// extension of the output format.
#pragma once

#include <cstdint>
#include <string>

#include "common/picture.hpp"
#include "common/state.hpp"

// One suffix character: 0-9, then A-Z for 10 to 35.
char counter_digit(std::uint32_t value);
// A value in base 36: one character up to 35, more beyond, so names stay unique and valid.
std::string base36_text(std::uint32_t value);
std::string direct_suffix(std::int32_t frame_counter);  // "00" ... "NC" ...
std::string indexed_suffix(std::int32_t frame_counter); // "000" ... "0A9" ...
// output_folder + base name + suffix + extension (".BMP").
std::string output_path(const output_options& files, const std::string& base_name,
                        const std::string& suffix, const char* extension);

// The name of the file the picture is saved as, without its folder.
std::string picture_name(const output_options& files, const std::string& base_name,
                         const picture_place& place);
