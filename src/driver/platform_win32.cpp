// Windows: the standard open-file dialog, the platform's own file search (which ignores
// letter case) and the path of the running module. Paths are ANSI code page bytes.
#include <windows.h>

#include <commdlg.h>

#include <string>

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
  CreateDirectoryA(folder.c_str(), nullptr);
  return is_folder(folder);
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

bool copy_whole_file(const std::string& from, const std::string& to) {
  return CopyFileA(from.c_str(), to.c_str(), FALSE) != 0;
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

std::string paired_file_name(const std::string& path) {
  // Opening a file ignores letter case here, so the archive's name needs no search.
  return path;
}
