// How the driver takes paths apart: search pattern, folder prefix, base name, archive name.
// Scans compare bytes, but never take the second byte of a double-byte character for a
// separator or a dot.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

using lead_byte_test = bool (*)(unsigned char byte);

struct path_syntax {
  const char* separators;      // bytes that end a folder name
  lead_byte_test is_lead_byte; // first byte of a double-byte character; null for none
};

// POSIX: '/' alone, no double-byte characters.
extern const path_syntax posix_path_syntax;
// Windows paths in the Shift-JIS code page: '\', '/' and ':'.
extern const path_syntax shift_jis_path_syntax;

bool shift_jis_lead_byte(unsigned char byte);

struct path_marks {
  std::size_t name_start; // just after the last separator, 0 without one
  std::size_t last_dot;   // last '.' after name_start, or npos
};
path_marks scan_path(std::string_view path, const path_syntax& syntax);

// The input up to the last '.' of its last component (all of it without one), plus ".OFB".
std::string search_pattern(std::string_view input, const path_syntax& syntax);
// The input up to and including its last separator; empty without one.
std::string folder_prefix(std::string_view input, const path_syntax& syntax);
// The text with ASCII letters in upper case, as names are compared ignoring letter case.
std::string ascii_upper_case(std::string text);
// A file name up to its last '.'.
std::string base_name(std::string_view file_name, const path_syntax& syntax);
// Of `names`, those nearest to `wanted` (names of files, compared up to their last '.' and
// ignoring ASCII letter case), nearest first, at most `most`: within two edits of it (one for a
// name of two letters or fewer), or beginning with it, or the beginning of it.
std::vector<std::string> nearest_names(const std::string& wanted,
                                       const std::vector<std::string>& names, std::size_t most);
// The index path with everything after the last '.' of its name replaced by "BIN".
std::string archive_name(std::string_view index_path, const path_syntax& syntax);
