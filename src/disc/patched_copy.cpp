#include "disc/patched_copy.hpp"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>

#include "common/system_files.hpp"
#include "disc/error_codes.hpp"

namespace {

namespace fs = std::filesystem;

// Whether a name the sheet gives stays inside the sheet's folder.
bool stays_inside(const std::string& name) {
  const fs::path path(name);
  if (path.empty() || path.is_absolute() || path.has_root_name()) {
    return false;
  }
  return std::none_of(path.begin(), path.end(),
                      [](const fs::path& part) { return part == ".." || part == "."; });
}

std::string system_reason(const std::string& path, const std::error_code& error) {
  return path + ": " + error.message();
}

// Writes the file's new bytes over its sectors in the open copy of the data track, and its new
// size into its directory record; a reason when it cannot.
std::string patch_file(const disc_image& disc, std::FILE* copy, const iso_file& file,
                       const std::vector<std::uint8_t>& bytes) {
  const std::size_t stored = stored_size(disc.format);
  const std::size_t data_at = user_data_at(disc.format);
  std::uint8_t sector[raw_sector_size];
  const auto read_sector = [&](std::uint64_t number) {
    return read_file_at(copy, disc.track_start + number * stored, sector, stored) == stored;
  };
  const auto write_sector = [&](std::uint64_t number) {
    if (disc.format != sector_format::user_data) {
      recompute_error_codes(sector, disc.format);
    }
    return seek_file(copy, disc.track_start + number * stored) &&
           std::fwrite(sector, 1, stored, copy) == stored && std::fflush(copy) == 0;
  };
  const std::uint64_t sectors = fit_of(file, bytes.size()).available;
  for (std::uint64_t k = 0; k < sectors; ++k) {
    std::uint8_t data[user_data_size] = {};
    const std::uint64_t from = k * user_data_size;
    if (from < bytes.size()) {
      std::memcpy(data, bytes.data() + from, std::min(user_data_size, bytes.size() - from));
    }
    if (!read_sector(file.first_sector + k)) {
      return "cannot read back sector " + std::to_string(file.first_sector + k);
    }
    if (std::memcmp(sector + data_at, data, user_data_size) != 0) {
      std::memcpy(sector + data_at, data, user_data_size);
      if (!write_sector(file.first_sector + k)) {
        return error_text(last_error_code());
      }
    }
  }
  if (bytes.size() != file.size) {
    if (!read_sector(file.record_sector)) {
      return "cannot read back sector " + std::to_string(file.record_sector);
    }
    set_data_length(sector + data_at, file.record_at, static_cast<std::uint32_t>(bytes.size()));
    if (!write_sector(file.record_sector)) {
      return error_text(last_error_code());
    }
  }
  return {};
}

// Writes the copy into `partial`; a reason when it cannot.
std::string write_copy(const disc_image& disc, const std::vector<replacement>& changes,
                       const std::vector<std::string>& names, const fs::path& partial) {
  std::error_code error;
  for (std::size_t k = 0; k < names.size(); ++k) {
    const fs::path to = partial / fs::path(names[k]);
    const std::string from = k == 0 ? disc.path : sheet_file_path(disc.path, names[k]);
    fs::create_directories(to.parent_path(), error);
    if (error || !fs::copy_file(from, to, fs::copy_options::overwrite_existing, error)) {
      return system_reason(to.string(), error);
    }
  }
  const std::string track =
      (partial / fs::path(disc.from_cue_sheet ? disc.track_name : names.front())).string();
  std::FILE* copy = open_file(track, "r+b");
  if (copy == nullptr) {
    return track + ": " + error_text(last_error_code());
  }
  std::string reason;
  for (const replacement& change : changes) {
    reason = patch_file(disc, copy, *find_disc_file(disc, change.path), change.bytes);
    if (!reason.empty()) {
      reason = track + ": " + reason;
      break;
    }
  }
  if (std::fclose(copy) != 0 && reason.empty()) {
    reason = track + ": " + error_text(last_error_code());
  }
  return reason;
}

// What is wrong with the copy as read back: a file replaced that does not hold its new bytes.
std::string check_replaced(const disc_image& copy, const std::vector<replacement>& changes) {
  for (const replacement& change : changes) {
    const iso_file* file = find_disc_file(copy, change.path);
    std::vector<std::uint8_t> bytes(change.bytes.size());
    const file_read read =
        file == nullptr ? file_read{} : read_disc_file(copy, *file, 0, bytes.data(), bytes.size());
    if (file == nullptr || file->size != bytes.size() || read.size != bytes.size() ||
        read.failed_edc != 0 || bytes != change.bytes) {
      return change.path + ": the copy does not read back as written";
    }
  }
  return {};
}

} // namespace

sector_fit fit_of(const iso_file& file, std::uint64_t size) {
  const auto sectors = [](std::uint64_t bytes) {
    return (bytes + user_data_size - 1) / user_data_size;
  };
  return {sectors(size), sectors(file.size)};
}

copy_result write_patched_copy(const disc_image& disc, const std::vector<replacement>& changes,
                               const std::string& out, const copy_check& check) {
  if (!disc.listing.reason.empty()) {
    return {false, disc.path + ": its file system is damaged, " + disc.listing.reason};
  }
  std::set<const iso_file*> replaced;
  for (const replacement& change : changes) {
    const iso_file* file = find_disc_file(disc, change.path);
    if (file == nullptr) {
      return {false, change.path + ": not a file of " + disc.path};
    }
    if (!replaced.insert(file).second) {
      return {false, change.path + ": given twice"};
    }
    if (change.bytes.size() > UINT32_MAX) {
      return {false, change.path + ": larger than a file of the disc can be (4 GiB less a byte)"};
    }
    const sector_fit fit = fit_of(*file, change.bytes.size());
    if (!fit.fits()) {
      return {false, change.path + ": needs " + std::to_string(fit.needed) +
                         " sectors, the disc has " + std::to_string(fit.available) + " for it"};
    }
  }
  std::error_code error;
  const fs::path image(disc.path);
  if (fs::equivalent(fs::path(out),
                     image.parent_path().empty() ? fs::path(".") : image.parent_path(), error)) {
    return {false, out + ": the image's own folder; the copy goes into another"};
  }
  // The sheet (or the image) first, then the other files the sheet names.
  std::vector<std::string> names = {image.filename().string()};
  for (const std::string& name : disc.sheet_files) {
    if (!stays_inside(name)) {
      return {false, disc.path + " names " + name + ", outside its folder"};
    }
    names.push_back(name);
  }
  const fs::path partial = fs::path(out) / (image.filename().string() + partial_folder_suffix);
  fs::remove_all(partial, error);
  std::string reason;
  if (!fs::create_directory(partial, error)) {
    reason = system_reason(partial.string(), error);
  }
  if (reason.empty()) {
    reason = write_copy(disc, changes, names, partial);
  }
  if (reason.empty()) {
    const disc_opening copy = open_disc((partial / names.front()).string());
    reason = !copy.reason.empty()                ? copy.reason
             : !copy.disc.listing.reason.empty() ? copy.disc.listing.reason
                                                 : check_replaced(copy.disc, changes);
    if (reason.empty() && check) {
      reason = check(copy.disc);
    }
  }
  for (std::size_t k = 0; k < names.size() && reason.empty(); ++k) {
    const fs::path to = fs::path(out) / fs::path(names[k]);
    fs::create_directories(to.parent_path(), error);
    fs::rename(partial / fs::path(names[k]), to, error);
    if (error) {
      reason = system_reason(to.string(), error);
    }
  }
  fs::remove_all(partial, error);
  return {reason.empty(), reason};
}
