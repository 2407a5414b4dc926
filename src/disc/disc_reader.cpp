#include "disc/disc_reader.hpp"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>

#include "common/system_files.hpp"
#include "disc/cue_sheet.hpp"
#include "disc/error_codes.hpp"

namespace {

namespace fs = std::filesystem;

std::string lower(std::string text) {
  for (char& c : text) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return text;
}

bool names_cue_sheet(const std::string& path) {
  return path.size() >= 4 && lower(path.substr(path.size() - 4)) == ".cue";
}

std::shared_ptr<std::FILE> open_for_reading(const std::string& path, std::string& reason) {
  std::FILE* stream = open_file(path, "rb");
  if (stream == nullptr) {
    reason = path + ": " + error_text(last_error_code());
    return nullptr;
  }
  std::setvbuf(stream, nullptr, _IONBF, 0);
  return {stream, file_closer{}};
}

// Reads the sheet and finds its data track; a reason when it cannot.
std::string open_cue_sheet(disc_image& disc) {
  std::string reason;
  const std::shared_ptr<std::FILE> sheet = open_for_reading(disc.path, reason);
  if (!sheet) {
    return reason;
  }
  const std::int64_t size = file_size(sheet.get());
  if (size < 0 || static_cast<std::uint64_t>(size) > longest_cue_sheet) {
    return disc.path + ": not a cue sheet, longer than " + std::to_string(longest_cue_sheet) +
           " bytes";
  }
  std::string text(static_cast<std::size_t>(size), '\0');
  if (read_file_at(sheet.get(), 0, reinterpret_cast<std::uint8_t*>(text.data()), text.size()) !=
      text.size()) {
    return disc.path + ": " + error_text(last_error_code());
  }
  const cue_sheet parsed = parse_cue_sheet(text);
  if (!parsed.reason.empty()) {
    return disc.path + ", " + parsed.reason;
  }
  disc.from_cue_sheet = true;
  disc.sheet_files = parsed.files;
  for (const std::string& name : parsed.files) {
    if (!file_exists(sheet_file_path(disc.path, name))) {
      return disc.path + " names " + name + ", which is missing";
    }
  }
  const data_track_choice chosen = first_data_track(parsed);
  if (chosen.track == nullptr) {
    return disc.path + ": " + chosen.reason;
  }
  disc.track_name = chosen.track->file;
  disc.track_path = sheet_file_path(disc.path, chosen.track->file);
  disc.track_start = chosen.track->start_byte;
  disc.format = *chosen.track->format;
  return {};
}

// Opens an image file and tells its format; a reason when it has none.
std::string open_image_file(disc_image& disc) {
  std::string reason;
  disc.track = open_for_reading(disc.path, reason);
  if (!disc.track) {
    return reason;
  }
  std::vector<std::uint8_t> start(detection_size);
  start.resize(read_file_at(disc.track.get(), 0, start.data(), start.size()));
  const auto format = detect_format({start.data(), start.size()});
  if (!format) {
    return disc.path + ": not a disc image (neither CD001 at byte 32,769 nor a sync of raw "
                       "sectors of Mode 1 or 2 at byte 0)";
  }
  disc.track_name = fs::path(disc.path).filename().string();
  disc.track_path = disc.path;
  disc.format = *format;
  return {};
}

} // namespace

disc_opening open_disc(const std::string& path) {
  disc_opening opening;
  disc_image& disc = opening.disc;
  disc.path = path;
  opening.reason = names_cue_sheet(path) ? open_cue_sheet(disc) : open_image_file(disc);
  if (!opening.reason.empty()) {
    return opening;
  }
  if (!disc.track) {
    disc.track = open_for_reading(disc.track_path, opening.reason);
    if (!disc.track) {
      return opening;
    }
  }
  const std::int64_t size = file_size(disc.track.get());
  if (size < 0 || static_cast<std::uint64_t>(size) < disc.track_start) {
    opening.reason = disc.track_path + ": the data track starts past the file's end";
    return opening;
  }
  disc.sector_count =
      (static_cast<std::uint64_t>(size) - disc.track_start) / stored_size(disc.format);
  disc.listing =
      list_iso_files([&disc](std::uint64_t sector,
                             std::uint8_t* into) { return read_disc_sector(disc, sector, into); },
                     disc.sector_count);
  return opening;
}

std::string read_disc_sector(const disc_image& disc, std::uint64_t sector, std::uint8_t* into) {
  std::uint8_t stored[raw_sector_size];
  const std::size_t size = stored_size(disc.format);
  if (sector >= disc.sector_count ||
      read_file_at(disc.track.get(), disc.track_start + sector * size, stored, size) != size) {
    return "sector " + std::to_string(sector) + " lies past the image's end";
  }
  if (disc.format != sector_format::user_data) {
    const std::string wrong = check_raw_sector(stored, disc.format, sector);
    if (!wrong.empty()) {
      return wrong;
    }
  }
  std::memcpy(into, stored + user_data_at(disc.format), user_data_size);
  return {};
}

file_read read_disc_file(const disc_image& disc, const iso_file& file, std::uint64_t offset,
                         std::uint8_t* into, std::size_t size) {
  file_read result;
  if (offset >= file.size) {
    return result;
  }
  size = static_cast<std::size_t>(std::min<std::uint64_t>(size, file.size - offset));
  const std::size_t stored = stored_size(disc.format);
  std::vector<std::uint8_t> buffer(stored * sectors_a_read);
  while (result.size < size) {
    const std::uint64_t at = offset + result.size;
    const std::uint64_t first = file.first_sector + at / user_data_size;
    const std::uint64_t last = file.first_sector + (offset + size - 1) / user_data_size;
    const std::size_t count =
        static_cast<std::size_t>(std::min<std::uint64_t>(last - first + 1, sectors_a_read));
    if (first + count > disc.sector_count ||
        read_file_at(disc.track.get(), disc.track_start + first * stored, buffer.data(),
                     count * stored) != count * stored) {
      result.reason = "sector " + std::to_string(std::max(first, disc.sector_count)) +
                      " lies past the image's end";
      return result;
    }
    for (std::size_t k = 0; k < count && result.size < size; ++k) {
      const std::uint8_t* sector = buffer.data() + k * stored;
      if (disc.format != sector_format::user_data) {
        result.reason = check_raw_sector(sector, disc.format, first + k);
        if (!result.reason.empty()) {
          return result;
        }
        if (!edc_matches(sector, disc.format) && result.failed_edc++ == 0) {
          result.first_failed = first + k;
        }
      }
      const std::size_t within = (offset + result.size) % user_data_size;
      const std::size_t part = std::min(user_data_size - within, size - result.size);
      std::memcpy(into + result.size, sector + user_data_at(disc.format) + within, part);
      result.size += part;
    }
  }
  return result;
}

std::string sheet_file_path(const std::string& sheet, std::string name) {
#ifndef _WIN32
  std::replace(name.begin(), name.end(), '\\', '/');
#endif
  return (fs::path(sheet).parent_path() / fs::path(name)).string();
}

const iso_file* find_disc_file(const disc_image& disc, const std::string& path) {
  const std::string wanted = lower(path);
  for (const iso_file& file : disc.listing.files) {
    if (lower(file.path) == wanted) {
      return &file;
    }
  }
  return nullptr;
}
