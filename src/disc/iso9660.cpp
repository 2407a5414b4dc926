#include "disc/iso9660.hpp"

#include <algorithm>
#include <cstring>
#include <set>

#include "common/byte_view.hpp"
#include "disc/sector_format.hpp"

namespace {

// A directory record as read.
struct record {
  std::uint64_t extent = 0;
  std::uint32_t length = 0;
  std::uint8_t flags = 0;
  std::uint8_t attribute_sectors = 0;
  bool interleaved = false;
  std::string name; // empty for the directory itself and its parent
};

// The u32 (width 4) or u16 (width 2) of both byte orders at `at`; false when the halves differ.
bool read_both(const byte_view& view, std::size_t at, std::size_t width, std::uint32_t& value) {
  std::uint32_t big = 0;
  return read_le(view, at, width, value) && read_be(view, at + width, width, big) && big == value;
}

std::uint64_t sectors_for(std::uint64_t bytes) {
  return (bytes + user_data_size - 1) / user_data_size;
}

// The record of `length` bytes at the start of `view`; a reason when it cannot be read.
std::string read_record(const byte_view& view, bool file_name, record& read) {
  std::uint32_t extent = 0;
  std::uint32_t identifier_length = 0;
  if (!read_both(view, extent_at, 4, extent) || !read_both(view, data_length_at, 4, read.length)) {
    return "its extent or length differs between its two byte orders";
  }
  read.extent = extent;
  read.flags = view.bytes[flags_at];
  read.attribute_sectors = view.bytes[attribute_sectors_at];
  read.interleaved = view.bytes[unit_size_at] != 0 || view.bytes[interleave_gap_at] != 0;
  identifier_length = view.bytes[identifier_length_at];
  const std::uint8_t* identifier = bytes_at(view, identifier_at, identifier_length);
  if (identifier == nullptr || identifier_length == 0) {
    return "its name runs past its end";
  }
  read.name.assign(reinterpret_cast<const char*>(identifier), identifier_length);
  if (identifier_length == 1 && identifier[0] <= 1) {
    read.name.clear(); // the directory itself, or its parent
    return {};
  }
  if (file_name) {
    const std::size_t version = read.name.rfind(';');
    if (version != std::string::npos) {
      read.name.resize(version);
    }
    if (!read.name.empty() && read.name.back() == '.') {
      read.name.pop_back();
    }
  }
  if (read.name.empty() || read.name == "." || read.name == ".." ||
      read.name.find_first_of(std::string("/\0", 2)) != std::string::npos) {
    return "its name is not one a file can have";
  }
  return {};
}

struct directory {
  std::string path;
  std::uint64_t extent = 0;
  std::uint32_t length = 0;
  int depth = 0; // the root is at 0
};

struct walk {
  const sector_source& read_sector;
  std::uint64_t sector_count;
  iso_listing& listing;
  std::set<std::uint64_t> directory_sectors{};
  std::vector<directory> pending{};

  void damage(const std::string& reason) {
    if (listing.reason.empty()) {
      listing.reason = reason;
    }
  }

  // Takes one record of the directory: a file listed, a directory to read, or damage.
  void take(const directory& parent, const record& found, std::uint64_t sector, std::size_t at) {
    const std::string path = (parent.path == "/" ? "" : parent.path) + "/" + found.name;
    const std::uint64_t first = found.extent + found.attribute_sectors;
    if (found.flags & flag_directory) {
      if (parent.depth >= deepest_directory) {
        damage("directory " + path + " lies deeper than " + std::to_string(deepest_directory) +
               " levels");
      } else {
        pending.push_back({path, first, found.length, parent.depth + 1});
      }
      return;
    }
    if (found.flags & flag_associated) {
      listing.passed_over.push_back(path + ": an associated file");
    } else if (found.flags & flag_more_extents) {
      listing.passed_over.push_back(path + ": in several extents");
    } else if (found.interleaved) {
      listing.passed_over.push_back(path + ": interleaved");
    } else if (first + sectors_for(found.length) > sector_count) {
      damage("file " + path + " lies past the image's end (sectors " + std::to_string(first) +
             " to " + std::to_string(first + sectors_for(found.length) - 1) + " of " +
             std::to_string(sector_count) + ")");
    } else {
      listing.files.push_back({path, first, found.length, sector, at});
    }
  }

  void read_directory(const directory& at) {
    const std::uint64_t sectors = sectors_for(at.length);
    const std::string name = "directory " + at.path;
    if (at.extent + sectors > sector_count) {
      damage(name + " lies past the image's end (sectors " + std::to_string(at.extent) + " to " +
             std::to_string(at.extent + sectors - 1) + " of " + std::to_string(sector_count) + ")");
      return;
    }
    std::uint8_t bytes[user_data_size];
    for (std::uint64_t s = at.extent; s < at.extent + sectors; ++s) {
      if (!directory_sectors.insert(s).second) {
        damage(name + " takes sector " + std::to_string(s) +
               ", which another directory has: a loop");
        return;
      }
      const std::string unread = read_sector(s, bytes);
      if (!unread.empty()) {
        damage(name + ": " + unread);
        continue;
      }
      const std::size_t used =
          std::min<std::uint64_t>(user_data_size, at.length - (s - at.extent) * user_data_size);
      for (std::size_t offset = 0; offset < used && bytes[offset] != 0;) {
        const std::size_t length = bytes[offset + record_length_at];
        const std::string where = name + ": the record at byte " + std::to_string(offset) +
                                  " of sector " + std::to_string(s);
        if (length < shortest_record || offset + length > user_data_size) {
          damage(where + (length < shortest_record ? " is too short" : " runs past its sector"));
          break;
        }
        record found;
        const std::string wrong = read_record({bytes + offset, length}, true, found);
        if (!wrong.empty()) {
          damage(where + ": " + wrong);
        } else if (!found.name.empty()) {
          take(at, found, s, offset);
        }
        offset += length;
      }
    }
  }
};

} // namespace

iso_listing list_iso_files(const sector_source& read_sector, std::uint64_t sector_count) {
  iso_listing listing;
  walk walker{read_sector, sector_count, listing};
  std::uint8_t primary[user_data_size];
  bool found_primary = false;
  for (std::uint64_t s = first_descriptor_sector;; ++s) {
    const std::string name = "the volume descriptor in sector " + std::to_string(s);
    if (s >= first_descriptor_sector + most_descriptors || s >= sector_count) {
      walker.damage(s >= sector_count ? "the image ends before its volume descriptors do"
                                      : "no end to the volume descriptors");
      break;
    }
    std::uint8_t bytes[user_data_size];
    const std::string unread = read_sector(s, bytes);
    if (!unread.empty()) {
      walker.damage(name + ": " + unread);
      break;
    }
    if (std::memcmp(bytes + descriptor_identifier_at, descriptor_identifier, 5) != 0) {
      walker.damage("sector " + std::to_string(s) + " holds no volume descriptor");
      break;
    }
    if (bytes[descriptor_type_at] == descriptor_terminator) {
      break;
    }
    if (bytes[descriptor_type_at] == descriptor_primary && !found_primary) {
      std::memcpy(primary, bytes, user_data_size);
      found_primary = true;
    }
  }
  if (!found_primary) {
    walker.damage("no primary volume descriptor");
    return listing;
  }
  const byte_view view{primary, user_data_size};
  std::uint32_t volume_size = 0;
  std::uint32_t block_size = 0;
  if (!read_both(view, block_size_at, 2, block_size) || block_size != user_data_size) {
    listing.reason = "the volume's sectors are not of 2,048 bytes";
    return listing;
  }
  if (!read_both(view, volume_size_at, 4, volume_size)) {
    walker.damage("the volume's size differs between its two byte orders");
  } else if (volume_size > sector_count) {
    walker.damage("the image is cut short: " + std::to_string(sector_count) +
                  " sectors of the volume's " + std::to_string(volume_size));
  }
  record root;
  const std::string wrong = read_record({primary + root_record_at, shortest_record}, false, root);
  if (!wrong.empty() || !(root.flags & flag_directory)) {
    walker.damage("the root directory's record: " +
                  (wrong.empty() ? std::string("not a directory") : wrong));
    return listing;
  }
  walker.pending.push_back({"/", root.extent + root.attribute_sectors, root.length, 0});
  while (!walker.pending.empty()) {
    const directory next = walker.pending.back();
    walker.pending.pop_back();
    walker.read_directory(next);
  }
  std::sort(listing.files.begin(), listing.files.end(),
            [](const iso_file& a, const iso_file& b) { return a.path < b.path; });
  std::sort(listing.passed_over.begin(), listing.passed_over.end());
  return listing;
}

void set_data_length(std::uint8_t* sector, std::size_t record_at, std::uint32_t size) {
  for (std::size_t i = 0; i < 4; ++i) {
    sector[record_at + data_length_at + i] = static_cast<std::uint8_t>(size >> 8 * i);
    sector[record_at + data_length_at + 7 - i] = static_cast<std::uint8_t>(size >> 8 * i);
  }
}
