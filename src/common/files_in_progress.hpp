// The files an interruption must not leave behind: the picture each writer thread is writing
// and the two .part files of a new pair. Each path is copied into a fixed buffer before its file is
// created, and a flag publishes it only once it is whole, so the interruption handler (see
// driver/platform.hpp) can remove the files without allocating or taking a lock.
#pragma once

#include <string>

enum class file_slot { picture, new_index, new_archive };
// Threads that write pictures at once, at most: each has a picture slot of its own.
inline constexpr int most_picture_writers = 64;

// From now until end_writing, `path` is removed on an interruption. A path longer than the
// buffer is not kept: the system refuses to create such a file anyway. `writer` tells the
// picture slots apart: 0 is the main thread's, 1 to most_picture_writers the writer threads'.
// A writer thread calls file_created once the file exists (or could not be made); until then
// an interruption waits for it, and once one has begun, begin_writing never returns on a
// writer thread, so that none creates a file after the cleanup.
void begin_writing(file_slot slot, const std::string& path, int writer = 0);
void file_created(file_slot slot, int writer = 0);
void end_writing(file_slot slot, int writer = 0);

// Whether the console's last text left its line open (the countdown ends in a carriage return),
// so that an interruption ends that line on a terminal before it says why the run ended.
// Lock-free, for the interruption handler to read.
void note_console_line_open(bool open);
bool console_line_open();

// Calls `remove` on every path being written. Async-signal-safe when `remove` is. Runs on the
// main thread or on a thread of its own, never on a writer thread.
void remove_files_being_written(void (*remove)(const char* path));
