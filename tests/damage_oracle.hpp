// What damaged input may do, checked the same way by the fault tests and the fuzz targets:
// every picture written is well formed, every picture missing is named once, by itself or by
// its record, no message names anything else, and the run is incomplete exactly when
// something is missing.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

using byte_vector = std::vector<std::uint8_t>;

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

// Checks one extraction against the pictures it should have given: `expected` holds, for every
// index entry, the names of its pictures. Returns what is wrong, empty when nothing is.
std::string account_for_damage(const std::vector<std::vector<std::string>>& expected,
                               const std::set<std::string>& written, const damage_report& report,
                               bool incomplete);
