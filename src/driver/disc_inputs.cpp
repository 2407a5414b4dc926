#include "driver/disc_inputs.hpp"

#include <algorithm>
#include <memory>
#include <vector>

#include "archive/pair_files.hpp"
#include "common/system_files.hpp"
#include "disc/disc_reader.hpp"
#include "driver/driver.hpp"
#include "driver/paths.hpp"
#include "driver/platform.hpp"

namespace {

bool ends_with(const std::string& text, const std::string& end) {
  return text.size() >= end.size() &&
         ascii_upper_case(text.substr(text.size() - end.size())) == ascii_upper_case(end);
}

// A path inside the disc without its extension ("/DATA/PICS"), and its file name ("PICS.OFB").
std::string without_extension(const std::string& path) {
  const std::size_t dot = path.rfind('.');
  return dot != std::string::npos && dot > path.rfind('/') ? path.substr(0, dot) : path;
}
std::string file_name_of(const std::string& path) {
  return path.substr(path.rfind('/') + 1);
}

// How a file inside the image is shown: the image, a colon, and its path there.
std::string shown_path(const std::string& image, const std::string& path) {
  return image + ':' + path;
}

// Names the sectors of `file` whose error check fails, when there are any; each is read once.
void tell_failed_checks(extraction_state& state, const disc_image& disc, const iso_file& file) {
  if (disc.format == sector_format::user_data) {
    return; // 2,048-byte sectors carry no error codes
  }
  constexpr std::size_t chunk = sectors_a_read * user_data_size;
  std::vector<std::uint8_t> bytes(chunk);
  std::uint64_t failed = 0;
  std::uint64_t first = 0;
  for (std::uint64_t at = 0; at < file.size; at += chunk) {
    const file_read read = read_disc_file(disc, file, at, bytes.data(), chunk);
    first = failed == 0 ? read.first_failed : first;
    failed += read.failed_edc;
    if (read.size == 0) {
      break;
    }
  }
  if (failed > 0) {
    tell(state, text::system_reason,
         disc.track_path + ": " + counted(static_cast<std::int64_t>(failed), "sector") + " of " +
             file.path + (failed == 1 ? " fails its" : " fail their") + " error check (sector " +
             std::to_string(first) + " first): the image may be a bad copy");
  }
}

// One pair of the disc, as process_index_file takes a pair on disk.
void process_disc_pair(extraction_state& state, const std::shared_ptr<const disc_image>& disc,
                       const std::string& image, const disc_pair& pair) {
  if (!state.list_only) {
    make_output_folder(state);
  }
  if (!state.quiet && !state.list_only && state.selection == nullptr) {
    say(state, text::index_path, pair.index_path);
  }
  if (!read_disc_index(state, *disc, image, *pair.index)) {
    return; // the next pair may still be read
  }
  const std::int64_t index_size = pair.index->size;
  if (!known_index_size(index_size)) {
    tell(state, text::unknown_index_size, pair.index_path + ": " + counted(index_size, "byte"));
  }
  if (pair.archive == nullptr) {
    tell(state, text::system_reason, pair.archive_path + ": not on the disc");
    throw fatal_error{text::file_open_error, pair.archive_path};
  }
  const auto damage = std::make_shared<std::string>();
  state.archive = file_of_disc(disc, *pair.archive, damage);
  extract_pair(state,
               {base_name(file_name_of(pair.index->path), native_path_syntax()), pair.index_path,
                pair.archive_path},
               index_size);
  state.archive = {};
  if (!damage->empty()) {
    tell(state, text::system_reason, image + ": " + *damage);
    state.incomplete = true;
  }
  tell_failed_checks(state, *disc, *pair.index);
  tell_failed_checks(state, *disc, *pair.archive);
}

} // namespace

std::vector<disc_pair> pairs_of_disc(const disc_image& disc, const std::string& image) {
  std::vector<disc_pair> pairs;
  for (const iso_file& file : disc.listing.files) {
    if (ends_with(file.path, ".OFB")) {
      const std::string archive = without_extension(file.path) + ".BIN";
      const iso_file* found = find_disc_file(disc, archive);
      pairs.push_back({&file, found, shown_path(image, file.path),
                       shown_path(image, found != nullptr ? found->path : archive)});
    }
  }
  return pairs;
}

readable_file file_of_disc(const std::shared_ptr<const disc_image>& disc, const iso_file& file,
                           const std::shared_ptr<std::string>& damage) {
  readable_file readable;
  readable.size = file.size;
  readable.read_at = [disc, file, damage](std::uint64_t offset, std::uint8_t* into,
                                          std::size_t count) {
    const file_read read = read_disc_file(*disc, file, offset, into, count);
    if (damage != nullptr && damage->empty()) {
      *damage = read.reason;
    }
    return read.size;
  };
  readable.owner = disc;
  return readable;
}

std::shared_ptr<const disc_image> open_disc_named(extraction_state& state,
                                                  const std::string& image) {
  disc_opening opened = open_disc(image);
  if (!opened.reason.empty()) {
    tell(state, text::system_reason, image + ": " + opened.reason);
    state.incomplete = true;
    return nullptr;
  }
  if (!opened.disc.listing.reason.empty()) {
    tell(state, text::system_reason, image + ": " + opened.disc.listing.reason);
    state.incomplete = true;
  }
  return std::make_shared<const disc_image>(std::move(opened.disc));
}

bool read_disc_index(extraction_state& state, const disc_image& disc, const std::string& image,
                     const iso_file& index) {
  const std::size_t wanted = std::min<std::size_t>(index.size, index_buffer_size);
  const file_read read = read_disc_file(disc, index, 0, state.index_buffer.get(), wanted);
  if (read.size != wanted) {
    tell(state, text::system_reason, image + ": " + read.reason);
    state.incomplete = true;
  }
  return read.size == wanted;
}

bool names_disc_image(const std::string& input) {
  if (input.find_first_of("*?") != std::string::npos || !file_exists(input) ||
      folder_exists(input)) {
    return false;
  }
  if (ends_with(input, ".cue")) {
    return true;
  }
  readable_file image;
  int error_code = 0;
  if (!open_file_on_disk(input, image, error_code)) {
    return false;
  }
  std::vector<std::uint8_t> start(detection_size);
  const std::size_t got = image.read_at(0, start.data(), start.size());
  return detect_format({start.data(), got}).has_value();
}

void process_disc(extraction_state& state, const std::string& image, std::set<std::string>& done) {
  const std::shared_ptr<const disc_image> disc = open_disc_named(state, image);
  if (disc == nullptr) {
    return;
  }
  // Archives of this disc named again later in the run (screens --only passed over) are read
  // from it.
  state.open_named_file = [previous = state.open_named_file, disc, prefix = shown_path(image, "")](
                              const std::string& path, readable_file& file, int& error_code) {
    if (path.compare(0, prefix.size(), prefix) == 0) {
      const iso_file* found = find_disc_file(*disc, path.substr(prefix.size()));
      if (found != nullptr) {
        file = file_of_disc(disc, *found);
      }
      error_code = 0;
      return found != nullptr;
    }
    return previous ? previous(path, file, error_code) : open_file_on_disk(path, file, error_code);
  };
  for (const disc_pair& pair : pairs_of_disc(*disc, image)) {
    if (done.insert(shown_path(identity_of(image), ascii_upper_case(pair.index->path))).second) {
      process_disc_pair(state, disc, image, pair);
    }
  }
}
