#include "pictures/sinks.hpp"

#include "common/colour.hpp"
#include "pictures/bitmap_writers.hpp"
#include "pictures/colour_expansion.hpp"
#include "pictures/output_file.hpp"
#include "pictures/picture_names.hpp"
#include "pictures/png_file.hpp"

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

bool gives_file(const output_options& files, const picture& shown) {
  return files.format == output_format::bmp || (shown.width != 0 && shown.height != 0);
}

bool takes_rows_as_in_file(const output_options& files, const picture& shown) {
  return files.format == output_format::bmp && shown.place.kind != picture_kind::direct;
}

bool write_picture_file(const output_options& files, picture_output& output,
                        const std::string& base_name, const picture& shown, bool rows_as_in_file) {
  output.kept = false;
  if (!gives_file(files, shown)) {
    return false;
  }
  const bool direct = shown.place.kind == picture_kind::direct;
  if (files.format == output_format::png) {
    (direct ? write_direct_png : write_indexed_png)(files, output, base_name, shown);
  } else {
    if (direct) {
      write_direct_bitmap(files, output, base_name, shown);
    } else {
      write_indexed_bitmap(files, output, base_name, shown, rows_as_in_file);
    }
  }
  return !output.kept;
}

void keep_picture(std::vector<shown_picture>& kept, const picture& shown) {
  shown_picture& copy = kept.emplace_back();
  copy.where = shown.place;
  copy.status = shown.status;
  if (shown.status != picture_status::ok) {
    return;
  }
  copy.width = shown.width;
  copy.height = shown.height;
  const std::size_t count = std::size_t(shown.width) * std::size_t(shown.height);
  if (shown.place.kind == picture_kind::direct) {
    copy.pixels.resize(3 * count);
    expand_colour_words(shown.pixels.bytes, count, copy.pixels.data(),
                        channel_order::red_green_blue);
  } else {
    copy.pixels.assign(shown.pixels.bytes, shown.pixels.bytes + count);
    copy.palette = palette_colours(shown.palette.bytes);
  }
}
