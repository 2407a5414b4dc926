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

// An output file is made in two steps: the system creates it (no call into the C library, which
// may take a lock or allocate, so an interruption may wait for a writer thread to get past it),
// then a stream is put over it.
enum class new_file_rule {
  only_new, // fails, with name_taken, when the name exists
  replace,  // empties a file of that name, or writes through what the name leads to
};
using raw_file = std::intptr_t; // a descriptor, or on Windows a handle
inline constexpr raw_file no_raw_file = -1;
raw_file create_raw_file(const std::string& path, new_file_rule rule);
// Whether the system's code says create_raw_file found the name taken.
bool name_taken(int error_code);
// A stream for writing over the file, which it takes: closed when no stream can be had.
std::FILE* stream_over(raw_file file);

// Whether `path` is a file a new one may take the place of by renaming: a plain file that can be
// written, with no other name (hard link), not a symbolic link. Anything else is written through.
bool replaceable_file(const std::string& path);
// Gives the file `from` the name `to`, replacing a file of that name.
bool replace_file(const std::string& from, const std::string& to);

// Calls `start`, which starts threads (writers, insertion's readers and check), with
// interruptions kept off this thread meanwhile: the threads start with them off and keep them
// so from their first instruction. Interruptions are thus handled on the main thread only:
// their cleanup waits for writer threads, and the main thread, which creates every other file,
// cannot create one while it runs. One that came meanwhile is handled once `start` returns.
// Nothing to do on Windows, where a thread of its own handles them.
void start_without_interruptions(const std::function<void()>& start);
