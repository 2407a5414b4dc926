#include "pictures/sinks.hpp"

#include "common/colour.hpp"
#include "pictures/bitmap_writers.hpp"
#include "pictures/colour_expansion.hpp"
#include "pictures/output_file.hpp"
#include "pictures/picture_names.hpp"
#include "pictures/picture_pool.hpp"
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

namespace {

void tell_damage(extraction_state& state, const picture_source& source, const picture& shown) {
  state.incomplete = true;
  if (shown.status == picture_status::broken_record) {
    say(state, text::broken_record, source.archive_path, shown.place.entry);
  } else {
    say(state, text::broken_frame,
        state.files.folder + picture_name(state.files, source.base_name, shown.place));
  }
}

// One row of the listing: index, name, entry, frame, width, height, kind, status.
void list_row(extraction_state& state, const std::string& index_path, const std::string& name,
              picture_kind kind, std::int32_t entry, const std::string& frame_and_size,
              const char* status) {
  say(state, text::list_row,
      index_path + '\t' + name + '\t' + std::to_string(entry) + '\t' + frame_and_size + '\t' +
          kind_name(kind) + '\t' + status);
}

} // namespace

bool write_picture_file(const output_options& files, picture_output& output,
                        const std::string& base_name, const picture& shown) {
  output.kept = false;
  if (!gives_file(files, shown)) {
    return false;
  }
  const bool direct = shown.place.kind == picture_kind::direct;
  if (files.format == output_format::png) {
    (direct ? write_direct_png : write_indexed_png)(files, output, base_name, shown);
  } else {
    (direct ? write_direct_bitmap : write_indexed_bitmap)(files, output, base_name, shown);
  }
  return !output.kept;
}

void save_picture(extraction_state& state, const picture_source& source, const picture& shown) {
  if (shown.status != picture_status::ok) {
    tell_damage(state, source, shown);
  } else if (state.pool != nullptr) {
    send_picture(state, *state.pool, source.base_name, shown);
  } else {
    state.saved += write_picture_file(state.files, state.output, source.base_name, shown) ? 1 : 0;
    state.kept += state.output.kept ? 1 : 0;
  }
}

void list_picture(extraction_state& state, const picture_source& source, const picture& shown) {
  if (shown.status == picture_status::broken_record) {
    state.incomplete = true;
    list_row(state, source.index_path, "-", shown.place.kind, shown.place.entry, "-\t-\t-",
             "broken");
    return;
  }
  if (shown.status == picture_status::broken_frame) {
    state.incomplete = true;
  } else if (!gives_file(state.files, shown)) {
    return;
  }
  list_row(state, source.index_path, picture_name(state.files, source.base_name, shown.place),
           shown.place.kind, shown.place.entry,
           std::to_string(shown.place.frame) + '\t' + std::to_string(shown.width) + '\t' +
               std::to_string(shown.height),
           shown.status == picture_status::ok ? "ok" : "broken");
}

picture_sink extraction_sink(extraction_state& state, const picture_source& source) {
  if (state.list_only) {
    return [&state, &source](const picture& shown) { list_picture(state, source, shown); };
  }
  return [&state, &source](const picture& shown) { save_picture(state, source, shown); };
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
