#include "test_support.hpp"

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

scratch_folder::scratch_folder(const fs::path& base) {
  std::random_device seed;
  do {
    path = base / ("ofb2bmp-test-" + std::to_string(seed()));
  } while (!fs::create_directory(path));
}

scratch_folder::~scratch_folder() {
  std::error_code ignored;
  fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(path, ignored);
}

fs::path fast_storage() {
  return fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
}

byte_vector read_whole_file(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return byte_vector(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::string read_text(const fs::path& path) {
  const byte_vector bytes = read_whole_file(path);
  return std::string(bytes.begin(), bytes.end());
}

std::uint32_t le32(const byte_vector& bytes, std::size_t at) {
  return bytes.at(at) | bytes.at(at + 1) << 8 | bytes.at(at + 2) << 16 |
         static_cast<std::uint32_t>(bytes.at(at + 3)) << 24;
}

int shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::size_t count_of(const std::string& text, const std::string& needle) {
  std::size_t count = 0;
  for (std::size_t at = text.find(needle); at != std::string::npos;
       at = text.find(needle, at + 1)) {
    ++count;
  }
  return count;
}

std::string countdown(int from) {
  std::string text;
  for (int n = from; n >= 0; --n) {
    char step[16];
    std::snprintf(step, sizeof step, "%3d\r", n);
    text += step;
  }
  return text;
}

std::string walk_text(int from) {
  return countdown(from) + "\ncompleted.\n";
}

test_state::test_state(const fs::path& folder) {
  allocate_working_buffers(state);
  state.output_folder = folder.string() + "/";
  state.console = std::tmpfile();
}

test_state::~test_state() {
  std::fclose(state.console);
  if (state.archive_stream != nullptr) {
    std::fclose(state.archive_stream);
  }
}

std::string test_state::console_text() {
  std::fflush(state.console);
  std::rewind(state.console);
  std::string text;
  char chunk[4096];
  std::size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, state.console)) > 0) {
    text.append(chunk, got);
  }
  std::fseek(state.console, 0, SEEK_END); // more text may follow
  return text;
}
