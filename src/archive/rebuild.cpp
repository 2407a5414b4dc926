#include <cstring>

#include "archive/rebuild_steps.hpp"

namespace {

void count_replaced(insertion& work, const record_work& record) {
  for (const frame_work& frame : record.frames) {
    if (frame.changed) {
      ++work.replaced;
      work.rounded += frame.fit.rounded ? 1 : 0;
      work.moved += frame.fit.moved > 0 ? 1 : 0;
      work.moved_pixels += frame.fit.moved;
    }
  }
}

// One row for each file given for the record.
void note_rows(insertion& work, const record_work& record) {
  for (const frame_work& frame : record.frames) {
    if (frame.path.empty()) {
      continue;
    }
    const std::int32_t place = frame.shown != nullptr ? frame.shown->where.frame : -1;
    work.rows.push_back({frame.path, record.entry, place,
                         frame.refused   ? insertion_result::refused
                         : frame.changed ? insertion_result::replaced
                                         : insertion_result::unchanged,
                         frame.changed && frame.fit.rounded, frame.fit.slots_added, frame.reason,
                         frame.fit.moved, frame.fit.farthest});
    insertion_row& row = work.rows.back();
    if (frame.changed && frame.shown != nullptr &&
        (frame.given.width != frame.shown->width || frame.given.height != frame.shown->height)) {
      row.old_width = frame.shown->width;
      row.old_height = frame.shown->height;
      row.width = frame.given.width;
      row.height = frame.given.height;
    }
  }
}

} // namespace

void start_rebuild(insertion& work, const std::uint8_t* original_screen) {
  find_read_spans(work);
  work.original_screen = original_screen;
  work.screen_matches = std::memcmp(work.screen, original_screen, screen_bytes) == 0;
}

placed_record rebuild_entry(insertion& work, const given_pictures& given,
                            const walked_entry& walked, const std::vector<shown_picture>& shown) {
  record_work record = gather_record(work, given, walked, shown);
  const byte_vector rebuilt =
      record.kind == picture_kind::direct  ? rebuild_direct_frame(work, record, shown)
      : record.kind == picture_kind::frame ? rebuild_frame_bank(work, record, shown)
                                           : rebuild_screen_bank(work, given, record, shown);
  placed_record placed;
  if (!rebuilt.empty()) {
    count_replaced(work, record);
    placed = place_record(work, record, rebuilt);
  }
  note_rows(work, record);
  return placed;
}
