// A pair rebuilt: the original walked, each entry's records rebuilt with the pictures given as
// the walk hands them over; and the new pair read back and compared with what it must give.
#include <algorithm>

#include "archive/rebuild.hpp"

namespace {

// Hints the pictures of the entry after `walked`, guessing that it holds as many as this one, so
// that they are read while this one is compared and rebuilt.
void read_next_entry_soon(const given_pictures& given, picture_kind kind,
                          const walked_entry& walked) {
  const std::int32_t count = walked.next_counter - walked.first_counter;
  for (std::int32_t frame = 0; given.read_soon && frame < count; ++frame) {
    given.read_soon({kind, walked.next_counter + frame, walked.entry + 1, frame});
  }
}

} // namespace

bool rebuild_pair(insertion& work, const pair_to_walk& original, std::uint64_t archive_size,
                  const given_pictures& given, const record_writer& write,
                  const std::function<void(std::int32_t entries)>& rebuilt,
                  const countdown_step& countdown) {
  const auto index_size = static_cast<std::int64_t>(original.index.size);
  if (!known_index_size(index_size)) {
    return false;
  }
  work.new_index.assign(original.index.bytes, original.index.bytes + original.index.size);
  work.archive_size = archive_size;
  start_rebuild(work, original.screen);
  if (rebuilt) {
    rebuilt(0);
  }
  std::vector<shown_picture> shown;
  const auto keep = [&shown, &given](const picture& found) { given.keep(shown, found); };
  const auto rebuild = [&](const walked_entry& walked) {
    read_next_entry_soon(given, kind_of_index(index_size), walked);
    const placed_record placed = rebuild_entry(work, given, walked, shown);
    if (write && !placed.bytes.empty() && !write(placed)) {
      work.failed = true;
    }
    if (rebuilt) {
      rebuilt(walked.entry + 1);
    }
    shown.clear();
  };
  return walk_pair(original, keep, rebuild, countdown);
}

void note_read_back(read_back& pictures, const given_pictures& given, const picture& found) {
  std::vector<shown_picture> kept;
  given.keep(kept, found);
  pictures.push_back({fingerprint_of(kept.front()), found.place});
}

std::string compare_read_back(const read_back& pictures, const insertion& work,
                              const given_pictures& given, const std::string& index_path) {
  for (std::size_t next = 0; next < pictures.size(); ++next) {
    if (next >= work.expected.size() || pictures[next].first != work.expected[next]) {
      return given.folder + given.name_of(pictures[next].second) +
             ": the new pair does not give this picture back (a fault of ofb2bmp)";
    }
  }
  if (pictures.size() != work.expected.size()) {
    return index_path + ": the new pair gives fewer pictures back (a fault of ofb2bmp)";
  }
  return {};
}

std::string check_pair_read_back(const pair_to_walk& pair, const insertion& work,
                                 const given_pictures& given, const std::string& index_path) {
  read_back pictures;
  walk_pair(pair,
            [&pictures, &given](const picture& found) { note_read_back(pictures, given, found); });
  return compare_read_back(pictures, work, given, index_path);
}
