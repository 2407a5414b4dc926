#include "disc/cue_sheet.hpp"

#include <algorithm>
#include <cctype>

namespace {

std::string upper(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return result;
}

bool blank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && blank(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && blank(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

// The first word of `text`, taken off it.
std::string_view next_word(std::string_view& text) {
  text = trimmed(text);
  std::size_t end = 0;
  while (end < text.size() && !blank(text[end])) {
    ++end;
  }
  const std::string_view word = text.substr(0, end);
  text.remove_prefix(end);
  text = trimmed(text);
  return word;
}

// A number of `digits` decimal digits or fewer, none when it is not one.
std::optional<std::uint64_t> number(std::string_view text, std::size_t digits) {
  if (text.empty() || text.size() > digits) {
    return std::nullopt;
  }
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') {
      return std::nullopt;
    }
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return value;
}

// mm:ss:ff as a count of sectors.
std::optional<std::uint64_t> sectors_of_time(std::string_view text) {
  const std::size_t first = text.find(':');
  const std::size_t second = text.find(':', first == std::string_view::npos ? 0 : first + 1);
  if (first == std::string_view::npos || second == std::string_view::npos) {
    return std::nullopt;
  }
  const auto minutes = number(text.substr(0, first), 4);
  const auto seconds = number(text.substr(first + 1, second - first - 1), 2);
  const auto frames = number(text.substr(second + 1), 2);
  if (!minutes || !seconds || !frames || *seconds >= seconds_a_minute ||
      *frames >= sectors_a_second) {
    return std::nullopt;
  }
  return (*minutes * seconds_a_minute + *seconds) * sectors_a_second + *frames;
}

std::optional<sector_format> format_of_mode(const std::string& mode) {
  if (mode == "MODE1/2048") {
    return sector_format::user_data;
  }
  if (mode == "MODE1/2352") {
    return sector_format::raw_mode1;
  }
  if (mode == "MODE2/2352") {
    return sector_format::raw_mode2_form1;
  }
  return std::nullopt;
}

// Reads the statement of one line into the sheet; a reason when it cannot.
std::string read_line(std::string_view line, cue_sheet& sheet, std::string& file,
                      std::string& file_type) {
  if (std::any_of(line.begin(), line.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x20 && c != '\t'; })) {
    return "a control character";
  }
  std::string_view rest = line;
  const std::string keyword = upper(next_word(rest));
  if (keyword == "FILE") {
    if (!rest.empty() && rest.front() == '"') {
      const std::size_t close = rest.find('"', 1);
      if (close == std::string_view::npos) {
        return "a FILE name without its closing quote";
      }
      file = rest.substr(1, close - 1);
      rest.remove_prefix(close + 1);
      file_type = upper(trimmed(rest));
    } else {
      const std::size_t last = rest.find_last_of(" \t");
      if (last == std::string_view::npos) {
        return "a FILE without its type";
      }
      file = trimmed(rest.substr(0, last));
      file_type = upper(rest.substr(last + 1));
    }
    if (file.empty() || file_type.empty() || file_type.find_first_of(" \t") != std::string::npos) {
      return "a FILE without a name and a type";
    }
    if (std::find(sheet.files.begin(), sheet.files.end(), file) == sheet.files.end()) {
      sheet.files.push_back(file);
    }
  } else if (keyword == "TRACK") {
    const auto track_number = number(next_word(rest), 2);
    const std::string mode = upper(next_word(rest));
    if (!track_number || mode.empty() || !rest.empty()) {
      return "a TRACK without a number and a mode";
    }
    if (file.empty()) {
      return "a TRACK before any FILE";
    }
    if (!sheet.tracks.empty() && sheet.tracks.back().start_byte == UINT64_MAX) {
      return "track " + std::to_string(sheet.tracks.back().number) + " without INDEX 01";
    }
    cue_track track{static_cast<int>(*track_number),
                    file,
                    file_type,
                    mode,
                    format_of_mode(mode),
                    0,
                    UINT64_MAX};
    sheet.tracks.push_back(track);
  } else if (keyword == "INDEX") {
    const auto index = number(next_word(rest), 2);
    const auto start = sectors_of_time(next_word(rest));
    if (!index || !start || !rest.empty()) {
      return "an INDEX without a number and a time mm:ss:ff";
    }
    if (sheet.tracks.empty()) {
      return "an INDEX outside a TRACK";
    }
    if (*index == 1) {
      cue_track& track = sheet.tracks.back();
      track.start = *start;
      track.start_byte = *start * (track.format ? stored_size(*track.format) : raw_sector_size);
    }
  }
  return {};
}

} // namespace

cue_sheet parse_cue_sheet(std::string_view text) {
  cue_sheet sheet;
  std::string file;
  std::string file_type;
  int line_number = 0;
  // A byte order mark before the first line is passed over.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") {
    text.remove_prefix(3);
  }
  while (!text.empty()) {
    ++line_number;
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    const std::string reason = read_line(line, sheet, file, file_type);
    if (!reason.empty()) {
      sheet.reason = "line " + std::to_string(line_number) + ": " + reason;
      return sheet;
    }
  }
  if (!sheet.tracks.empty() && sheet.tracks.back().start_byte == UINT64_MAX) {
    sheet.reason = "track " + std::to_string(sheet.tracks.back().number) + " without INDEX 01";
  } else if (sheet.tracks.empty()) {
    sheet.reason = "no TRACK";
  }
  return sheet;
}

data_track_choice first_data_track(const cue_sheet& sheet) {
  for (const cue_track& track : sheet.tracks) {
    if (track.mode == "AUDIO") {
      continue;
    }
    const std::string name = "track " + std::to_string(track.number);
    if (!track.format) {
      return {nullptr, name + " is " + track.mode +
                           ", which is not read (only MODE1/2048, "
                           "MODE1/2352 and MODE2/2352 are)"};
    }
    if (track.file_type != "BINARY") {
      return {nullptr, name + " is in a file of type " + track.file_type + ", not BINARY"};
    }
    return {&track, {}};
  }
  return {nullptr, "no data track, only audio"};
}
