#include "driver/selection.hpp"

#include <algorithm>
#include <limits>

#include "common/system_files.hpp"
#include "driver/platform.hpp"
#include "pictures/picture_names.hpp"

namespace {

constexpr char entry_prefix[] = "entry:";
constexpr std::size_t entry_prefix_size = sizeof entry_prefix - 1;

char ascii_lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool starts_with_ignoring_case(const std::string& text, const char* prefix, std::size_t size) {
  if (text.size() < size) {
    return false;
  }
  for (std::size_t k = 0; k < size; ++k) {
    if (ascii_lower(text[k]) != prefix[k]) {
      return false;
    }
  }
  return true;
}

// A number of entries in decimal digits; no index file has more than a few hundred.
bool read_entry_number(const std::string& digits, std::int32_t& number) {
  if (digits.empty() || digits.size() > 9 ||
      digits.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  number = std::stoi(digits);
  return true;
}

// N, N-M (N not above M) or N- (to the last entry).
bool read_entry_range(const std::string& text, entry_range& range) {
  const std::size_t dash = text.find('-');
  if (dash == std::string::npos) {
    return read_entry_number(text, range.first) && read_entry_number(text, range.last);
  }
  if (!read_entry_number(text.substr(0, dash), range.first)) {
    return false;
  }
  if (dash + 1 == text.size()) {
    range.last = std::numeric_limits<std::int32_t>::max();
    return true;
  }
  return read_entry_number(text.substr(dash + 1), range.last) && range.first <= range.last;
}

bool looks_like_range(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789-") == std::string::npos;
}

bool in_ranges(const selection_item& item, std::int32_t entry) {
  return std::any_of(item.entries.begin(), item.entries.end(),
                     [entry](const entry_range& r) { return entry >= r.first && entry <= r.last; });
}

// A name as --list shows it, or without its extension.
bool name_selected(const selection_item& item, const std::string& name) {
  const std::size_t dot = name.rfind('.');
  return name_matches(item.name_pattern, name) ||
         (dot != std::string::npos && name_matches(item.name_pattern, name.substr(0, dot)));
}

// Whether the picture is selected; marks every item that selects it.
bool picture_wanted(picture_selection& selection, std::int32_t entry, const std::string& name) {
  bool wanted = false;
  for (selection_item& item : selection.items) {
    if (item.name_pattern.empty() ? in_ranges(item, entry) : name_selected(item, name)) {
      item.matched = true;
      wanted = true;
    }
  }
  return wanted;
}

std::uint8_t* scratch(byte_buffer& buffer, std::size_t size) {
  if (!buffer) {
    buffer = zeroed_bytes(size);
    if (!buffer) {
      throw std::bad_alloc();
    }
  }
  return buffer.get();
}

// Brings the screen up to what a full run would have left in it.
void bring_screen_up_to_date(extraction_state& state, picture_selection& selection) {
  std::string failed_path;
  int error_code = 0;
  if (!catch_up_screens(selection.screens_behind,
                        state.open_named_file ? state.open_named_file : open_file_on_disk,
                        scratch(selection.scratch_record, record_buffer_size),
                        state.pixel_buffer.get(), failed_path, error_code)) {
    throw fatal_error{text::file_open_error, failed_path, error_code};
  }
  selection.screens_behind.clear();
}

} // namespace

bool add_to_selection(picture_selection& selection, const std::string& value, std::string& wrong) {
  std::size_t start = 0;
  bool after_entries = false;
  for (;;) {
    const std::size_t comma = value.find(',', start);
    const std::string item = value.substr(start, comma - start);
    wrong = item;
    if (item.empty()) {
      return false;
    }
    entry_range range;
    if (starts_with_ignoring_case(item, entry_prefix, entry_prefix_size)) {
      if (!read_entry_range(item.substr(entry_prefix_size), range)) {
        return false;
      }
      selection.items.push_back({item, {}, {range}});
      after_entries = true;
    } else if (after_entries && looks_like_range(item)) {
      if (!read_entry_range(item, range)) {
        return false;
      }
      selection.items.back().entries.push_back(range);
      selection.items.back().given += ',' + item;
    } else {
      selection.items.push_back({item, item, {}});
      after_entries = false;
    }
    if (comma == std::string::npos) {
      return true;
    }
    start = comma + 1;
  }
}

entry_choice chosen_entries(extraction_state& state, picture_selection& selection,
                            const picture_source& source, const std::function<void()>& announce) {
  entry_choice choice;
  choice.wanted = [&state, &selection, &source, announce](const entry_span& span) {
    // An entry item has matched once a picture, or the damage in its place, comes of it.
    bool wanted = std::any_of(selection.items.begin(), selection.items.end(),
                              [&span](const selection_item& item) {
                                return item.name_pattern.empty() && in_ranges(item, span.entry);
                              });
    for (std::int32_t k = 0; k < span.counters; ++k) {
      const picture_place place{span.kind, span.first_counter + k, span.entry, k};
      wanted = picture_wanted(selection, span.entry,
                              picture_name(state.files, source.base_name, place)) ||
               wanted;
    }
    if (wanted && announce) {
      announce();
    }
    return wanted;
  };
  choice.screens_skipped = [&selection, &source](std::uint64_t offset, std::uint32_t length) {
    selection.screens_behind.push_back({source.archive_path, offset, length});
  };
  choice.screens_wanted = [&state, &selection](const byte_view& record, std::uint32_t length) {
    if (selection.screens_behind.empty()) {
      return;
    }
    if (first_screen_covers_all(record, length,
                                scratch(selection.scratch_screen, pixel_buffer_size))) {
      selection.screens_behind.clear();
    } else {
      bring_screen_up_to_date(state, selection);
    }
  };
  return choice;
}

bool may_select_from(const picture_selection& selection, const picture_source& source) {
  const std::string& base = source.base_name;
  return std::any_of(selection.items.begin(), selection.items.end(), [&base](const auto& item) {
    const std::string& pattern = item.name_pattern;
    for (std::size_t k = 0; k < pattern.size() && k < base.size(); ++k) {
      const char p = pattern[k];
      const char b = base[k];
      // Past a wildcard, or a byte that letter case may fold beyond ASCII, anything may follow.
      if (p == '*' || p == '?' || (p & 0x80) != 0 || (b & 0x80) != 0) {
        return true;
      }
      if (ascii_lower(p) != ascii_lower(b)) {
        return false;
      }
    }
    return true; // an entry item, or a pattern that agrees so far
  });
}

void pass_over_pair(picture_selection& selection, const picture_source& source,
                    const byte_view& index) {
  if (index.size != screen_bank_index_size) {
    return;
  }
  for (std::int32_t entry = 0; entry < static_cast<std::int32_t>(index.size / index_entry_size);
       ++entry) {
    std::uint32_t sector = 0;
    std::uint32_t length = 0;
    read_index_entry(index, entry, sector, length);
    selection.screens_behind.push_back({source.archive_path, sector * sector_size, length});
  }
}

picture_sink selected_pictures(const extraction_state& state, picture_selection& selection,
                               const picture_source& source, picture_sink next) {
  return [&state, &selection, &source, next](const picture& shown) {
    if (shown.status == picture_status::broken_record) {
      // Decoded because an item selected its entry or a name among its frames.
      picture_wanted(selection, shown.place.entry, {});
      next(shown);
    } else if (picture_wanted(selection, shown.place.entry,
                              picture_name(state.files, source.base_name, shown.place))) {
      next(shown);
    }
  };
}

void tell_unmatched(extraction_state& state, const picture_selection& selection) {
  for (const selection_item& item : selection.items) {
    if (!item.matched) {
      tell(state, text::nothing_selected, item.given);
      if (item.given.find_first_of("*?") == std::string::npos) {
        state.incomplete = true;
      }
    }
  }
}
