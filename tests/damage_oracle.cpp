#include "damage_oracle.hpp"

#include <zlib.h>

#include <cstdio>
#include <cstring>

namespace {

std::uint32_t le32_at(const byte_vector& bytes, std::size_t at) {
  return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
         static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

std::uint32_t be32_at(const byte_vector& bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes[at]) << 24 | bytes[at + 1] << 16 | bytes[at + 2] << 8 |
         bytes[at + 3];
}

// The headers alone tell whether the file has the size they give it.
bool well_formed_bitmap(const byte_vector& head, std::uint64_t file_size) {
  if (head.size() < 54 || head[0] != 'B' || head[1] != 'M' || le32_at(head, 2) != file_size) {
    return false;
  }
  const std::uint64_t bits = head[28];
  const std::uint64_t row = (le32_at(head, 18) * bits / 8 + 3) / 4 * 4;
  return (bits == 8 || bits == 24) && le32_at(head, 10) + row * le32_at(head, 22) == file_size;
}

// Signature, IHDR (8-bit, colour type 2 or 3, no interlace), PLTE before the data for palette
// pictures, IDAT chunks that inflate to exactly one filter byte (None) and one row per line,
// IEND last; every CRC right.
bool well_formed_png(const byte_vector& bytes) {
  static const std::uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (bytes.size() < 8 || std::memcmp(bytes.data(), signature, 8) != 0) {
    return false;
  }
  std::uint64_t width = 0;
  std::uint64_t height = 0;
  std::uint8_t colour_type = 0;
  bool palette = false;
  std::string data;
  std::string names;
  for (std::size_t at = 8;;) {
    if (bytes.size() - at < 12) {
      return false;
    }
    const std::uint32_t size = be32_at(bytes, at);
    if (bytes.size() - at - 12 < size) {
      return false;
    }
    const std::string name(bytes.begin() + static_cast<std::ptrdiff_t>(at + 4),
                           bytes.begin() + static_cast<std::ptrdiff_t>(at + 8));
    const std::uint8_t* content = bytes.data() + at + 8;
    if (crc32(0, bytes.data() + at + 4, size + 4) != be32_at(bytes, at + 8 + size)) {
      return false;
    }
    names += name + " ";
    if (name == "IHDR" && size == 13) {
      width = be32_at(bytes, at + 8);
      height = be32_at(bytes, at + 12);
      colour_type = content[9];
      if (content[8] != 8 || (colour_type != 2 && colour_type != 3) || content[12] != 0) {
        return false;
      }
    } else if (name == "PLTE") {
      palette = size == 768;
    } else if (name == "IDAT") {
      data.append(reinterpret_cast<const char*>(content), size);
    }
    at += 12 + size;
    if (name == "IEND") {
      if (at != bytes.size()) {
        return false;
      }
      break;
    }
  }
  const std::uint64_t row = 1 + width * (colour_type == 2 ? 3 : 1);
  std::string rows(row * height + 1, '\0');
  uLongf inflated = rows.size();
  if (width == 0 || height == 0 || palette != (colour_type == 3) || names.rfind("IHDR ", 0) != 0 ||
      uncompress(reinterpret_cast<Bytef*>(rows.data()), &inflated,
                 reinterpret_cast<const Bytef*>(data.data()), data.size()) != Z_OK ||
      inflated != row * height) {
    return false;
  }
  for (std::uint64_t line = 0; line < height; ++line) {
    if (rows[line * row] > 4) {
      return false;
    }
  }
  return true;
}

// The text between a message's prefix and its closing bracket.
std::string bracketed(const std::string& line, std::size_t start) {
  return line.substr(start, line.size() - start - 1);
}

} // namespace

bool well_formed_picture(const byte_vector& bytes) {
  return bytes.size() >= 2 && bytes[0] == 'B' ? well_formed_bitmap(bytes, bytes.size())
                                              : well_formed_png(bytes);
}

bool well_formed_picture_file(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    return false;
  }
  byte_vector head(54);
  head.resize(std::fread(head.data(), 1, head.size(), file));
  std::fseek(file, 0, SEEK_END);
  const auto size = static_cast<std::uint64_t>(std::ftell(file));
  std::rewind(file);
  bool well_formed = well_formed_bitmap(head, size);
  if (!head.empty() && head[0] != 'B') { // a PNG is read whole: its rows must inflate
    byte_vector bytes(size);
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
    well_formed = well_formed_png(bytes);
  }
  std::fclose(file);
  return well_formed;
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

std::string account_for_damage(const std::vector<std::vector<std::string>>& expected,
                               const std::set<std::string>& written, const damage_report& report,
                               bool incomplete) {
  std::size_t named = 0;
  std::size_t due = 0;
  bool missing = false;
  for (std::size_t entry = 0; entry < expected.size(); ++entry) {
    const bool record_reported = report.broken_records.count(static_cast<std::int32_t>(entry)) != 0;
    named += record_reported;
    missing = missing || record_reported; // its pictures, whatever they were, are not given
    for (const std::string& name : expected[entry]) {
      const bool frame_reported = report.broken_frames.count(name) != 0;
      named += frame_reported;
      if (written.count(name) != 0) {
        if (frame_reported || record_reported) {
          return name + " written but reported";
        }
        ++due;
      } else if (frame_reported == record_reported) {
        return name + " missing and not reported once";
      } else {
        missing = true;
      }
    }
  }
  if (due != written.size()) {
    return "a picture written that the intact archive does not give";
  }
  if (named != report.messages || report.other_lines != 0) {
    return "a message about nothing missing, or repeated";
  }
  if (incomplete != missing) {
    return incomplete ? "incomplete with nothing missing" : "complete with something missing";
  }
  return {};
}
