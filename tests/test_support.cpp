#include "test_support.hpp"

#include <fstream>
#include <iterator>
#include <random>

scratch_folder::scratch_folder(const std::filesystem::path& base) {
  std::random_device seed;
  do {
    path = base / ("ofb2bmp-test-" + std::to_string(seed()));
  } while (!std::filesystem::create_directory(path));
}

scratch_folder::~scratch_folder() {
  std::error_code ignored;
  std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path, ignored);
}

byte_vector read_whole_file(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return byte_vector(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::uint32_t le32(const byte_vector& bytes, std::size_t at) {
  return bytes.at(at) | bytes.at(at + 1) << 8 | bytes.at(at + 2) << 16 |
         static_cast<std::uint32_t>(bytes.at(at + 3)) << 24;
}

std::uint16_t le16(const byte_vector& bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes.at(at) | bytes.at(at + 1) << 8);
}

test_state::test_state(const std::filesystem::path& folder) {
  allocate_working_buffers(state);
  state.program_folder = folder.string() + "/";
  state.output_folder = state.program_folder;
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
