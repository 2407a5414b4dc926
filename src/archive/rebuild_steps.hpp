// The steps rebuild_entry takes for one record: gathering the pictures given, rebuilding each
// kind, and placing the result.
#pragma once

#include <string>
#include <vector>

#include "archive/palette_fitting.hpp"
#include "archive/rebuild.hpp"

// Whether a picture is too large for its record: for the tool's buffers, or for the record's
// 16-bit size fields.
inline bool too_large(std::int32_t width, std::int32_t height, bool direct) {
  constexpr std::int32_t longest_side = 0xFFFF;
  return (direct ? !direct_frame_fits(width, height) : !indexed_frame_fits(width, height)) ||
         width > longest_side || height > longest_side;
}

// One frame of the record being put back.
struct frame_work {
  std::int32_t counter = 0;
  const shown_picture* shown = nullptr; // as the original shows it; null in an unreadable record
  std::string path;                     // the picture given for it, or empty
  picture_pixels given;
  bool changed = false; // given, read, and showing colours other than the original's
  // Unchanged, but packed anew as the screen before it changed: the path it would be given at.
  std::string repacked_path;
  bool refused = false;
  std::string reason;
  fitted_frame fit; // for palette records: its indices after insertion, slots, rounding
};

struct record_work {
  picture_kind kind = picture_kind::direct;
  std::int32_t entry = 0;
  byte_view original; // the record as read
  std::vector<frame_work> frames;
  bool damaged = false; // the record or one of its frames is reported broken
};

// given_pictures.cpp: the record's frames, each with what the original shows and the picture
// given for it, read, and told whether it changed.
record_work gather_record(insertion& work, const given_pictures& given, const walked_entry& walked,
                          const std::vector<shown_picture>& shown);
// A picture that cannot be put back: noted in the refusals with the reason (when `named`), and
// no new pair. It counts as not given for the rest of its record.
void refuse(insertion& work, frame_work& frame, const std::string& why, bool named = true);
// A record that cannot be written: each changed picture of it is refused, the first named. A
// record rebuilt only for the screen before it refuses its first picture packed anew instead.
void refuse_record(insertion& work, record_work& record, const std::string& why);
// An unchanged picture packed anew for the screen before it, which changed, that cannot be:
// refused under the path it would be given at, saying why.
void refuse_packed_anew(insertion& work, frame_work& frame, const std::string& why);
bool is_changed(const frame_work& frame);

// fingerprints.cpp: what the new pair's pictures must show.
void expect(insertion& work, const shown_picture& shown, const std::vector<std::uint8_t>& pixels,
            std::int32_t width, std::int32_t height, const std::vector<std::uint8_t>& palette);
void expect_unchanged(insertion& work, const std::vector<shown_picture>& shown);

// The kinds: each gives the record rebuilt, or nothing when it stays as it was.
byte_vector rebuild_direct_frame(insertion& work, record_work& record,
                                 const std::vector<shown_picture>& shown);
byte_vector rebuild_frame_bank(insertion& work, record_work& record,
                               const std::vector<shown_picture>& shown);
byte_vector rebuild_screen_bank(insertion& work, const given_pictures& given, record_work& record,
                                const std::vector<shown_picture>& shown);

// record_placement.cpp: per entry, the bytes its extraction reads.
void find_read_spans(insertion& work);
// Places the rebuilt record over its own sectors when it fits there, else after the end of the
// archive, and points its index entry at it; refuses it (and places nothing) when it cannot.
placed_record place_record(insertion& work, record_work& record, const byte_vector& rebuilt);
