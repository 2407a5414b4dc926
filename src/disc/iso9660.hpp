// The ISO 9660 file system of a data track: every file, with its full path and its sectors.
//
// Sectors are 2,048 bytes of user data (sector_format.hpp), numbered from the track's start.
// Numbers are unsigned; "both" fields hold the value least significant byte first, then again
// most significant byte first (a u32 of both takes 8 bytes, a u16 of both 4).
//
// Volume descriptors, one a sector from sector 16 on, up to the terminator:
//   +0    1 byte   type: 1 primary, 255 terminator (others passed over)
//   +1    5 bytes  "CD001"
//   +6    1 byte   version 1
// Primary volume descriptor:
//   +80   u32 both  the volume's size in sectors
//   +128  u16 both  the sector size, 2,048
//   +156  34 bytes  the root directory's record
//
// A directory is an extent of sectors holding directory records back to back; a record never
// crosses a sector's end, and a zero length byte means the rest of the sector is unused:
//   +0    1 byte    the record's length, at least 34
//   +1    1 byte    sectors of extended attributes before the file's data
//   +2    u32 both  the extent's first sector
//   +10   u32 both  the data length in bytes
//   +18   7 bytes   date and time (not read)
//   +25   1 byte    flags: bit 1 a directory, bit 2 an associated file, bit 7 not the file's
//                   last extent
//   +26   1 byte    file unit size, +27 1 byte interleave gap: both zero unless interleaved
//   +28   u16 both  volume sequence number (not read)
//   +32   1 byte    the identifier's length L
//   +33   L bytes   the identifier: 00 for the directory itself, 01 for its parent; a file's
//                   ends ";1" (its version, dropped here, and then a final "." when the name has
//                   no extension)
//
// A file in several extents, or interleaved, is not listed but named among those passed over;
// so are associated files. Directories are read down to 64 levels below the root.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

inline constexpr std::uint8_t descriptor_primary = 1;
inline constexpr std::uint8_t descriptor_terminator = 255;
inline constexpr std::size_t descriptor_type_at = 0;
inline constexpr std::size_t volume_size_at = 80;
inline constexpr std::size_t block_size_at = 128;
inline constexpr std::size_t root_record_at = 156;

inline constexpr std::size_t record_length_at = 0;
inline constexpr std::size_t attribute_sectors_at = 1;
inline constexpr std::size_t extent_at = 2;
inline constexpr std::size_t data_length_at = 10;
inline constexpr std::size_t flags_at = 25;
inline constexpr std::size_t unit_size_at = 26;
inline constexpr std::size_t interleave_gap_at = 27;
inline constexpr std::size_t identifier_length_at = 32;
inline constexpr std::size_t identifier_at = 33;
inline constexpr std::size_t shortest_record = 34;

inline constexpr std::uint8_t flag_directory = 0x02;
inline constexpr std::uint8_t flag_associated = 0x04;
inline constexpr std::uint8_t flag_more_extents = 0x80;

inline constexpr int deepest_directory = 64;
inline constexpr std::size_t most_descriptors = 64;

// Reads the 2,048 bytes of user data of a track's sector into `into`; a reason when it cannot
// (past the end, a raw sector that is not one of the track).
using sector_source = std::function<std::string(std::uint64_t sector, std::uint8_t* into)>;

struct iso_file {
  std::string path;                // "/DATA/PICS.BIN"
  std::uint64_t first_sector = 0;  // of its data
  std::uint32_t size = 0;          // in bytes
  std::uint64_t record_sector = 0; // where its directory record lies: the sector
  std::size_t record_at = 0;       // and the record's offset in it
};

struct iso_listing {
  std::vector<iso_file> files;          // in path order
  std::vector<std::string> passed_over; // "/A/B.BIN: in several extents"
  std::string reason;                   // empty, or the first damage found
};

// Every file of the primary volume of a track of `sector_count` sectors. When the file system
// is damaged, the files that could be found are listed and the reason names the damage.
iso_listing list_iso_files(const sector_source& read_sector, std::uint64_t sector_count);

// Sets the data length (both byte orders) of the directory record at `record_at` in a sector.
void set_data_length(std::uint8_t* sector, std::size_t record_at, std::uint32_t size);
