#include "disc/sector_format.hpp"

#include <cstring>

#include "disc/error_codes.hpp"

namespace {

constexpr std::uint8_t sync_bytes[sync_size] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                                0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};

std::uint8_t mode_of(sector_format format) {
  return format == sector_format::raw_mode1 ? 1 : 2;
}

std::uint8_t bcd(std::uint64_t value) {
  return static_cast<std::uint8_t>(value / 10 % 10 << 4 | value % 10);
}

} // namespace

std::string format_name(sector_format format) {
  switch (format) {
  case sector_format::raw_mode1:
    return "raw Mode 1 sectors";
  case sector_format::raw_mode2_form1:
    return "raw Mode 2 Form 1 sectors";
  default:
    return "2,048-byte sectors";
  }
}

std::optional<sector_format> detect_format(const byte_view& start) {
  const std::uint8_t* sync = bytes_at(start, 0, raw_sector_size);
  if (sync != nullptr && std::memcmp(sync, sync_bytes, sync_size) == 0) {
    if (sync[mode_at] == 1) {
      return sector_format::raw_mode1;
    }
    if (sync[mode_at] == 2) {
      return sector_format::raw_mode2_form1;
    }
    return std::nullopt;
  }
  const std::uint8_t* identifier =
      bytes_at(start, first_descriptor_sector * user_data_size + descriptor_identifier_at, 5);
  if (identifier != nullptr && std::memcmp(identifier, descriptor_identifier, 5) == 0) {
    return sector_format::user_data;
  }
  return std::nullopt;
}

std::string check_raw_sector(const std::uint8_t* stored, sector_format format,
                             std::uint64_t sector) {
  const std::string name = "sector " + std::to_string(sector);
  if (std::memcmp(stored, sync_bytes, sync_size) != 0) {
    return name + " has no sync";
  }
  if (stored[mode_at] != mode_of(format)) {
    return name + " is Mode " + std::to_string(stored[mode_at]) + ", not Mode " +
           std::to_string(mode_of(format));
  }
  if (format == sector_format::raw_mode2_form1 &&
      (stored[subheader_at + submode_at] & submode_form2) != 0) {
    return name + " is Mode 2 Form 2, not Form 1";
  }
  return {};
}

void make_raw_sector(sector_format format, std::uint64_t sector, const std::uint8_t* user_data,
                     std::uint8_t* stored) {
  std::memset(stored, 0, raw_sector_size);
  std::memcpy(stored, sync_bytes, sync_size);
  const std::uint64_t address = sector + address_lead;
  stored[address_at] = bcd(address / sectors_a_second / 60);
  stored[address_at + 1] = bcd(address / sectors_a_second % 60);
  stored[address_at + 2] = bcd(address % sectors_a_second);
  stored[mode_at] = mode_of(format);
  if (format == sector_format::raw_mode2_form1) {
    stored[subheader_at + submode_at] = submode_data;
    stored[subheader_at + subheader_size / 2 + submode_at] = submode_data;
  }
  std::memcpy(stored + user_data_at(format), user_data, user_data_size);
  recompute_error_codes(stored, format);
}
