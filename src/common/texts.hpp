// Every text the tool prints, in one table, and the one function that prints them. The bytes
// are the tool's own and never change: scripts read them. Two are Japanese, stored as
// Shift-JIS bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

enum class text {
  index_path,         // an index file's path before its walk
  countdown,          // entries still to come after this one; overwrites itself
  completed,          // after the last entry
  file_open_error,    // an index file or archive cannot be opened or read
  file_create_error,  // a direct-colour picture (or the program's folder) cannot be created
  file_create_errror, // a palette picture cannot be created (spelled so)
  file_write_error,   // a picture could not be written completely; it is removed
  broken_frame,       // a frame outside its record's bytes, or too large
  broken_record,      // a record too short for its own head or tables
  out_of_memory,
  usage, // --help: takes where this copy saves without -o
  version,
  list_header,
  list_row,
  unknown_option, // standard error, as the options are read
  missing_value,
  unexpected_value,
  unknown_format,
  insert_needs_output,  // --insert without -o
  insert_excludes,      // --insert with -f or --gallery
  would_replace_input,  // a new pair would take the place of the pair it is made from
  insert_error,         // a picture or pair that cannot be put back, and why
  inserted,             // pictures replaced in one new pair
  insert_list_header,   // --insert --list: what would become of each file given
  not_used,             // standard error: a file named like a pair's pictures, but none of them
  inserted_moved,       // pictures of a new pair with pixels given a nearest colour (--nearest)
  size_changed,         // standard error: a picture put back at another size
  nearest_needs_insert, // --nearest without --insert
  // Standard error: why a run did less than asked.
  no_index_file,      // a name that matches no index file
  folder_named,       // a folder given where an index file was expected
  system_reason,      // the system's text for a failed open, create or write
  unknown_index_size, // an index file passed over for its size
  kept_existing,      // -n: files not written because they exist
  empty_value,        // an option given an empty value
  bad_jobs,           // -j given something else than a number of threads
  bad_selection,      // --only given an item that is neither a name nor entry ranges
  nothing_selected,   // an --only item that selected no picture
  hint,               // what to do instead, after a line that says why a name did nothing
  where_saved,        // on a terminal, last: how many pictures or pairs went where; the gallery
};

// What a text's format takes: nothing, a name (%s), a number (%d), or both in that order.
enum class text_arguments { none, name, number, name_and_number };

struct text_format {
  const char* format;
  text_arguments arguments;
};

const text_format& format_of(text id);

// The text with its arguments filled in.
std::string text_of(text id, const std::string& name = {}, std::int64_t number = 0);

// Writes the text to `stream` and flushes it, so progress shows at once. False when the
// stream did not take it all.
bool print_text(std::FILE* stream, text id, const std::string& name = {}, std::int64_t number = 0);
// Writes the bytes and flushes them; false when the stream did not take them all.
bool print_bytes(std::FILE* stream, const std::string& bytes);

// "1 picture", "2 pictures": a count and what it counts, singular or plural.
std::string counted(std::int64_t count, const char* singular);

// "1,204": a number with its thousands grouped, as the newer messages write counts.
std::string grouped(std::int64_t number);

// Standard error, from the interruption handler, which can only copy fixed bytes.
inline constexpr char interrupted_text[] = "ofb2bmp: interrupted\n";

// "ＯＲＶＡより…の画像ファイル", the description of the open-file filter, and its pattern.
inline constexpr char filter_description[] =
    "\x82\x6E\x82\x71\x82\x75\x82\x60\x82\xE6\x82\xE8\x81\x63\x82\xCC\x89\xE6\x91\x9C\x83\x74"
    "\x83\x40\x83\x43\x83\x8B";
inline constexpr char filter_pattern[] = "BFIL.OFB;GFIL.OFB";
