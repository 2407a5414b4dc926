#include "driver/paths.hpp"

#include <cstring>

const path_syntax posix_path_syntax{"/", nullptr};
const path_syntax shift_jis_path_syntax{"\\/:", shift_jis_lead_byte};

bool shift_jis_lead_byte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

path_marks scan_path(std::string_view path, const path_syntax& syntax) {
  path_marks marks{0, std::string_view::npos};
  for (std::size_t i = 0; i < path.size(); ++i) {
    const auto byte = static_cast<unsigned char>(path[i]);
    if (syntax.is_lead_byte != nullptr && syntax.is_lead_byte(byte)) {
      ++i; // the trail byte is never a separator or a dot
    } else if (byte != 0 && std::strchr(syntax.separators, byte) != nullptr) {
      marks = {i + 1, std::string_view::npos};
    } else if (byte == '.') {
      marks.last_dot = i;
    }
  }
  return marks;
}

std::string search_pattern(std::string_view input, const path_syntax& syntax) {
  const path_marks marks = scan_path(input, syntax);
  return std::string(input.substr(0, marks.last_dot)) + ".OFB";
}

std::string folder_prefix(std::string_view input, const path_syntax& syntax) {
  return std::string(input.substr(0, scan_path(input, syntax).name_start));
}

std::string base_name(std::string_view file_name, const path_syntax& syntax) {
  return std::string(file_name.substr(0, scan_path(file_name, syntax).last_dot));
}

std::string archive_name(std::string_view index_path, const path_syntax& syntax) {
  const path_marks marks = scan_path(index_path, syntax);
  if (marks.last_dot == std::string_view::npos) {
    return std::string(index_path) + ".BIN";
  }
  return std::string(index_path.substr(0, marks.last_dot + 1)) + "BIN";
}
