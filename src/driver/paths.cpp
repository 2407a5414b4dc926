#include "driver/paths.hpp"

#include <algorithm>
#include <cstring>
#include <utility>

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

namespace {

std::string lower_ascii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return lower;
}

// Insertions, deletions and substitutions that turn one into the other.
std::size_t edit_distance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) {
    row[j] = j;
  }
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

} // namespace

std::vector<std::string> nearest_names(const std::string& wanted,
                                       const std::vector<std::string>& names, std::size_t most) {
  const std::string stem = lower_ascii(base_name(wanted, posix_path_syntax));
  const std::size_t allowed = stem.size() <= 2 ? 1 : 2;
  std::vector<std::pair<std::size_t, std::string>> near;
  for (const std::string& name : names) {
    const std::string other = lower_ascii(base_name(name, posix_path_syntax));
    const std::size_t distance = edit_distance(stem, other);
    const bool prefix =
        !stem.empty() && !other.empty() && (other.starts_with(stem) || stem.starts_with(other));
    if (distance <= allowed || prefix) {
      near.emplace_back(distance, name);
    }
  }
  std::stable_sort(near.begin(), near.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string> nearest;
  for (std::size_t k = 0; k < near.size() && k < most; ++k) {
    nearest.push_back(near[k].second);
  }
  return nearest;
}

std::string ascii_upper_case(std::string text) {
  for (char& c : text) {
    c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  }
  return text;
}
