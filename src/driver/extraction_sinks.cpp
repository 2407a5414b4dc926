#include "driver/extraction_sinks.hpp"

#include <functional>
#include <system_error>

#include "pictures/picture_names.hpp"

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

// Counts a picture the writer threads are done with and prints the text that waited for it.
void count_written(extraction_state& state, const picture_outcome& outcome) {
  state.kept += outcome.kept ? 1 : 0;
  state.saved += outcome.wrote ? 1 : 0;
  ++state.pictures_written;
  print_held_text(state);
}

// Runs a step of the writer threads; after a failure no text waits any more: none said after
// the failing picture is printed, as none would have been were it written in turn.
void with_writers(extraction_state& state, const std::function<void()>& run) {
  try {
    run();
  } catch (...) {
    state.held.clear();
    state.pictures_written = state.pictures_sent;
    throw;
  }
}

} // namespace

void save_picture(extraction_state& state, const picture_source& source, const picture& shown) {
  if (shown.status != picture_status::ok) {
    tell_damage(state, source, shown);
  } else if (state.pool != nullptr) {
    ++state.pictures_sent;
    with_writers(state, [&] { send_picture(*state.pool, source.base_name, shown); });
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

bool start_writers(extraction_state& state, running_pool& pool, int writers) {
  try {
    pool = start_picture_pool(state.files, writers, [&state](const picture_outcome& outcome) {
      count_written(state, outcome);
    });
  } catch (const std::system_error&) {
    return false;
  }
  state.pool = pool.get();
  return true;
}

void finish_writers(extraction_state& state) {
  with_writers(state, [&state] { finish_pictures(*state.pool); });
}
