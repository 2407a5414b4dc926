// The sectors of a disc image, and where the user data of each lies.
//
// Every file system sector carries 2,048 bytes of user data. An image holds its sectors back to
// back, in one of three formats:
//
// 2,048-byte sectors (an .iso, or a cue track MODE1/2048): the user data alone.
//   An image of them is told by "CD001" at byte 32,769: the identifier of the first volume
//   descriptor, byte 1 of sector 16.
//
// Raw 2,352-byte sectors (a cue track MODE1/2352 or MODE2/2352):
//   +0     12 bytes  sync: 00, ten FF, 00
//   +12    3 bytes   address: minute, second, frame, each in binary-coded decimal, counted from
//                    the start of the disc (sector 0 of the data track is at 00:02:00)
//   +15    1 byte    mode: 1 or 2
//   Mode 1:
//   +16    2,048     user data
//   +2064  u32le     EDC over bytes 0 to 2,063
//   +2068  8 bytes   zero
//   +2076  172 bytes ECC P
//   +2248  104 bytes ECC Q
//   Mode 2 Form 1:
//   +16    8 bytes   subheader: file number, channel, submode, coding information, each twice;
//                    submode bit 5 set means Form 2 (2,324 bytes of data, no ECC), which a
//                    file system sector never is
//   +24    2,048     user data
//   +2072  u32le     EDC over bytes 16 to 2,071
//   +2076  172 bytes ECC P, +2248 104 bytes ECC Q (the four address and mode bytes taken as
//                    zero while computing them)
//   An image of raw sectors is told by the sync at byte 0; byte 15 there gives the mode.
//   (error_codes.hpp computes and checks the EDC and ECC.)
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "common/byte_view.hpp"

enum class sector_format { user_data, raw_mode1, raw_mode2_form1 };

inline constexpr std::size_t user_data_size = 2048;
inline constexpr std::size_t raw_sector_size = 2352;

inline constexpr std::size_t sync_size = 12;
inline constexpr std::size_t address_at = 12;
inline constexpr std::size_t mode_at = 15;
inline constexpr std::size_t header_size = 4; // address and mode
inline constexpr std::size_t subheader_at = 16;
inline constexpr std::size_t subheader_size = 8;
inline constexpr std::size_t submode_at = 2; // within each half of the subheader
inline constexpr std::uint8_t submode_form2 = 0x20;
inline constexpr std::uint8_t submode_data = 0x08;
inline constexpr std::size_t mode1_data_at = 16;
inline constexpr std::size_t mode2_data_at = 24;
inline constexpr std::size_t mode1_edc_at = 2064;
inline constexpr std::size_t mode2_edc_at = 2072;
inline constexpr std::size_t ecc_p_at = 2076;
inline constexpr std::size_t ecc_q_at = 2248;
// The sector of the first volume descriptor, and where its identifier lies.
inline constexpr std::uint64_t first_descriptor_sector = 16;
inline constexpr std::size_t descriptor_identifier_at = 1;
inline constexpr char descriptor_identifier[] = "CD001";
// A data track's sector 0 lies two seconds (150 sectors) into the disc.
inline constexpr std::uint32_t address_lead = 150;
inline constexpr std::uint32_t sectors_a_second = 75;

// Bytes a sector of the format takes in its image.
inline std::size_t stored_size(sector_format format) {
  return format == sector_format::user_data ? user_data_size : raw_sector_size;
}
// Where the user data lies within a stored sector.
inline std::size_t user_data_at(sector_format format) {
  switch (format) {
  case sector_format::raw_mode1:
    return mode1_data_at;
  case sector_format::raw_mode2_form1:
    return mode2_data_at;
  default:
    return 0;
  }
}
// "2,048-byte sectors", "raw Mode 1 sectors", "raw Mode 2 Form 1 sectors".
std::string format_name(sector_format format);

// The format of an image file from its first bytes (at least the first 32,774 for an image of
// 2,048-byte sectors); none when neither mark is there.
std::optional<sector_format> detect_format(const byte_view& start);

// Bytes of an image file to hand to detect_format.
inline constexpr std::size_t detection_size =
    first_descriptor_sector * user_data_size + descriptor_identifier_at + 5;

// What is wrong with the raw sector `sector` (as stored, raw_sector_size bytes) for the
// format: empty when its sync, mode (and for Mode 2, Form 1 in its submode) are right; else a
// reason naming the sector, as "sector 1234 has no sync" or "sector 1234 is Mode 2, not Mode 1".
std::string check_raw_sector(const std::uint8_t* stored, sector_format format,
                             std::uint64_t sector);

// Writes a whole raw sector of the format for `sector` of a data track (counted from its
// start), holding `user_data` (user_data_size bytes): sync, address, mode, for Mode 2 a
// data subheader, and the error codes.
void make_raw_sector(sector_format format, std::uint64_t sector, const std::uint8_t* user_data,
                     std::uint8_t* stored);
