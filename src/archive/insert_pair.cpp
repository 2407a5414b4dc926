#include "archive/insert_pair.hpp"

#include <algorithm>
#include <cstring>

#include "archive/archive.hpp"
#include "archive/palette_fitting.hpp"
#include "common/colour.hpp"
#include "common/system_files.hpp"
#include "pictures/bitmap_file.hpp"
#include "pictures/picture_reader.hpp"
#include "pictures/pictures.hpp"

namespace {

constexpr std::int32_t longest_side = 0xFFFF;
constexpr std::uint32_t last_sector = 0xFFFFFF;

// One frame of the record being put back.
struct frame_work {
  std::int32_t counter = 0;
  const shown_picture* shown = nullptr; // as the original shows it; null in an unreadable record
  std::string path;                     // the picture given for it, or empty
  picture_pixels given;
  bool changed = false; // given, read, and showing colours other than the original's
  bool refused = false;
  std::string reason;
  fitted_frame fit; // for palette records: its indices after insertion, slots, rounding
};

struct record_work {
  std::string base_name; // names the record's pictures
  picture_kind kind = picture_kind::direct;
  std::int32_t entry = 0;
  byte_view original; // the record as read, in record_buffer
  std::vector<frame_work> frames;
  bool damaged = false; // the record or one of its frames is reported broken
};

std::uint64_t round_to_sector(std::uint64_t size) {
  return (size + sector_size - 1) / sector_size * sector_size;
}

// A picture that cannot be put back: named with the reason, and no new pair. It counts as not
// given for the rest of its record.
void refuse(extraction_state& state, insertion& work, frame_work& frame, const std::string& why) {
  if (!work.preview) {
    say(state, text::insert_error, frame.path + ": " + why);
  }
  work.failed = true;
  frame.refused = true;
  frame.changed = false;
  frame.reason = why;
}

// Folds bytes into a 64-bit fingerprint: four lanes of eight bytes a step, so the multiplies
// overlap. Each step is invertible, so two inputs that differ in a single place never share a
// fingerprint.
std::uint64_t fold(std::uint64_t hash, const std::uint8_t* bytes, std::size_t count) {
  constexpr std::uint64_t odd_multiplier = 0x9E3779B97F4A7C15;
  const auto step = [](std::uint64_t lane, std::uint64_t word) {
    lane = (lane ^ word) * odd_multiplier;
    return lane ^ lane >> 29;
  };
  std::uint64_t lanes[4] = {hash, hash + 1, hash + 2, hash + 3};
  std::size_t at = 0;
  for (; at + 32 <= count; at += 32) {
    for (int lane = 0; lane < 4; ++lane) {
      std::uint64_t word = 0;
      std::memcpy(&word, bytes + at + 8 * lane, 8);
      lanes[lane] = step(lanes[lane], word);
    }
  }
  std::uint64_t tail = count;
  for (; at < count; ++at) {
    tail = tail << 8 | bytes[at];
    if ((count - at) % 8 == 1) {
      lanes[0] = step(lanes[0], tail);
    }
  }
  return step(step(step(step(lanes[0], lanes[1]), lanes[2]), lanes[3]), tail);
}

// A fingerprint of what a picture shows (or of the damage in its place), to compare the new
// pair's pictures with those expected without keeping them all.
std::uint64_t digest_of(const picture_place& where, picture_status status, std::int32_t width,
                        std::int32_t height, const std::vector<std::uint8_t>& pixels,
                        const std::vector<std::uint8_t>& palette) {
  std::uint8_t head[24];
  put_u32le(head, static_cast<std::uint32_t>(where.kind));
  put_u32le(head + 4, static_cast<std::uint32_t>(where.counter));
  put_u32le(head + 8, static_cast<std::uint32_t>(where.entry));
  put_u32le(head + 12, static_cast<std::uint32_t>(status));
  put_u32le(head + 16, static_cast<std::uint32_t>(width));
  put_u32le(head + 20, static_cast<std::uint32_t>(height));
  const std::uint64_t hash = fold(0, head, sizeof head);
  return fold(fold(hash, pixels.data(), pixels.size()), palette.data(), palette.size());
}

std::uint64_t digest_of(const shown_picture& shown) {
  return digest_of(shown.where, shown.status, shown.width, shown.height, shown.pixels,
                   shown.palette);
}

void expect(insertion& work, const shown_picture& shown, const std::vector<std::uint8_t>& pixels,
            std::int32_t width, std::int32_t height, const std::vector<std::uint8_t>& palette) {
  work.expected.push_back(digest_of(shown.where, shown.status, width, height, pixels, palette));
}

void expect_unchanged(insertion& work, const std::vector<shown_picture>& shown) {
  for (const shown_picture& picture : shown) {
    work.expected.push_back(digest_of(picture));
  }
}

// The files given for a picture: its name as extraction writes it, as a bitmap or a PNG, in
// any letter case.
std::vector<std::string> files_given_for(const insertion& work, const std::string& stem) {
  std::vector<std::string> files;
  if (work.picture_files == nullptr) {
    return files;
  }
  for (const char* extension : {".BMP", ".PNG"}) {
    const auto found = work.picture_files->find(picture_file_key(stem + extension));
    if (found != work.picture_files->end()) {
      files.insert(files.end(), found->second.begin(), found->second.end());
    }
  }
  return files;
}

// The record's frames, each with what the original shows and the picture given for it.
record_work gather_record(extraction_state& state, insertion& work,
                          const std::vector<shown_picture>& shown, const std::string& base_name,
                          picture_kind kind, const walked_entry& walked) {
  const std::int32_t first_counter = walked.first_counter;
  const std::int32_t next_counter = walked.next_counter;
  record_work record{base_name, kind, walked.entry, walked.record, {}, false};
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
    const std::vector<std::string> files = files_given_for(
        work, base_name + (kind == picture_kind::direct ? direct_suffix(frame.counter)
                                                        : indexed_suffix(frame.counter)));
    for (const std::string& file : files) {
      work.used.insert(work.pictures_folder + file);
    }
    if (!files.empty()) {
      frame.path = work.pictures_folder + files.front();
    }
    if (files.size() > 1) {
      refuse(state, work, frame, "given twice, also as " + files[1] + ": keep one of them");
    }
  }
  return record;
}

// Reads the pictures given for the record and tells the changed ones. In a damaged record only
// unchanged pictures may be given: its frames cannot all be extracted, so it cannot be rebuilt.
void read_given(extraction_state& state, insertion& work, record_work& record) {
  std::size_t pixels = 0;
  for (frame_work& frame : record.frames) {
    if (frame.path.empty() || frame.refused) {
      continue;
    }
    std::string why;
    if (!read_picture_file(frame.path, pixel_buffer_size, frame.given, why) ||
        (record.kind == picture_kind::direct && !expand_to_rgb(frame.given, why))) {
      refuse(state, work, frame, why);
      continue;
    }
    const shown_picture* shown = frame.shown;
    frame.changed = shown == nullptr || shown->status != picture_status::ok ||
                    !shows_same_colours(frame.given, shown->width, shown->height, shown->pixels,
                                        shown->palette);
    if (record.damaged && frame.changed) {
      refuse(state, work, frame,
             "its record is damaged (extraction reports it broken), so it cannot change: leave it "
             "as extracted");
    } else if (record.kind != picture_kind::screen && frame.changed &&
               (pixels += frame.given.pixels.size()) > record_buffer_size) {
      // Their pixels are stored as they are: the record could not hold them.
      refuse(state, work, frame,
             "the pictures of its record are larger than the tool's buffers: make them smaller");
    }
  }
}

bool is_changed(const frame_work& frame) {
  return frame.changed;
}

void count_replaced(insertion& work, const record_work& record) {
  for (const frame_work& frame : record.frames) {
    if (frame.changed) {
      ++work.replaced;
      work.rounded += frame.fit.rounded ? 1 : 0;
    }
  }
}

// A record that cannot be written: each changed picture of it is refused, the first named.
void refuse_record(extraction_state& state, insertion& work, record_work& record,
                   const std::string& why) {
  bool named = false;
  for (frame_work& frame : record.frames) {
    if (frame.changed) {
      if (named) {
        frame.refused = true;
        frame.changed = false;
        frame.reason = why;
        continue;
      }
      refuse(state, work, frame, why);
      named = true;
    }
  }
}

void write_bytes(insertion& work, std::uint64_t offset, const std::uint8_t* bytes,
                 std::size_t count, bool& written) {
  written = written && (work.preview || (seek_file(work.new_archive, offset) &&
                                         std::fwrite(bytes, 1, count, work.new_archive) == count));
  work.archive_size = std::max(work.archive_size, offset + count);
}

// Whether writing `size` bytes at `offset` (and the zero bytes that would fill any gap before
// it) leaves every other entry reading what it read before.
bool free_to_write(const insertion& work, std::int32_t entry, std::uint64_t offset,
                   std::uint64_t size) {
  const std::uint64_t begin = std::min(offset, work.archive_size);
  for (std::size_t other = 0; other < work.read_spans.size(); ++other) {
    const auto& [start, end] = work.read_spans[other];
    if (other != static_cast<std::size_t>(entry) && start < offset + size && begin < end) {
      return false;
    }
  }
  return true;
}

// Writes the rebuilt record over its own sectors when it fits there, else after the end of the
// archive, and points its index entry at it.
void write_record(extraction_state& state, insertion& work, record_work& record,
                  const byte_vector& rebuilt) {
  if (rebuilt.size() > record_buffer_size) {
    refuse_record(state, work, record,
                  "its rebuilt record would be longer than the tool's record buffer (" +
                      std::to_string(record_buffer_size) + " bytes)");
    return;
  }
  std::uint32_t sector = 0;
  std::uint32_t length = 0;
  read_index_entry({work.new_index.data(), work.new_index.size()}, record.entry, sector, length);
  std::uint64_t offset = sector * sector_size;
  if (rebuilt.size() > round_to_sector(length) ||
      !free_to_write(work, record.entry, offset, rebuilt.size())) {
    offset = round_to_sector(work.archive_size);
    if (!free_to_write(work, record.entry, offset, rebuilt.size())) {
      refuse_record(
          state, work, record,
          "its rebuilt record has no room: another entry reads past the end of the archive");
      return;
    }
    if (offset / sector_size > last_sector) {
      refuse_record(state, work, record,
                    "the archive would grow past the last sector its index can name");
      return;
    }
  }
  bool written = true;
  if (offset > work.archive_size) {
    const std::vector<std::uint8_t> zeros(offset - work.archive_size, 0);
    write_bytes(work, work.archive_size, zeros.data(), zeros.size(), written);
  }
  write_bytes(work, offset, rebuilt.data(), rebuilt.size(), written);
  if (!written) {
    work.write_failed = true;
    work.failed = true;
    return;
  }
  work.read_spans[static_cast<std::size_t>(record.entry)] = {offset, offset + rebuilt.size()};
  std::uint8_t* entry = work.new_index.data() + record.entry * index_entry_size;
  const auto new_sector = static_cast<std::uint32_t>(offset / sector_size);
  const auto new_length = static_cast<std::uint32_t>(rebuilt.size());
  const std::uint8_t fields[] = {
      static_cast<std::uint8_t>(new_sector >> 16), static_cast<std::uint8_t>(new_sector >> 8),
      static_cast<std::uint8_t>(new_sector),       static_cast<std::uint8_t>(new_length >> 24),
      static_cast<std::uint8_t>(new_length >> 16), static_cast<std::uint8_t>(new_length >> 8),
      static_cast<std::uint8_t>(new_length)};
  std::memcpy(entry + entry_sector_at, fields, sizeof fields);
}

bool too_large(std::int32_t width, std::int32_t height, bool direct) {
  return (direct ? !direct_frame_fits(width, height) : !indexed_frame_fits(width, height)) ||
         width > longest_side || height > longest_side;
}

void put_back_direct(extraction_state& state, insertion& work, record_work& record,
                     const std::vector<shown_picture>& shown) {
  frame_work& frame = record.frames.front();
  const picture_pixels& given = frame.given;
  if (frame.changed && too_large(given.width, given.height, true)) {
    refuse(state, work, frame, "larger than the tool's buffers allow: make it smaller");
  }
  if (!frame.changed) {
    expect_unchanged(work, shown);
    return;
  }
  const byte_view original = record.original;
  const bool same_size = given.width == frame.shown->width && given.height == frame.shown->height;
  byte_vector rebuilt(original.bytes, original.bytes + direct_width_at);
  append_u16be(rebuilt, static_cast<std::uint32_t>(given.width));
  append_u16be(rebuilt, static_cast<std::uint32_t>(given.height));
  const std::size_t count = given.pixels.size() / 3;
  rebuilt.resize(direct_pixels_at + colour_word_size * count);
  std::uint8_t* words = rebuilt.data() + direct_pixels_at;
  // At the original size each pixel starts from the original word; the record holds them all.
  if (same_size) {
    std::memcpy(words, original.bytes + direct_pixels_at, colour_word_size * count);
  }
  // What the new pair shows: each channel's top five bits.
  std::vector<std::uint8_t> shown_pixels(given.pixels.size());
  const std::uint8_t* channels = given.pixels.data();
  std::uint8_t* rounded = shown_pixels.data();
  for (std::size_t i = 0; i < 3 * count; ++i) {
    rounded[i] = channels[i] & 0xF8;
  }
  // A pixel of the same colour keeps its word, bit 15 included: runs of them are passed over
  // a block at a time.
  const std::uint8_t* before = frame.shown->pixels.data();
  constexpr std::size_t block = 64;
  for (std::size_t first = 0; first < count; first += block) {
    const std::size_t end = std::min(count, first + block);
    if (same_size && std::memcmp(rounded + 3 * first, before + 3 * first, 3 * (end - first)) == 0) {
      continue;
    }
    for (std::size_t i = first; i < end; ++i) {
      if (same_size && std::memcmp(rounded + 3 * i, before + 3 * i, 3) == 0) {
        continue;
      }
      const std::uint8_t* colour = channels + 3 * i;
      const std::uint32_t word =
          (words[2 * i] & 0x80) << 8 | colour_word_of(colour[0], colour[1], colour[2]);
      words[2 * i] = static_cast<std::uint8_t>(word >> 8);
      words[2 * i + 1] = static_cast<std::uint8_t>(word);
    }
  }
  frame.fit.rounded = colours_lose_bits(given);
  expect(work, *frame.shown, shown_pixels, given.width, given.height, {});
  count_replaced(work, record);
  write_record(state, work, record, rebuilt);
}

// Refuses the changed pictures of a palette record that cannot be of its kind.
void check_palette_pictures(extraction_state& state, insertion& work, record_work& record) {
  for (frame_work& frame : record.frames) {
    const picture_pixels& given = frame.given;
    if (!frame.changed) {
      continue;
    }
    if (record.kind == picture_kind::screen &&
        (given.width != screen_width || given.height != screen_height)) {
      refuse(state, work, frame,
             "a screen must be " + std::to_string(screen_width) + " x " +
                 std::to_string(screen_height));
    } else if (too_large(given.width, given.height, false)) {
      refuse(state, work, frame, "larger than the tool's buffers allow: make it smaller");
    }
  }
}

// Fits the changed pictures of a palette record to its colours; `words` becomes the record's
// palette after insertion. False (after the refusals) when they do not fit.
bool fit_record(extraction_state& state, insertion& work, record_work& record,
                std::array<std::uint8_t, palette_size>& words) {
  std::vector<fitted_frame> frames;
  for (const frame_work& frame : record.frames) {
    fitted_frame& fitted = frames.emplace_back();
    fitted.width = frame.shown->width;
    fitted.height = frame.shown->height;
    fitted.original = &frame.shown->pixels;
    fitted.given = !frame.path.empty() && !frame.refused ? &frame.given : nullptr;
    fitted.changed = frame.changed;
  }
  const bool fits = fit_to_palette(words, frames);
  for (std::size_t k = 0; k < frames.size(); ++k) {
    record.frames[k].fit = std::move(frames[k]);
    if (!record.frames[k].fit.refusal.empty()) {
      refuse(state, work, record.frames[k], record.frames[k].fit.refusal);
    }
  }
  if (!fits) {
    for (frame_work& frame : record.frames) {
      frame.fit.indices.clear();
      frame.fit.takes_given = false;
      frame.changed = false;
    }
  }
  return fits;
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
byte_vector rebuilt_head(const byte_view& original,
                         const std::array<std::uint8_t, palette_size>& words) {
  byte_vector rebuilt(original.bytes, original.bytes + palette_head_size);
  std::memcpy(rebuilt.data(), words.data(), palette_size);
  return rebuilt;
}

void append_offset_entry(byte_vector& rebuilt, const byte_view& original, std::uint32_t k,
                         std::size_t offset) {
  rebuilt.push_back(original.bytes[palette_head_size + table_entry_size * k]);
  append_u24be(rebuilt, static_cast<std::uint32_t>(offset));
}

std::array<std::uint8_t, palette_size> palette_words_of(const byte_view& record) {
  std::array<std::uint8_t, palette_size> words{};
  std::memcpy(words.data(), record.bytes, palette_size);
  return words;
}

void put_back_frames(extraction_state& state, insertion& work, record_work& record,
                     const std::vector<shown_picture>& shown) {
  // A damaged record may be too short for its palette: it is never rebuilt, nor read here.
  if (record.damaged) {
    expect_unchanged(work, shown);
    return;
  }
  check_palette_pictures(state, work, record);
  const byte_view original = record.original;
  std::array<std::uint8_t, palette_size> words = palette_words_of(original);
  if (std::none_of(record.frames.begin(), record.frames.end(), is_changed) ||
      !fit_record(state, work, record, words)) {
    expect_unchanged(work, shown);
    return;
  }
  byte_vector rebuilt = rebuilt_head(original, words);
  std::size_t offset = 0;
  for (std::uint32_t k = 0; k < record.frames.size(); ++k) {
    append_offset_entry(rebuilt, original, k, offset);
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
  count_replaced(work, record);
  write_record(state, work, record, rebuilt);
}

// Follows every stream of a screen bank on the screen the new pair will show, so a short
// stream, which shows what the screen before it left, still shows what it did: a stream that
// no longer gives its picture there is packed anew from the picture itself.
void put_back_screens(extraction_state& state, insertion& work, record_work& record,
                      const std::vector<shown_picture>& shown) {
  const bool unreadable = std::any_of(shown.begin(), shown.end(), [](const shown_picture& p) {
    return p.status == picture_status::broken_record;
  });
  if (unreadable || record.frames.empty()) {
    expect_unchanged(work, shown);
    return;
  }
  const byte_view original = record.original;
  const auto frame_count = static_cast<std::uint32_t>(record.frames.size());
  const byte_view packed_area =
      rest_from(original, palette_head_size + table_entry_size * frame_count);
  const std::array<std::uint8_t, palette_size> own = palette_words_of(original);
  std::array<std::uint8_t, palette_size> words = own;
  if (!record.damaged) {
    check_palette_pictures(state, work, record);
    if (std::any_of(record.frames.begin(), record.frames.end(), is_changed)) {
      fit_record(state, work, record, words);
    }
  }
  const bool palette_changed = words != own;
  // While the new pair's screen is the original's, a bank none of whose pictures changed shows
  // what it showed: its streams need not be followed again.
  if (work.screen_matches && !palette_changed &&
      std::none_of(record.frames.begin(), record.frames.end(), is_changed)) {
    std::memcpy(work.screen, state.pixel_buffer.get(), screen_bytes);
    expect_unchanged(work, shown);
    return;
  }

  std::vector<run_expansion> streams;
  std::vector<bool> repacked;
  for (std::uint32_t k = 0; k < frame_count; ++k) {
    frame_work& frame = record.frames[k];
    streams.push_back(expand_runs(rest_from(packed_area, frame_offset(original, k)), work.screen,
                                  pixel_buffer_size));
    repacked.push_back(false);
    if (!streams.back().complete) {
      continue;
    }
    const std::vector<std::uint8_t>& wanted = pixels_after(frame);
    if (std::memcmp(work.screen, wanted.data(), screen_bytes) == 0) {
      continue;
    }
    if (record.damaged) {
      if (frame.path.empty()) {
        frame.path =
            work.pictures_folder + picture_name(state, record.base_name, frame.shown->where);
      }
      refuse(state, work, frame,
             "it shows part of the screen before it, which changed, and its damaged record "
             "cannot be rebuilt");
      continue;
    }
    std::memcpy(work.screen, wanted.data(), screen_bytes);
    repacked.back() = true;
  }
  work.screen_matches = std::memcmp(work.screen, state.pixel_buffer.get(), screen_bytes) == 0;
  const std::vector<std::uint8_t> colours = palette_colours(words.data());
  if (record.damaged || (!palette_changed && std::none_of(repacked.begin(), repacked.end(),
                                                          [](bool b) { return b; }))) {
    for (const frame_work& frame : record.frames) {
      if (frame.shown->status == picture_status::ok) {
        expect(work, *frame.shown, pixels_after(frame), screen_width, screen_height, colours);
      } else {
        work.expected.push_back(digest_of(*frame.shown));
      }
    }
    return;
  }
  byte_vector rebuilt = rebuilt_head(original, words);
  byte_vector area;
  for (std::uint32_t k = 0; k < frame_count; ++k) {
    append_offset_entry(rebuilt, original, k, area.size());
    const byte_view stream = rest_from(packed_area, frame_offset(original, k));
    if (repacked[k]) {
      append_run_stream(area, stream.bytes, pixels_after(record.frames[k]).data(), screen_bytes);
    } else {
      area.insert(area.end(), stream.bytes, stream.bytes + streams[k].consumed);
    }
    expect(work, *record.frames[k].shown, pixels_after(record.frames[k]), screen_width,
           screen_height, colours);
  }
  rebuilt.insert(rebuilt.end(), area.begin(), area.end());
  // A bank this short would be skipped by extraction.
  rebuilt.resize(std::max<std::size_t>(rebuilt.size(), longest_skipped_screen_bank + 1), 0);
  count_replaced(work, record);
  write_record(state, work, record, rebuilt);
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
                         frame.changed && frame.fit.rounded, frame.fit.slots_added, frame.reason});
  }
}

picture_kind kind_of(std::int64_t index_size) {
  return index_size == frame_bank_index_size    ? picture_kind::frame
         : index_size == screen_bank_index_size ? picture_kind::screen
                                                : picture_kind::direct;
}

void find_read_spans(insertion& work, std::int32_t entries) {
  const byte_view index{work.new_index.data(), work.new_index.size()};
  work.read_spans.clear();
  for (std::int32_t entry = 0; entry < entries; ++entry) {
    std::uint32_t sector = 0;
    std::uint32_t length = 0;
    read_index_entry(index, entry, sector, length);
    const std::uint64_t start = sector * sector_size;
    work.read_spans.emplace_back(start,
                                 start + std::min<std::uint64_t>(length, record_buffer_size));
  }
}

} // namespace

void insert_pictures(extraction_state& state, insertion& work, const std::string& base_name,
                     std::int64_t index_size) {
  if (!known_index_size(index_size)) {
    return;
  }
  find_read_spans(work, static_cast<std::int32_t>(index_size / index_entry_size));
  work.screen_matches = std::memcmp(work.screen, state.pixel_buffer.get(), screen_bytes) == 0;
  std::vector<shown_picture> shown;
  const auto keep = [&shown](const picture& found) { keep_picture(shown, found); };
  const auto put_back = [&](const walked_entry& walked) {
    record_work record = gather_record(state, work, shown, base_name, kind_of(index_size), walked);
    read_given(state, work, record);
    if (record.kind == picture_kind::direct) {
      put_back_direct(state, work, record, shown);
    } else if (record.kind == picture_kind::frame) {
      put_back_frames(state, work, record, shown);
    } else {
      put_back_screens(state, work, record, shown);
    }
    note_rows(work, record);
    shown.clear();
    return true;
  };
  walk_pair(state, index_size, !state.quiet && !work.preview, keep, put_back);
}

std::string picture_file_key(std::string name) {
  for (char& c : name) {
    c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  }
  return name;
}

bool verify_new_pair(extraction_state& state, const insertion& work, const std::string& base_name,
                     std::int64_t index_size) {
  if (!known_index_size(index_size)) {
    return true;
  }
  std::vector<shown_picture> shown;
  std::size_t next = 0;
  const auto keep = [&shown](const picture& found) { keep_picture(shown, found); };
  const auto compare = [&](const walked_entry&) {
    for (const shown_picture& picture : shown) {
      if (next >= work.expected.size() || digest_of(picture) != work.expected[next++]) {
        say(state, text::insert_error,
            work.pictures_folder + picture_name(state, base_name, picture.where) +
                ": the new pair does not give this picture back (a fault of ofb2bmp)");
        return false;
      }
    }
    shown.clear();
    return true;
  };
  if (!walk_pair(state, index_size, false, keep, compare)) {
    return false;
  }
  if (next != work.expected.size()) {
    say(state, text::insert_error,
        work.index_path + ": the new pair gives fewer pictures back (a fault of ofb2bmp)");
    return false;
  }
  return true;
}
