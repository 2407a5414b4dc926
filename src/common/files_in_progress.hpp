// The files an interruption must not leave behind: the picture each writer thread is writing
// and the two .part files of a new pair. Each path is copied into a fixed buffer before its file is
// created, and a flag publishes it only once it is whole, so the interruption handler (see
// driver/platform.hpp) can remove the files without allocating or taking a lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum class file_slot { picture, new_index, new_archive };
// Longer than any path Linux (4,096 bytes) or the Windows ANSI functions accept: the buffer a
// path is kept in for the interruption handler, which may not allocate.
inline constexpr std::size_t noted_path_capacity = 4096;
// Threads that write pictures at once, at most: each has a picture slot of its own.
inline constexpr int most_picture_writers = 64;

// From now until end_writing, `path` is removed on an interruption. A path longer than the
// buffer is not kept: the system refuses to create such a file anyway. `writer` tells the
// picture slots apart: 0 is the main thread's, 1 to most_picture_writers the writer threads'.
// A picture's file is created between begin_writing and file_created, with system calls only;
// `created` false says none was (the name was taken, say), and the path is no longer noted.
// Meanwhile an interruption waits: for a writer thread, and for the main thread where the
// handler runs on a thread of its own; where it runs on the main thread, it is put off until
// file_created (see defer_interruption). Once one has begun, begin_writing never returns on a
// writer thread, so that none creates a file after the cleanup.
void begin_writing(file_slot slot, const std::string& path, int writer = 0);
void file_created(file_slot slot, int writer = 0, bool created = true);
void end_writing(file_slot slot, int writer = 0);

// For a handler on the main thread: true when that thread is creating a picture's file, in
// which case `handle` is called with the signal once it has. For a handler on a thread of its
// own: whether the main thread is creating one.
bool defer_interruption(int signal_number, void (*handle)(int));
bool main_thread_creating();

// What a writer thread left of a picture it wrote, for the main thread to put in place in order:
// the file under its name, or beside it under the replacement name (NAME.part) of a file that
// existed.
enum class file_left : std::uint8_t { nothing, named, beside };

// The files written ahead of their turn on writer threads are removed on an interruption too, by
// `remove_written_ahead` (async-signal-safe), which calls `remove` on each; null for none.
using removal = void (*)(const char* path);
void note_written_ahead(void (*remove_written_ahead)(removal remove));

// Whether the console's last text left its line open (the countdown ends in a carriage return),
// so that an interruption ends that line on a terminal before it says why the run ended.
// Lock-free, for the interruption handler to read.
void note_console_line_open(bool open);
bool console_line_open();

// Calls `remove` on every path being written. Async-signal-safe when `remove` is. Runs on the
// main thread or on a thread of its own, never on a writer thread.
void remove_files_being_written(removal remove);
