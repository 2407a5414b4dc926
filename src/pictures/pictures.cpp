#include "pictures/pictures.hpp"

#include "pictures/bitmap_file.hpp"
#include "pictures/bitmap_writers.hpp"
#include "pictures/colour_expansion.hpp"
#include "pictures/png_file.hpp"

namespace {

const char* kind_name(picture_kind kind) {
  switch (kind) {
  case picture_kind::direct:
    return "direct";
  case picture_kind::frame:
    return "frame";
  case picture_kind::screen:
    return "screen";
  }
  return "";
}

// A picture without pixels cannot be a PNG: such a picture gives no file and no word.
bool gives_file(const extraction_state& state) {
  return state.format == output_format::bmp || (state.image_width != 0 && state.image_height != 0);
}

// One row of the listing: index, name, entry, frame, width, height, kind, status.
void list_row(extraction_state& state, const std::string& name, picture_kind kind,
              std::int32_t entry, const std::string& frame_and_size, const char* status) {
  say(state, text::list_row,
      state.index_path + '\t' + name + '\t' + std::to_string(entry) + '\t' + frame_and_size + '\t' +
          kind_name(kind) + '\t' + status);
}

void list_picture(extraction_state& state, const std::string& base_name, const picture& shown,
                  const char* status) {
  list_row(state, picture_name(state, base_name, shown), shown.kind, shown.entry,
           std::to_string(shown.frame) + '\t' + std::to_string(state.image_width) + '\t' +
               std::to_string(state.image_height),
           status);
}

void collect(extraction_state& state, const picture& where, shown_status status) {
  shown_picture& kept = state.collected->emplace_back();
  kept.where = where;
  kept.status = status;
}

void collect_picture(extraction_state& state, const picture& shown, const std::uint8_t* pixels) {
  collect(state, shown, shown_status::picture);
  shown_picture& kept = state.collected->back();
  kept.width = state.image_width;
  kept.height = state.image_height;
  const std::size_t count = std::size_t(state.image_width) * std::size_t(state.image_height);
  if (shown.kind == picture_kind::direct) {
    kept.pixels.resize(3 * count);
    expand_colour_words(pixels, count, kept.pixels.data(), channel_order::red_green_blue);
  } else {
    kept.pixels.assign(pixels, pixels + count);
    kept.palette = palette_colours(state.palette.data());
  }
}

} // namespace

std::vector<std::uint8_t> palette_colours(const std::uint8_t* palette_words) {
  std::vector<std::uint8_t> colours(3 * 256);
  expand_colour_words(palette_words, 256, colours.data(), channel_order::red_green_blue);
  return colours;
}

std::string picture_name(const extraction_state& state, const std::string& base_name,
                         const picture& shown) {
  return base_name +
         (shown.kind == picture_kind::direct ? direct_suffix(shown.counter)
                                             : indexed_suffix(shown.counter)) +
         (state.format == output_format::png ? ".PNG" : ".BMP");
}

void save_picture(extraction_state& state, const std::string& base_name, const picture& shown,
                  const std::uint8_t* pixels) {
  if (state.collected != nullptr) {
    collect_picture(state, shown, pixels);
    return;
  }
  if (!gives_file(state)) {
    return;
  }
  if (state.list_only) {
    list_picture(state, base_name, shown, "ok");
  } else if (state.format == output_format::png) {
    if (shown.kind == picture_kind::direct) {
      write_direct_png(state, base_name, shown.counter, pixels);
    } else {
      write_indexed_png(state, base_name, shown.counter, pixels);
    }
  } else if (shown.kind == picture_kind::direct) {
    write_direct_bitmap(state, base_name, shown.counter, pixels);
  } else {
    write_indexed_bitmap(state, base_name, shown.counter, pixels);
  }
}

void report_broken_frame(extraction_state& state, const std::string& base_name,
                         const picture& shown) {
  if (state.collected != nullptr) {
    collect(state, shown, shown_status::broken_frame);
    return;
  }
  state.incomplete = true;
  if (state.list_only) {
    list_picture(state, base_name, shown, "broken");
  } else {
    say(state, text::broken_frame, state.output_folder + picture_name(state, base_name, shown));
  }
}

void report_broken_record(extraction_state& state, picture_kind kind, std::int32_t entry) {
  if (state.collected != nullptr) {
    collect(state, {kind, -1, entry, -1}, shown_status::broken_record);
    return;
  }
  state.incomplete = true;
  if (state.list_only) {
    list_row(state, "-", kind, entry, "-\t-\t-", "broken");
  } else {
    say(state, text::broken_record, state.archive_path, entry);
  }
}
