// What the fuzz targets share: a scratch folder in memory-backed storage for the pictures, and
// the checks made after every input.
#pragma once

#include <map>
#include <set>
#include <string>

#include "pictures/picture_reader.hpp"
#include "test_support.hpp"

// This process's scratch folder, under /dev/shm or $OFB2BMP_FUZZ_SCRATCH, made empty.
fs::path empty_scratch_folder();

// Checks that every picture in `folder` is well formed, removes them and returns them decoded,
// by name.
std::map<std::string, picture_pixels> take_pictures(const fs::path& folder);

// Stops with a message (and the input's name, when replaying) when `holds` is false.
void require(bool holds, const std::string& what);

// The input being replayed, named in failures.
extern std::string replayed_input;
