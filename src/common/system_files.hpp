// Files as the system gives them, for every stage that writes: the reason of the last failure,
// and files opened so that an interruption can remove them while open. Each platform's layer
// (driver/platform_posix.cpp, driver/platform_win32.cpp) implements them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

// The system's code for the last failed call (errno, or the Windows error), to be taken at
// once, before another call replaces it; and the system's text for it.
int last_error_code();
std::string error_text(int code);

// Whether `path` names something other than a folder.
bool file_exists(const std::string& path);

// Moves the stream to `offset` from its start (64-bit offsets everywhere); false when it cannot.
bool seek_file(std::FILE* stream, std::uint64_t offset);
// Reads up to `size` bytes at `offset` of the stream, which is unbuffered (setvbuf _IONBF) or
// only ever read through this; returns how many were read. One system call where the system
// reads at an offset.
std::size_t read_file_at(std::FILE* stream, std::uint64_t offset, std::uint8_t* into,
                         std::size_t size);
// The size of the open file, leaving the stream at its end; -1 when it cannot be told.
std::int64_t file_size(std::FILE* stream);

// std::fopen for the modes "rb", "wb" and "r+b", except that an interruption can remove the
// file while it is open (on Windows, files are shared for deletion).
std::FILE* open_file(const std::string& path, const char* mode);

// Calls `start`, which starts threads (writers, insertion's readers and check), with
// interruptions kept off this thread meanwhile: the threads start with them off and keep them
// so from their first instruction. Interruptions are thus handled on the main thread only:
// their cleanup waits for writer threads, and the main thread, which creates every other file,
// cannot create one while it runs. One that came meanwhile is handled once `start` returns.
// Nothing to do on Windows, where a thread of its own handles them.
void start_without_interruptions(const std::function<void()>& start);
