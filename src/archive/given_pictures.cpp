#include <algorithm>

#include "archive/rebuild_steps.hpp"

namespace {

// The files given for a picture: its name as extraction writes it, as a bitmap or a PNG, in
// any letter case. Every one is named, the first taken.
void find_given(insertion& work, const given_pictures& given, frame_work& frame,
                const picture_place& place) {
  const std::vector<std::string> files =
      given.files_for ? given.files_for(place) : std::vector<std::string>{};
  if (!files.empty()) {
    frame.path = given.folder + files.front();
  }
  if (files.size() > 1) {
    refuse(work, frame, "given twice, also as " + files[1] + ": keep one of them");
  }
}

// Reads the pictures given for the record and tells the changed ones. In a damaged record only
// unchanged pictures may be given: its frames cannot all be extracted, so it cannot be rebuilt.
void read_given(insertion& work, const given_pictures& given, record_work& record) {
  std::size_t pixels = 0;
  for (frame_work& frame : record.frames) {
    if (frame.path.empty() || frame.refused) {
      continue;
    }
    std::string why;
    if (!given.read(frame.path, pixel_buffer_size, frame.given, why) ||
        (record.kind == picture_kind::direct && !expand_to_rgb(frame.given, why))) {
      refuse(work, frame, why);
      continue;
    }
    const shown_picture* shown = frame.shown;
    frame.changed = shown == nullptr || shown->status != picture_status::ok ||
                    !shows_same_colours(frame.given, shown->width, shown->height, shown->pixels,
                                        shown->palette);
    if (record.damaged && frame.changed) {
      refuse(work, frame,
             "its record is damaged (extraction reports it broken), so it cannot change: leave it "
             "as extracted");
    } else if (record.kind != picture_kind::screen && frame.changed &&
               (pixels += frame.given.pixels.size()) > record_buffer_size) {
      // Their pixels are stored as they are: the record could not hold them.
      refuse(work, frame,
             "the pictures of its record are larger than the tool's buffers: make them smaller");
    }
  }
}

} // namespace

record_work gather_record(insertion& work, const given_pictures& given, const walked_entry& walked,
                          const std::vector<shown_picture>& shown) {
  const std::int32_t first_counter = walked.first_counter;
  const std::int32_t next_counter = walked.next_counter;
  const auto index_size = static_cast<std::int64_t>(work.new_index.size());
  record_work record{kind_of_index(index_size), walked.entry, walked.record, {}, false};
  for (std::int32_t counter = first_counter; counter < next_counter; ++counter) {
    record.frames.emplace_back().counter = counter;
  }
  for (const shown_picture& picture : shown) {
    record.damaged = record.damaged || picture.status != picture_status::ok;
    if (picture.where.counter >= first_counter && picture.where.counter < next_counter) {
      record.frames[static_cast<std::size_t>(picture.where.counter - first_counter)].shown =
          &picture;
    }
  }
  for (frame_work& frame : record.frames) {
    record.damaged = record.damaged || frame.shown == nullptr;
    find_given(work, given, frame,
               {record.kind, frame.counter, record.entry, frame.counter - first_counter});
  }
  read_given(work, given, record);
  return record;
}

void refuse(insertion& work, frame_work& frame, const std::string& why, bool named) {
  if (named) {
    work.refusals.push_back(frame.path + ": " + why);
  }
  work.failed = true;
  frame.refused = true;
  frame.changed = false;
  frame.reason = why;
}

void refuse_record(insertion& work, record_work& record, const std::string& why) {
  bool first = true;
  for (frame_work& frame : record.frames) {
    if (frame.changed) {
      refuse(work, frame, why, first);
      first = false;
    }
  }
  if (!first) {
    return;
  }
  // Rebuilt only for the screen before it: the first picture packed anew for it is refused.
  const auto repacked =
      std::find_if(record.frames.begin(), record.frames.end(),
                   [](const frame_work& frame) { return !frame.repacked_path.empty(); });
  if (repacked != record.frames.end()) {
    refuse_packed_anew(work, *repacked, why);
  }
}

void refuse_packed_anew(insertion& work, frame_work& frame, const std::string& why) {
  if (frame.path.empty()) {
    frame.path = frame.repacked_path;
  }
  refuse(work, frame, "it shows part of the screen before it, which changed, and " + why);
}

bool is_changed(const frame_work& frame) {
  return frame.changed;
}
