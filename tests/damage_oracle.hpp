// What the fuzz targets read back from an extraction of damaged input: whether a picture file
// is well formed, and which pictures and records the console names broken.
#pragma once

#include <cstdint>
#include <set>
#include <string>

// A picture file as the tool writes them: one that the tool's own reader, itself checked against
// an independent library, takes whole (a PNG's chunks, checksums and rows too), with all 256
// colours for palette pictures; a bitmap of 8 or 24 bits whose header gives the file's size.
bool well_formed_picture_file(const std::string& path);

// The damage an extraction reported on its console.
struct damage_report {
  std::set<std::string> broken_frames;   // picture names, without the folder
  std::set<std::int32_t> broken_records; // entry numbers
  std::size_t messages = 0;              // broken-frame and broken-record lines, repeats included
  std::size_t other_lines = 0;           // lines that are neither (progress excluded)
};
damage_report read_damage(const std::string& console, const std::string& folder,
                          const std::string& archive);
