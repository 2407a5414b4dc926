// A disc image opened for reading: its data track, the files of its file system, and reads of
// any bytes of one of those files.
//
// An image path names a cue sheet (a name ending ".cue", any case; cue_sheet.hpp), whose first
// data track is read, or an image file whose first bytes tell its sector format
// (sector_format.hpp): the whole file is then the data track.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "disc/iso9660.hpp"
#include "disc/sector_format.hpp"

// The longest cue sheet read.
inline constexpr std::uint64_t longest_cue_sheet = 1 << 20;
// Sectors read from the image at once.
inline constexpr std::size_t sectors_a_read = 32;

struct file_closer {
  void operator()(std::FILE* stream) const { std::fclose(stream); }
};

struct disc_image {
  std::string path; // as given: the sheet, or the image file
  bool from_cue_sheet = false;
  std::vector<std::string> sheet_files; // the sheet's files, as it names them
  std::string track_name;               // the data track's file as the sheet names it, or
                                        // the image file's name
  std::string track_path;               // the data track's file, as opened
  std::uint64_t track_start = 0;        // the byte where its sector 0 starts
  sector_format format = sector_format::user_data;
  std::uint64_t sector_count = 0; // whole sectors from the start to the file's end
  iso_listing listing;            // its reason tells damage found in the file system
  std::shared_ptr<std::FILE> track;
};

struct disc_opening {
  disc_image disc;
  std::string reason; // empty when the disc was opened (its listing may still be damaged)
};

// Opens the image and lists its file system; a reason when the path names no readable disc:
// a sheet that is malformed, names a missing file or no data track, or a file of no known
// format.
disc_opening open_disc(const std::string& path);

// The user data of a sector of the data track; a reason naming it when it cannot be read or
// its sync or mode is wrong.
std::string read_disc_sector(const disc_image& disc, std::uint64_t sector, std::uint8_t* into);

struct file_read {
  std::size_t size = 0;           // bytes read, fewer past the file's end
  std::uint64_t failed_edc = 0;   // sectors read whose EDC did not match
  std::uint64_t first_failed = 0; // the first of them, counted from the track's start
  std::string reason;             // empty, or why fewer bytes were read than asked for
};

// Reads `size` bytes at `offset` of a file of the disc, up to the file's end. Bytes of sectors
// whose EDC does not match are read all the same and counted.
file_read read_disc_file(const disc_image& disc, const iso_file& file, std::uint64_t offset,
                         std::uint8_t* into, std::size_t size);

// Where a file the sheet names lies: relative to the sheet's folder.
std::string sheet_file_path(const std::string& sheet, std::string name);

// The file of the disc at `path` ("/DATA/PICS.BIN", names compared in any case), or null.
const iso_file* find_disc_file(const disc_image& disc, const std::string& path);
