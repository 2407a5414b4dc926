// Frame banks and screen banks: the palette head, the offset table, then the frames.
#include <algorithm>
#include <cstring>
#include <optional>

#include "archive/rebuild_steps.hpp"
#include "common/colour.hpp"

namespace {

using palette_words = std::array<std::uint8_t, palette_size>;

// Refuses the changed pictures of a palette record that cannot be of its kind.
void check_palette_pictures(insertion& work, record_work& record) {
  for (frame_work& frame : record.frames) {
    const picture_pixels& given = frame.given;
    if (!frame.changed) {
      continue;
    }
    if (record.kind == picture_kind::screen &&
        (given.width != screen_width || given.height != screen_height)) {
      refuse(work, frame,
             "a screen must be " + std::to_string(screen_width) + " x " +
                 std::to_string(screen_height));
    } else if (too_large(given.width, given.height, false)) {
      refuse(work, frame, "larger than the tool's buffers allow: make it smaller");
    }
  }
}

// Fits the changed pictures of a palette record to its colours; `words` becomes the record's
// palette after insertion. Pictures refused for their colours count as not given, and the
// others are fitted again without them, so each says what it would do once those are mended.
// False when any was refused.
bool fit_record(insertion& work, record_work& record, palette_words& words) {
  const palette_words own = words;
  bool refused = false;
  for (;;) {
    std::vector<fitted_frame> frames;
    for (const frame_work& frame : record.frames) {
      fitted_frame& fitted = frames.emplace_back();
      fitted.width = frame.shown->width;
      fitted.height = frame.shown->height;
      fitted.original = &frame.shown->pixels;
      fitted.given = !frame.path.empty() && !frame.refused ? &frame.given : nullptr;
      fitted.changed = frame.changed;
    }
    words = own;
    const bool fits = fit_to_palette(words, frames, work.nearest);
    for (std::size_t k = 0; k < frames.size(); ++k) {
      record.frames[k].fit = std::move(frames[k]);
      if (!record.frames[k].fit.refusal.empty()) {
        refuse(work, record.frames[k], record.frames[k].fit.refusal);
      }
    }
    if (fits) {
      return !refused;
    }
    refused = true;
  }
}

// A frame after insertion: the indices fitting gave it, or the original's.
bool refitted(const frame_work& frame) {
  return frame.fit.takes_given || !frame.fit.indices.empty();
}
const std::vector<std::uint8_t>& pixels_after(const frame_work& frame) {
  return frame.fit.takes_given       ? frame.given.pixels
         : frame.fit.indices.empty() ? frame.shown->pixels
                                     : frame.fit.indices;
}
std::int32_t width_after(const frame_work& frame) {
  return refitted(frame) ? frame.given.width : frame.shown->width;
}
std::int32_t height_after(const frame_work& frame) {
  return refitted(frame) ? frame.given.height : frame.shown->height;
}

// The palette head of a rebuilt record: the new colour words, then the record's own bytes up
// to the offset table.
byte_vector rebuilt_head(const byte_view& original, const palette_words& words) {
  byte_vector rebuilt(original.bytes, original.bytes + palette_head_size);
  std::copy(words.begin(), words.end(), rebuilt.begin());
  return rebuilt;
}

void append_offset_entry(byte_vector& rebuilt, const byte_view& original, std::uint32_t k,
                         std::size_t offset) {
  rebuilt.push_back(original.bytes[palette_head_size + table_entry_size * k]);
  append_u24be(rebuilt, static_cast<std::uint32_t>(offset));
}

palette_words palette_words_of(const byte_view& record) {
  palette_words words{};
  std::copy(record.bytes, record.bytes + palette_size, words.begin());
  return words;
}

// Each stream of a screen bank as followed on the screen the new pair will show: the bytes it
// keeps, or none when it no longer gives its picture there and is packed anew from it.
using followed_streams = std::vector<std::optional<std::size_t>>;

byte_view packed_area_of(const record_work& record) {
  return rest_from(record.original, palette_head_size + table_entry_size * record.frames.size());
}

// In a damaged record, which cannot be rebuilt, a stream that would be packed anew refuses its
// picture.
followed_streams follow_streams(insertion& work, const given_pictures& given, record_work& record) {
  followed_streams followed;
  const byte_view packed_area = packed_area_of(record);
  for (std::uint32_t k = 0; k < record.frames.size(); ++k) {
    frame_work& frame = record.frames[k];
    const run_expansion stream = expand_runs(
        rest_from(packed_area, frame_offset(record.original, k)), work.screen, pixel_buffer_size);
    followed.push_back(stream.consumed);
    if (!stream.complete ||
        std::memcmp(work.screen, pixels_after(frame).data(), screen_bytes) == 0) {
      continue;
    }
    if (!frame.changed) {
      frame.repacked_path = given.folder + given.name_of(frame.shown->where);
    }
    if (record.damaged) {
      refuse_packed_anew(work, frame, "its damaged record cannot be rebuilt");
      continue;
    }
    std::memcpy(work.screen, pixels_after(frame).data(), screen_bytes);
    followed.back().reset();
  }
  return followed;
}

byte_vector repacked_bank(const record_work& record, const palette_words& words,
                          const followed_streams& followed) {
  const byte_view packed_area = packed_area_of(record);
  byte_vector rebuilt = rebuilt_head(record.original, words);
  byte_vector area;
  for (std::uint32_t k = 0; k < record.frames.size(); ++k) {
    append_offset_entry(rebuilt, record.original, k, area.size());
    const byte_view stream = rest_from(packed_area, frame_offset(record.original, k));
    if (followed[k]) {
      area.insert(area.end(), stream.bytes, stream.bytes + *followed[k]);
    } else {
      append_run_stream(area, stream.bytes, pixels_after(record.frames[k]).data(), screen_bytes);
    }
  }
  rebuilt.insert(rebuilt.end(), area.begin(), area.end());
  // A bank this short would be skipped by extraction.
  rebuilt.resize(std::max<std::size_t>(rebuilt.size(), longest_skipped_screen_bank + 1), 0);
  return rebuilt;
}

} // namespace

byte_vector rebuild_frame_bank(insertion& work, record_work& record,
                               const std::vector<shown_picture>& shown) {
  // A damaged record may be too short for its palette: it is never rebuilt, nor read here.
  if (record.damaged) {
    expect_unchanged(work, shown);
    return {};
  }
  check_palette_pictures(work, record);
  palette_words words = palette_words_of(record.original);
  if (std::none_of(record.frames.begin(), record.frames.end(), is_changed) ||
      !fit_record(work, record, words)) {
    expect_unchanged(work, shown);
    return {};
  }
  byte_vector rebuilt = rebuilt_head(record.original, words);
  std::size_t offset = 0;
  for (std::uint32_t k = 0; k < record.frames.size(); ++k) {
    append_offset_entry(rebuilt, record.original, k, offset);
    offset += pixels_after(record.frames[k]).size();
  }
  for (const frame_work& frame : record.frames) {
    append_u16be(rebuilt, static_cast<std::uint32_t>(width_after(frame)));
    append_u16be(rebuilt, static_cast<std::uint32_t>(height_after(frame)));
  }
  const std::vector<std::uint8_t> colours = palette_colours(words.data());
  for (const frame_work& frame : record.frames) {
    const std::vector<std::uint8_t>& pixels = pixels_after(frame);
    rebuilt.insert(rebuilt.end(), pixels.begin(), pixels.end());
    expect(work, *frame.shown, pixels, width_after(frame), height_after(frame), colours);
  }
  return rebuilt;
}

// Follows every stream of a screen bank on the screen the new pair will show, so a short
// stream, which shows what the screen before it left, still shows what it did.
byte_vector rebuild_screen_bank(insertion& work, const given_pictures& given, record_work& record,
                                const std::vector<shown_picture>& shown) {
  const bool unreadable = std::any_of(shown.begin(), shown.end(), [](const shown_picture& p) {
    return p.status == picture_status::broken_record;
  });
  if (unreadable || record.frames.empty()) {
    expect_unchanged(work, shown);
    return {};
  }
  const palette_words own = palette_words_of(record.original);
  palette_words words = own;
  if (!record.damaged) {
    check_palette_pictures(work, record);
    if (std::any_of(record.frames.begin(), record.frames.end(), is_changed)) {
      fit_record(work, record, words);
    }
  }
  const bool palette_changed = words != own;
  // While the new pair's screen is the original's, a bank none of whose pictures changed shows
  // what it showed: its streams need not be followed again.
  if (work.screen_matches && !palette_changed &&
      std::none_of(record.frames.begin(), record.frames.end(), is_changed)) {
    std::memcpy(work.screen, work.original_screen, screen_bytes);
    expect_unchanged(work, shown);
    return {};
  }
  const followed_streams followed = follow_streams(work, given, record);
  work.screen_matches = std::memcmp(work.screen, work.original_screen, screen_bytes) == 0;
  const std::vector<std::uint8_t> colours = palette_colours(words.data());
  for (const frame_work& frame : record.frames) {
    if (frame.shown->status == picture_status::ok) {
      expect(work, *frame.shown, pixels_after(frame), screen_width, screen_height, colours);
    } else {
      work.expected.push_back(fingerprint_of(*frame.shown));
    }
  }
  const bool none_repacked = std::all_of(followed.begin(), followed.end(),
                                         [](const auto& kept) { return kept.has_value(); });
  if (record.damaged || (!palette_changed && none_repacked)) {
    return {};
  }
  return repacked_bank(record, words, followed);
}
