// The files an interruption must not leave behind: the picture being written and the two
// .part files of a new pair. Each path is copied into a fixed buffer before its file is
// created, and a flag publishes it only once it is whole, so the interruption handler (see
// driver/platform.hpp) can remove the files without allocating or taking a lock.
#pragma once

#include <string>

enum class file_slot { picture, new_index, new_archive };
inline constexpr int file_slot_count = 3;

// From now until end_writing, `path` is removed on an interruption. A path longer than the
// buffer is not kept: the system refuses to create such a file anyway.
void begin_writing(file_slot slot, const std::string& path);
void end_writing(file_slot slot);

// Calls `remove` on every path being written. Async-signal-safe when `remove` is.
void remove_files_being_written(void (*remove)(const char* path));
