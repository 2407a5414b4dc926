// The path rules on arbitrary bytes, with both path syntaxes: every result is made of the
// input's own bytes, and the rules agree with each other the way the driver relies on.
#include <string>
#include <string_view>

#include "driver/paths.hpp"
#include "fuzz_support.hpp"

namespace {

bool is_separator(const path_syntax& syntax, char byte) {
  for (const char* s = syntax.separators; *s != '\0'; ++s) {
    if (*s == byte) {
      return true;
    }
  }
  return false;
}

bool starts_with(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// True when the last byte of `text` starts a double-byte character, whose second byte would
// then be the next byte appended: such an input is cut in the middle of a character.
bool ends_in_lead_byte(std::string_view text, const path_syntax& syntax) {
  if (syntax.is_lead_byte == nullptr) {
    return false;
  }
  bool lead = false;
  for (const char c : text) {
    lead = !lead && syntax.is_lead_byte(static_cast<unsigned char>(c));
  }
  return lead;
}

void check_rules(std::string_view input, const path_syntax& syntax) {
  const path_marks marks = scan_path(input, syntax);
  require(marks.name_start <= input.size(), "name start past the end");
  require(marks.name_start == 0 || is_separator(syntax, input[marks.name_start - 1]),
          "name start not after a separator");
  require(marks.last_dot == std::string_view::npos ||
              (marks.last_dot >= marks.name_start && marks.last_dot < input.size() &&
               input[marks.last_dot] == '.'),
          "last dot not a dot of the last component");

  const std::string prefix = folder_prefix(input, syntax);
  require(prefix == input.substr(0, marks.name_start), "folder prefix is not the input's start");

  const std::string pattern = search_pattern(input, syntax);
  require(starts_with(pattern, prefix), "search pattern leaves the folder");
  require(pattern.size() >= 4 && pattern.compare(pattern.size() - 4, 4, ".OFB") == 0,
          "search pattern without .OFB");
  require(starts_with(input, std::string_view(pattern).substr(0, pattern.size() - 4)),
          "search pattern is not the input's start");

  const std::string base = base_name(input, syntax);
  require(starts_with(input, base) && base.size() >= prefix.size(),
          "base name is not the input's start");

  const std::string archive = archive_name(input, syntax);
  require(archive.size() >= 3 && archive.compare(archive.size() - 3, 3, "BIN") == 0,
          "archive name without BIN");

  if (ends_in_lead_byte(input, syntax)) {
    return; // appending ".OFB" would complete the cut character; nothing more holds
  }
  // What the driver relies on: the files found by the pattern are in the input's folder, the
  // archive beside its index and under the same name, and the pattern finds itself again.
  require(folder_prefix(pattern, syntax) == prefix, "pattern and input in different folders");
  require(folder_prefix(archive, syntax) == prefix, "archive and index in different folders");
  require(base_name(archive, syntax) == base, "archive and index under different names");
  require(search_pattern(pattern, syntax) == pattern, "search pattern is not stable");
  require(search_pattern(archive, syntax) == pattern, "the archive name leads to another index");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  check_rules(input, posix_path_syntax);
  check_rules(input, shift_jis_path_syntax);
  return 0;
}
