// POSIX: '/' separates folders, names are matched ignoring ASCII letter case as the Windows
// search does, and the open-file dialog becomes a prompt on the terminal.
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <strings.h>

#include "common/files_in_progress.hpp"
#include "common/texts.hpp"
#include "driver/platform.hpp"

namespace {

// '*' and '?' are wildcards; every other byte, '[' and '\' included, matches itself.
std::string literal_fnmatch_pattern(const std::string& pattern) {
  std::string escaped;
  for (const char c : pattern) {
    if (c != '*' && c != '?') {
      escaped += '\\';
    }
    escaped += c;
  }
  return escaped;
}

char ascii_lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equal_ignoring_case(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return ascii_lower(x) == ascii_lower(y);
         });
}

// Name order ignoring case, then bytewise, so runs are reproducible.
bool comes_before(const folder_entry& a, const folder_entry& b) {
  const auto lower_less = [](char x, char y) {
    return static_cast<unsigned char>(ascii_lower(x)) < static_cast<unsigned char>(ascii_lower(y));
  };
  if (std::lexicographical_compare(a.name.begin(), a.name.end(), b.name.begin(), b.name.end(),
                                   lower_less)) {
    return true;
  }
  if (std::lexicographical_compare(b.name.begin(), b.name.end(), a.name.begin(), a.name.end(),
                                   lower_less)) {
    return false;
  }
  return a.name < b.name;
}

bool is_folder(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// All entries of a folder ("" for the current one), "." and ".." left out, in name order.
std::vector<folder_entry> list_folder(const std::string& folder) {
  std::vector<folder_entry> entries;
  DIR* directory = opendir(folder.empty() ? "." : folder.c_str());
  if (directory == nullptr) {
    return entries;
  }
  while (const dirent* found = readdir(directory)) {
    const std::string name = found->d_name;
    if (name != "." && name != "..") {
      entries.push_back({name, false});
    }
  }
  closedir(directory);
  std::sort(entries.begin(), entries.end(), comes_before);
  return entries;
}

// Removes a file from the interruption handler: unlink is async-signal-safe.
void unlink_file(const char* path) {
  unlink(path);
}

// Told once, as the handlers are set: isatty is not safe in a handler.
volatile sig_atomic_t console_is_terminal = 0;

// Ends the countdown's line on a terminal, and says why the run ended. write(2) only.
void say_interrupted() {
  if (console_is_terminal != 0 && console_line_open() && write(STDOUT_FILENO, "\n", 1) < 0) {
    // Nothing more can be done about a console that takes nothing.
  }
  if (write(STDERR_FILENO, interrupted_text, sizeof interrupted_text - 1) < 0) {
  }
}

extern "C" void on_interruption(int signal_number) {
  if (defer_interruption(signal_number, on_interruption)) {
    return; // the main thread is creating a file: once it has, it calls this again
  }
  remove_files_being_written(unlink_file);
  say_interrupted();
  // SA_RESETHAND has restored the default action, and SA_NODEFER lets it act at once.
  raise(signal_number);
}

} // namespace

void reserve_standard_streams() {
  for (int stream = STDIN_FILENO; stream <= STDERR_FILENO; ++stream) {
    if (fcntl(stream, F_GETFD) == -1) {
      // Opened for reading only, so writing to a closed console still fails.
      open("/dev/null", O_RDONLY);
    }
  }
}

const path_syntax& native_path_syntax() {
  return posix_path_syntax;
}

std::string program_file_path() {
  std::string path(256, '\0');
  for (;;) {
    const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
    if (length < 0) {
      return {};
    }
    if (static_cast<std::size_t>(length) < path.size()) {
      path.resize(static_cast<std::size_t>(length));
      return path;
    }
    path.resize(path.size() * 2);
  }
}

std::vector<std::string> input_names(const std::vector<std::string>& names) {
  // The shell has expanded wildcards already, so every name is an input.
  return names;
}

bool create_output_folder(const std::string& folder) {
  std::error_code failure;
  std::filesystem::create_directories(folder, failure);
  if (is_folder(folder)) {
    return true;
  }
  // What stands in the way, for the message: a file of that name, or the system's reason.
  errno = failure ? failure.value() : ENOTDIR;
  return false;
}

bool standard_error_is_terminal() {
  return isatty(STDERR_FILENO) != 0;
}

std::string absolute_path(const std::string& path) {
  if (!path.empty() && path.front() == '/') {
    return path;
  }
  std::string folder(256, '\0');
  while (getcwd(folder.data(), folder.size()) == nullptr) {
    if (errno != ERANGE) {
      return path;
    }
    folder.resize(folder.size() * 2);
  }
  folder.resize(std::strlen(folder.c_str()));
  return folder + (folder.back() == '/' ? "" : "/") + path;
}

bool folder_exists(const std::string& path) {
  return is_folder(path);
}

bool same_file(const std::string& a, const std::string& b) {
  struct stat first {};
  struct stat second {};
  return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool refused_by_folder(int error_code) {
  switch (error_code) {
  case EACCES:
  case EPERM:
  case EROFS:
  case ENOSPC:
  case EDQUOT:
  case ENOENT:
  case ENOTDIR:
    return true;
  default:
    return false;
  }
}

bool copy_whole_file(const std::string& from, const std::string& to) {
  std::error_code failure;
  return std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing,
                                    failure);
}

bool replace_file(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

void reuse_freed_memory() {
#ifdef __GLIBC__
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 64 << 20);
#endif
}

bool ask_for_input_path(std::string& chosen) {
  if (!isatty(STDIN_FILENO)) {
    return false;
  }
  std::fprintf(stderr, "Name an index file (NAME.OFB of 136, 1,176 or 3,048 bytes); wildcards "
                       "select several.\n");
  for (;;) {
    std::fprintf(stderr, "File name: ");
    std::fflush(stderr);
    std::string line;
    if (!std::getline(std::cin, line) || line.empty()) {
      return false;
    }
    const std::string folder = folder_prefix(line, posix_path_syntax);
    if (folder.empty() || is_folder(folder)) {
      chosen = line;
      return true;
    }
    std::fprintf(stderr, "No such folder: %s\n", folder.c_str());
  }
}

bool name_matches(const std::string& pattern, const std::string& name) {
  // One pattern is matched against many names in a row: it is escaped once.
  thread_local std::string last_pattern;
  thread_local std::string escaped;
  if (escaped.empty() || pattern != last_pattern) {
    last_pattern = pattern;
    escaped = literal_fnmatch_pattern(pattern);
  }
  return fnmatch(escaped.c_str(), name.c_str(), FNM_CASEFOLD) == 0;
}

std::vector<folder_entry> find_matching_entries(const std::string& pattern) {
  const std::string folder = folder_prefix(pattern, posix_path_syntax);
  const std::string name_pattern = literal_fnmatch_pattern(pattern.substr(folder.size()));
  std::vector<folder_entry> matches;
  for (folder_entry& entry : list_folder(folder)) {
    if (fnmatch(name_pattern.c_str(), entry.name.c_str(), FNM_CASEFOLD) == 0) {
      entry.is_folder = is_folder(folder + entry.name);
      matches.push_back(entry);
    }
  }
  return matches;
}

std::string name_in_utf8(const std::string& name) {
  // Names are bytes here; the page shows those that are not UTF-8 escaped.
  return name;
}

std::string paired_file_name(const std::string& path) {
  if (access(path.c_str(), F_OK) == 0) {
    return path;
  }
  const std::string folder = folder_prefix(path, posix_path_syntax);
  const std::string name = path.substr(folder.size());
  for (const folder_entry& entry : list_folder(folder)) {
    if (equal_ignoring_case(entry.name, name)) {
      return folder + entry.name;
    }
  }
  return path;
}

int last_error_code() {
  return errno;
}

std::string error_text(int code) {
  return std::strerror(code);
}

bool file_exists(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 && !S_ISDIR(status.st_mode);
}

bool seek_file(std::FILE* stream, std::uint64_t offset) {
  return offset <= static_cast<std::uint64_t>(INT64_MAX) &&
         fseeko(stream, static_cast<off_t>(offset), SEEK_SET) == 0;
}

std::size_t read_file_at(std::FILE* stream, std::uint64_t offset, std::uint8_t* into,
                         std::size_t size) {
  const int descriptor = fileno(stream);
  if (descriptor < 0) { // a stream in memory
    return seek_file(stream, offset) ? std::fread(into, 1, size, stream) : 0;
  }
  std::size_t read = 0;
  while (read < size && offset + read <= static_cast<std::uint64_t>(INT64_MAX)) {
    const ssize_t got =
        pread(descriptor, into + read, size - read, static_cast<off_t>(offset + read));
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      break;
    }
    read += static_cast<std::size_t>(got);
  }
  return read;
}

std::int64_t file_size(std::FILE* stream) {
  return fseeko(stream, 0, SEEK_END) == 0 ? static_cast<std::int64_t>(ftello(stream)) : -1;
}

std::FILE* open_file(const std::string& path, const char* mode) {
  return std::fopen(path.c_str(), mode);
}

raw_file create_raw_file(const std::string& path, new_file_rule rule) {
  const int how = rule == new_file_rule::only_new ? O_EXCL : O_TRUNC;
  return open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | how, 0666);
}

bool name_taken(int error_code) {
  return error_code == EEXIST;
}

std::FILE* stream_over(raw_file file) {
  std::FILE* stream = fdopen(static_cast<int>(file), "wb");
  if (stream == nullptr) {
    close(static_cast<int>(file));
  }
  return stream;
}

bool replaceable_file(const std::string& path) {
  struct stat status {};
  return lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) && status.st_nlink == 1 &&
         access(path.c_str(), W_OK) == 0;
}

void start_without_interruptions(const std::function<void()>& start) {
  sigset_t interruptions;
  sigemptyset(&interruptions);
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    sigaddset(&interruptions, signal_number);
  }
  sigset_t previous;
  pthread_sigmask(SIG_BLOCK, &interruptions, &previous);
  try {
    start();
  } catch (...) {
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    throw;
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

void remove_files_on_interruption() {
  console_is_terminal = isatty(STDOUT_FILENO) ? 1 : 0;
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction previous {};
    // A signal ignored from the start (nohup) stays ignored; where the handler cannot be set,
    // the default action remains and only the cleanup is lost.
    if (sigaction(signal_number, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) {
      continue;
    }
    struct sigaction action {};
    action.sa_handler = on_interruption;
    action.sa_flags = SA_RESETHAND | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    // The others wait until this one has cleaned up and ended the run.
    for (const int other : {SIGINT, SIGTERM, SIGHUP}) {
      if (other != signal_number) {
        sigaddset(&action.sa_mask, other);
      }
    }
    sigaction(signal_number, &action, nullptr);
  }
}
