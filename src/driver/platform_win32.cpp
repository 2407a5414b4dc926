// Windows: the standard open-file dialog, the platform's own file search (which ignores
// letter case) and the path of the running module. Paths are ANSI code page bytes.
#include <windows.h>

#include <commdlg.h>
#include <fcntl.h>
#include <io.h>
#include <shlwapi.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "common/files_in_progress.hpp"
#include "common/texts.hpp"
#include "driver/platform.hpp"

namespace {

bool ansi_lead_byte(unsigned char byte) {
  return IsDBCSLeadByte(byte) != 0;
}

const path_syntax windows_path_syntax{"\\/:", ansi_lead_byte};

constexpr DWORD dialog_buffer_size = 256;

bool is_folder(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

} // namespace

void reserve_standard_streams() {
  // The C run-time gives every program its three standard streams.
}

const path_syntax& native_path_syntax() {
  return windows_path_syntax;
}

std::string program_file_path() {
  // A return value equal to the buffer size means the path was cut short: try a larger buffer.
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) {
      return {};
    }
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

std::vector<std::string> input_names(const std::vector<std::string>& names) {
  // Only the first name is the input; wildcards in it reach the file search unexpanded.
  if (names.empty()) {
    return {};
  }
  return {names.front()};
}

bool create_output_folder(const std::string& folder) {
  // Each parent in turn, then the folder itself; the second byte of a double-byte character is
  // never taken for a separator. Parents that exist or cannot be made (a drive) are passed by.
  for (std::size_t i = 0; i < folder.size(); ++i) {
    const auto byte = static_cast<unsigned char>(folder[i]);
    if (ansi_lead_byte(byte)) {
      ++i;
    } else if ((byte == '\\' || byte == '/') && i > 0) {
      CreateDirectoryA(folder.substr(0, i).c_str(), nullptr);
    }
  }
  const bool made = CreateDirectoryA(folder.c_str(), nullptr) != 0;
  const DWORD failure = GetLastError();
  if (is_folder(folder)) {
    return true;
  }
  SetLastError(made ? ERROR_DIRECTORY : failure);
  return false;
}

bool standard_error_is_terminal() {
  return _isatty(_fileno(stderr)) != 0;
}

std::string absolute_path(const std::string& path) {
  // The system's own rules: drives, both separators and double-byte characters.
  const DWORD size = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
  if (size == 0) {
    return path;
  }
  std::string full(size, '\0');
  const DWORD length = GetFullPathNameA(path.c_str(), size, full.data(), nullptr);
  if (length == 0 || length >= size) {
    return path;
  }
  full.resize(length);
  return full;
}

bool folder_exists(const std::string& path) {
  return is_folder(path);
}

namespace {

bool file_identity(const std::string& path, BY_HANDLE_FILE_INFORMATION& identity) {
  const HANDLE file =
      CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return false;
  }
  const bool known = GetFileInformationByHandle(file, &identity) != 0;
  CloseHandle(file);
  return known;
}

} // namespace

bool same_file(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION first{};
  BY_HANDLE_FILE_INFORMATION second{};
  return file_identity(a, first) && file_identity(b, second) &&
         first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
         first.nFileIndexHigh == second.nFileIndexHigh &&
         first.nFileIndexLow == second.nFileIndexLow;
}

bool refused_by_folder(int error_code) {
  switch (static_cast<DWORD>(error_code)) {
  case ERROR_ACCESS_DENIED:
  case ERROR_WRITE_PROTECT:
  case ERROR_DISK_FULL:
  case ERROR_HANDLE_DISK_FULL:
  case ERROR_PATH_NOT_FOUND:
  case ERROR_FILE_NOT_FOUND:
    return true;
  default:
    return false;
  }
}

bool copy_whole_file(const std::string& from, const std::string& to) {
  // Copied here rather than by the system, whose copy an interruption could not remove.
  const HANDLE source = CreateFileA(from.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (source == INVALID_HANDLE_VALUE) {
    return false;
  }
  const HANDLE target = CreateFileA(to.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                    nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  bool copied = target != INVALID_HANDLE_VALUE;
  std::vector<char> chunk(1 << 20);
  for (DWORD got = 0; copied;) {
    DWORD put = 0;
    copied = ReadFile(source, chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr) != 0;
    if (!copied || got == 0) {
      break;
    }
    copied = WriteFile(target, chunk.data(), got, &put, nullptr) != 0 && put == got;
  }
  const DWORD failure = GetLastError();
  CloseHandle(source);
  if (target != INVALID_HANDLE_VALUE) {
    copied = CloseHandle(target) != 0 && copied;
  }
  SetLastError(copied ? ERROR_SUCCESS : failure);
  return copied;
}

bool replace_file(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

void reuse_freed_memory() {
  // The process heap keeps blocks of picture size for reuse already.
}

bool ask_for_input_path(std::string& chosen) {
  // Description, terminator, pattern, terminator; c_str() adds the list's extra terminator.
  std::string filter = filter_description;
  filter += '\0';
  filter += filter_pattern;
  filter += '\0';
  char file[dialog_buffer_size] = {};

  OPENFILENAMEA dialog{};
  // The NT4-style size of this build's record: 76 bytes is right for 32-bit programs only.
  dialog.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
  dialog.hwndOwner = nullptr;
  dialog.lpstrFilter = filter.c_str();
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = file;
  dialog.nMaxFile = dialog_buffer_size;
  dialog.Flags = OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
  if (GetOpenFileNameA(&dialog) == 0) {
    return false;
  }
  chosen = file;
  return true;
}

bool name_matches(const std::string& pattern, const std::string& name) {
  // The system's own matching, which knows the double-byte characters of the code page.
  return PathMatchSpecA(name.c_str(), pattern.c_str()) != FALSE;
}

std::vector<folder_entry> find_matching_entries(const std::string& pattern) {
  std::vector<folder_entry> matches;
  WIN32_FIND_DATAA found{};
  const HANDLE search = FindFirstFileA(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    return matches;
  }
  do {
    matches.push_back({found.cFileName, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
  } while (FindNextFileA(search, &found) != 0);
  FindClose(search);
  return matches;
}

std::string name_in_utf8(const std::string& name) {
  const int size = static_cast<int>(name.size());
  const int wide_size = MultiByteToWideChar(CP_ACP, 0, name.data(), size, nullptr, 0);
  if (wide_size <= 0) {
    return name;
  }
  std::wstring wide(static_cast<std::size_t>(wide_size), L'\0');
  MultiByteToWideChar(CP_ACP, 0, name.data(), size, wide.data(), wide_size);
  const int utf8_size =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_size, nullptr, 0, nullptr, nullptr);
  if (utf8_size <= 0) {
    return name;
  }
  std::string utf8(static_cast<std::size_t>(utf8_size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_size, utf8.data(), utf8_size, nullptr, nullptr);
  return utf8;
}

std::string paired_file_name(const std::string& path) {
  // Opening a file ignores letter case here, so the archive's name needs no search.
  return path;
}

int last_error_code() {
  // A short write that the C library reports by errno alone leaves no system error: then the
  // C library's code, negative.
  const DWORD code = GetLastError();
  return code != 0 ? static_cast<int>(code) : -errno;
}

std::string error_text(int code) {
  if (code < 0) {
    return std::strerror(-code);
  }
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&text), 0, nullptr);
  if (length == 0 || text == nullptr) {
    return "error " + std::to_string(static_cast<DWORD>(code));
  }
  std::string message(text, length);
  LocalFree(text);
  // The system's text ends with a line break.
  while (!message.empty() &&
         (message.back() == '\n' || message.back() == '\r' || message.back() == ' ')) {
    message.pop_back();
  }
  return message;
}

bool file_exists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool seek_file(std::FILE* stream, std::uint64_t offset) {
  return offset <= static_cast<std::uint64_t>(INT64_MAX) &&
         _fseeki64(stream, static_cast<long long>(offset), SEEK_SET) == 0;
}

std::size_t read_file_at(std::FILE* stream, std::uint64_t offset, std::uint8_t* into,
                         std::size_t size) {
  return seek_file(stream, offset) ? std::fread(into, 1, size, stream) : 0;
}

std::int64_t file_size(std::FILE* stream) {
  return _fseeki64(stream, 0, SEEK_END) == 0 ? _ftelli64(stream) : -1;
}

std::FILE* open_file(const std::string& path, const char* mode) {
  // Shared for deletion, so that the console handler can remove it while it is open.
  const bool reading = mode[0] == 'r';
  const bool writing = !reading || mode[1] == '+';
  const HANDLE file =
      CreateFileA(path.c_str(), GENERIC_READ | (writing ? GENERIC_WRITE : 0),
                  FILE_SHARE_READ | FILE_SHARE_DELETE | (writing ? 0 : FILE_SHARE_WRITE), nullptr,
                  reading ? OPEN_EXISTING : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return nullptr;
  }
  const int descriptor =
      _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_BINARY | (writing ? 0 : _O_RDONLY));
  if (descriptor == -1) {
    CloseHandle(file);
    return nullptr;
  }
  std::FILE* stream = _fdopen(descriptor, mode);
  if (stream == nullptr) {
    _close(descriptor);
  }
  return stream;
}

raw_file create_raw_file(const std::string& path, new_file_rule rule) {
  // Shared for deletion, so that the console handler can remove it while it is open.
  const HANDLE file = CreateFileA(
      path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
      rule == new_file_rule::only_new ? CREATE_NEW : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  return file == INVALID_HANDLE_VALUE ? no_raw_file : reinterpret_cast<raw_file>(file);
}

bool name_taken(int error_code) {
  return error_code == ERROR_FILE_EXISTS;
}

std::FILE* stream_over(raw_file file) {
  const int descriptor = _open_osfhandle(file, _O_BINARY);
  if (descriptor == -1) {
    CloseHandle(reinterpret_cast<HANDLE>(file));
    return nullptr;
  }
  std::FILE* stream = _fdopen(descriptor, "wb");
  if (stream == nullptr) {
    _close(descriptor);
  }
  return stream;
}

bool replaceable_file(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA found{};
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &found)) {
    return false;
  }
  constexpr DWORD not_plain =
      FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_REPARSE_POINT;
  if ((found.dwFileAttributes & not_plain) != 0) {
    return false;
  }
  // A file of several names (hard links) keeps being one file, written through.
  const HANDLE file =
      CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  BY_HANDLE_FILE_INFORMATION information{};
  const bool one_name = file != INVALID_HANDLE_VALUE &&
                        GetFileInformationByHandle(file, &information) &&
                        information.nNumberOfLinks == 1;
  if (file != INVALID_HANDLE_VALUE) {
    CloseHandle(file);
  }
  return one_name;
}

namespace {

HANDLE main_thread = nullptr;
std::atomic_flag interrupted = ATOMIC_FLAG_INIT;
bool console_is_terminal = false; // told as the handler is set

void write_bytes(DWORD stream, const char* bytes, DWORD size) {
  DWORD written = 0;
  WriteFile(GetStdHandle(stream), bytes, size, &written, nullptr);
}

// Ends the countdown's line on a console, and says why the run ended, in the console's own
// line ends.
void say_interrupted() {
  if (console_is_terminal && console_line_open()) {
    write_bytes(STD_OUTPUT_HANDLE, "\r\n", 2);
  }
  write_bytes(STD_ERROR_HANDLE, interrupted_text, sizeof interrupted_text - 2);
  write_bytes(STD_ERROR_HANDLE, "\r\n", 2);
}

void delete_file(const char* path) {
  DeleteFileA(path);
}

// Runs on a thread of its own: the main thread is stopped first, so that it neither finishes
// nor starts a file while the files being written are removed.
BOOL WINAPI on_console_event(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
    return FALSE;
  }
  if (interrupted.test_and_set()) {
    Sleep(INFINITE); // the first event ends the process
  }
  if (SuspendThread(main_thread) != static_cast<DWORD>(-1)) {
    CONTEXT context{};
    context.ContextFlags = CONTEXT_CONTROL;
    GetThreadContext(main_thread, &context); // returns once the thread has stopped
    // Stopped while creating a file, it is let on until it has: only system calls lie there.
    while (main_thread_creating()) {
      ResumeThread(main_thread);
      Sleep(1);
      SuspendThread(main_thread);
      GetThreadContext(main_thread, &context);
    }
  }
  remove_files_being_written(delete_file);
  say_interrupted();
  // What a console program's default handler ends it with, without running its exit code
  // (which could wait for a lock the stopped thread holds).
  TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
  return TRUE;
}

} // namespace

void start_without_interruptions(const std::function<void()>& start) {
  start();
}

void remove_files_on_interruption() {
  console_is_terminal = GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) == FILE_TYPE_CHAR;
  // Where either call fails, the default handling remains and only the cleanup is lost.
  if (DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &main_thread,
                      THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT, FALSE, 0) != 0) {
    SetConsoleCtrlHandler(on_console_event, TRUE);
  }
}
