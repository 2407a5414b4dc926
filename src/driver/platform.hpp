// What the driver needs from the operating system, one implementation per platform.
#pragma once

#include <string>
#include <vector>

#include "common/system_files.hpp"
#include "driver/paths.hpp"

struct folder_entry {
  std::string name;
  bool is_folder;
};

// Makes sure the standard streams are open, so that no file the run opens takes their place.
// A closed console stays unwritable: its text is lost, and the run says so by its status.
void reserve_standard_streams();

// How this platform's paths are taken apart.
const path_syntax& native_path_syntax();

// The full path of the running program file (not what was typed to start it); empty when the
// system cannot tell it (a path longer than the system allows).
std::string program_file_path();

// The inputs among the names on the command line.
std::vector<std::string> input_names(const std::vector<std::string>& names);

// Creates the folder with its parents where missing. False when it is not a folder after all.
bool create_output_folder(const std::string& folder);

// Whether standard error goes to a terminal (a console on Windows), where a person reads it.
bool standard_error_is_terminal();

// The path from the root: a relative one is taken from the current folder.
std::string absolute_path(const std::string& path);

// Whether `path` names an existing folder.
bool folder_exists(const std::string& path);

// Whether the two paths name one and the same existing file.
bool same_file(const std::string& a, const std::string& b);

// Whether a file could not be created for a reason of its folder's (no permission, a read-only
// or full disk, a folder that is gone) rather than of its own name's: then no other file of
// that folder can be created either.
bool refused_by_folder(int error_code);

// Copies the file `from` whole to `to`, replacing a file of that name, in the system itself
// where it can.
bool copy_whole_file(const std::string& from, const std::string& to);

// A name as the system gives it, in UTF-8 for a web page: the same bytes where names are bytes
// (Linux), the ANSI code page's characters in UTF-8 on Windows.
std::string name_in_utf8(const std::string& name);

// Lets freed blocks of picture size be reused instead of handed back to the system, where each
// would come back as fresh pages to fault in (insertion allocates several per picture).
void reuse_freed_memory();

// Asks the user for one index file. False when the user cancelled (or could not be asked).
bool ask_for_input_path(std::string& chosen);

// The entries of one folder whose names match the last component of `pattern` ('*' and '?'
// as wildcards), in the order they are to be processed.
std::vector<folder_entry> find_matching_entries(const std::string& pattern);

// Whether `name` matches `pattern`, '*' and '?' as wildcards, ignoring letter case, as names
// of index files are matched.
bool name_matches(const std::string& pattern, const std::string& name);

// The name under which the file `path` is to be opened: `path` itself, or where the platform's
// names are case-sensitive and no file has that exact name, the entry of the same folder whose
// name equals it ignoring letter case.
std::string paired_file_name(const std::string& path);

// From now on an interruption (SIGINT, SIGTERM, SIGHUP; on Windows Ctrl-C, Ctrl-Break and
// closing the console) removes the files being written (common/files_in_progress.hpp) and
// ends the run as that interruption ends a program by default.
void remove_files_on_interruption();
