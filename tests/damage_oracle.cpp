#include "damage_oracle.hpp"

#include "common/state.hpp"
#include "pictures/picture_reader.hpp"
#include "test_support.hpp"

namespace {

// The text between a message's prefix and its closing bracket.
std::string bracketed(const std::string& line, std::size_t start) {
  return line.substr(start, line.size() - start - 1);
}

} // namespace

bool well_formed_picture_file(const std::string& path) {
  const byte_vector file = read_whole_file(path);
  picture_pixels picture;
  std::string why;
  return decode_picture({file.data(), file.size()}, pixel_buffer_size, picture, why) &&
         (file[0] != 'B' || (le32(file, 2) == file.size() && (file[28] == 8 || file[28] == 24))) &&
         (!picture.indexed || picture.palette.size() == 3 * 256);
}

damage_report read_damage(const std::string& console, const std::string& folder,
                          const std::string& archive) {
  damage_report report;
  const std::string frame = "broken frame![" + folder;
  const std::string record = "broken record![" + archive + ":";
  std::size_t start = 0;
  for (std::size_t end = console.find('\n'); end != std::string::npos;
       start = end + 1, end = console.find('\n', start)) {
    // Progress shares lines with the messages: only what follows the last carriage return counts.
    std::string line = console.substr(start, end - start);
    line = line.substr(line.rfind('\r') == std::string::npos ? 0 : line.rfind('\r') + 1);
    if (line.empty() || line == "completed.") {
      continue;
    }
    if (line.rfind(frame, 0) == 0 && line.back() == ']') {
      report.broken_frames.insert(bracketed(line, frame.size()));
      ++report.messages;
    } else if (line.rfind(record, 0) == 0 && line.back() == ']') {
      report.broken_records.insert(std::stoi(bracketed(line, record.size())));
      ++report.messages;
    } else {
      ++report.other_lines;
    }
  }
  return report;
}
