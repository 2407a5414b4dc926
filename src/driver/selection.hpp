// --only: the pictures a run takes, by name or by index entry. Records that hold none of them
// are read no further than their heads, and their pictures keep the names of a full run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/archive.hpp"
#include "archive/pair_files.hpp"
#include "driver/console.hpp"
#include "pictures/sinks.hpp"

// Entries FIRST to LAST of every index file, both included.
struct entry_range {
  std::int32_t first = 0;
  std::int32_t last = 0;
};

// One item of a selection: a picture name ('*' and '?' as wildcards, ignoring letter case,
// with or without its extension), or entry ranges.
struct selection_item {
  std::string given;        // as written, for the message when it selects nothing
  std::string name_pattern; // empty for entry ranges
  std::vector<entry_range> entries;
  bool matched = false;
};

// What a run with --only owns: the items, and the screen banks it passed over since the screen
// was last as a full run would have it (screens are expanded each over the one before, and a
// short one shows what earlier ones left).
struct picture_selection {
  std::vector<selection_item> items;
  std::vector<skipped_screens> screens_behind;
  byte_buffer scratch_screen; // pixel_buffer_size bytes, made when first needed
  byte_buffer scratch_record; // record_buffer_size bytes, the same
};

// Adds the items of one --only value: names and "entry:RANGES" separated by commas, a range
// being N, N-M or N- (to the last entry); bare ranges after an entry item belong to it. False,
// with `wrong` set to the item, when an item is empty or its ranges are not ranges.
bool add_to_selection(picture_selection& selection, const std::string& value, std::string& wrong);

// Which entries of the pair `source` names are decoded: those of a selected entry, or holding a
// picture selected by name. `announce` is called before the first one is decoded.
entry_choice chosen_entries(extraction_state& state, picture_selection& selection,
                            const picture_source& source, const std::function<void()>& announce);

// Whether some item may select a picture of the pair `source` names: an entry item, or a name
// whose letters before its first wildcard agree with the pair's base name as far as both go.
bool may_select_from(const picture_selection& selection, const picture_source& source);

// Passes over a whole pair none of whose pictures is selected, without reading its archive:
// a pair of screen banks leaves its records to be caught up with.
void pass_over_pair(picture_selection& selection, const picture_source& source,
                    const byte_view& index);

// Hands on to `next` only the selected pictures (and the damaged records that were decoded).
picture_sink selected_pictures(const extraction_state& state, picture_selection& selection,
                               const picture_source& source, picture_sink next);

// Names on standard error each item that selected nothing; one without wildcards makes the run
// incomplete, as a name that finds no index file does.
void tell_unmatched(extraction_state& state, const picture_selection& selection);
