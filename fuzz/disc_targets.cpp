// The fuzz targets of the disc room: cue sheets and the ISO 9660 listing.
#include <algorithm>
#include <cstring>
#include <string_view>

#include "disc/cue_sheet.hpp"
#include "disc/iso9660.hpp"
#include "fuzz_support.hpp"
#include "targets.hpp"

// The input as a cue sheet: a sheet read gives its data track from among its files, or a
// reason.
int fuzz_cue_sheet(const std::uint8_t* data, std::size_t size) {
  const cue_sheet sheet = parse_cue_sheet({reinterpret_cast<const char*>(data), size});
  if (!sheet.reason.empty()) {
    return 0;
  }
  const data_track_choice chosen = first_data_track(sheet);
  require((chosen.track == nullptr) != chosen.reason.empty(), "a data track or a reason");
  for (const cue_track& track : sheet.tracks) {
    require(std::count(sheet.files.begin(), sheet.files.end(), track.file) == 1,
            "a track's file is among the sheet's files, once");
  }
  require(chosen.track == nullptr || chosen.track->format.has_value(), "a data track's format");
  return 0;
}

// The input as the sectors of a data track from sector 16 on (those before are zero): every
// file listed lies inside the track, and its directory record, where the listing says it is,
// holds its size.
int fuzz_iso9660(const std::uint8_t* data, std::size_t size) {
  const std::uint64_t skipped = first_descriptor_sector;
  const std::uint64_t count = skipped + size / user_data_size;
  const auto read = [&](std::uint64_t sector, std::uint8_t* into) -> std::string {
    require(sector < count, "a sector past the end is never asked for");
    if (sector < skipped) {
      std::memset(into, 0, user_data_size);
    } else {
      std::memcpy(into, data + (sector - skipped) * user_data_size, user_data_size);
    }
    return {};
  };
  const iso_listing listing = list_iso_files(read, count);
  for (const iso_file& file : listing.files) {
    require(file.path.size() > 1 && file.path[0] == '/' &&
                file.path.find("//") == std::string::npos,
            "a full path");
    require(file.first_sector + (file.size + user_data_size - 1) / user_data_size <= count,
            "a file inside the track");
    require(file.record_sector >= skipped && file.record_sector < count &&
                file.record_at + shortest_record <= user_data_size,
            "a record inside the track");
    std::uint32_t recorded = 0;
    read_u32le({data + (file.record_sector - skipped) * user_data_size, user_data_size},
               file.record_at + data_length_at, recorded);
    require(recorded == file.size, "the record holds the file's size");
  }
  return 0;
}
