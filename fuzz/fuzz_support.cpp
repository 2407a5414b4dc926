#include "fuzz_support.hpp"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

std::string replayed_input;

namespace {

std::string scratch_folder_path() {
  static const std::string folder = [] {
    const char* base = std::getenv("OFB2BMP_FUZZ_SCRATCH");
    const std::string path = std::string(base != nullptr ? base : "/dev/shm") + "/ofb2bmp-fuzz-" +
                             std::to_string(getpid());
    require(mkdir(path.c_str(), 0755) == 0, "cannot create the scratch folder " + path);
    return path + "/";
  }();
  return folder;
}

} // namespace

void require(bool holds, const std::string& what) {
  if (!holds) {
    std::fprintf(stderr, "fuzz check failed: %s%s%s\n", what.c_str(),
                 replayed_input.empty() ? "" : " in ", replayed_input.c_str());
    std::abort();
  }
}

fuzz_state::fuzz_state() {
  require(allocate_working_buffers(state), "out of memory");
  state.output_folder = scratch_folder_path();
  state.quiet = true;
  state.console = open_memstream(&console_bytes, &console_size);
  require(state.console != nullptr, "no console stream");
}

fuzz_state::~fuzz_state() {
  rmdir(state.output_folder.c_str());
  std::fclose(state.console);
  std::free(console_bytes);
}

void fuzz_state::start_input(std::uint8_t format_choice) {
  std::fclose(state.console);
  std::free(console_bytes);
  console_bytes = nullptr;
  state.console = open_memstream(&console_bytes, &console_size);
  require(state.console != nullptr, "no console stream");
  state.incomplete = false;
  state.format = format_choice % 2 == 0 ? output_format::bmp : output_format::png;
}

std::string fuzz_state::console_text() {
  std::fflush(state.console);
  return std::string(console_bytes, console_size);
}

std::set<std::string> fuzz_state::take_pictures() {
  std::set<std::string> names;
  DIR* folder = opendir(state.output_folder.c_str());
  require(folder != nullptr, "scratch folder is gone");
  while (const dirent* entry = readdir(folder)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") {
      const std::string path = state.output_folder + name;
      require(well_formed_picture_file(path), name + " is not well formed");
      std::remove(path.c_str());
      names.insert(name);
    }
  }
  closedir(folder);
  return names;
}
