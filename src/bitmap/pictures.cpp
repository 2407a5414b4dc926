#include "bitmap/pictures.hpp"

#include "bitmap/bitmap_file.hpp"
#include "bitmap/bitmap_writers.hpp"

std::string picture_path(const extraction_state& state, const std::string& base_name,
                         const picture& shown) {
  const std::string suffix = shown.kind == picture_kind::direct ? direct_suffix(shown.counter)
                                                                : indexed_suffix(shown.counter);
  return output_path(state, base_name, suffix, ".BMP");
}

void save_picture(extraction_state& state, const std::string& base_name, const picture& shown,
                  const std::uint8_t* pixels) {
  if (shown.kind == picture_kind::direct) {
    write_direct_bitmap(state, base_name, shown.counter, pixels);
  } else {
    write_indexed_bitmap(state, base_name, shown.counter, pixels);
  }
}

void report_broken_frame(extraction_state& state, const std::string& base_name,
                         const picture& shown) {
  state.incomplete = true;
  say(state, text::broken_frame, picture_path(state, base_name, shown));
}

void report_broken_record(extraction_state& state, picture_kind, std::int32_t entry) {
  state.incomplete = true;
  say(state, text::broken_record, state.archive_path, entry);
}
