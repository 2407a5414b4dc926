// The two bitmap writers: 24-bit for direct-colour pictures, 8-bit with a colour table for
// palette pictures. Both write the picture's rows straight from where its pixels lie, into a
// file named after the base name and the picture's counter.
#pragma once

#include <string>

#include "common/picture.hpp"
#include "common/state.hpp"

// Writes the picture's big-endian colour words as a 24-bit bitmap.
void write_direct_bitmap(const output_options& files, picture_output& output,
                         const std::string& base_name, const picture& shown);

// Writes the picture's palette indices as an 8-bit bitmap with the colour table made from its
// palette. With `rows_as_in_file`, the pixels are already the file's rows (bottom row first,
// each padded to a multiple of 4 bytes) and go to it in one piece.
void write_indexed_bitmap(const output_options& files, picture_output& output,
                          const std::string& base_name, const picture& shown,
                          bool rows_as_in_file = false);
