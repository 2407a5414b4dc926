#include "fuzz_support.hpp"

#include <cstdio>
#include <cstdlib>

#include "damage_oracle.hpp"

std::string replayed_input;

fs::path empty_scratch_folder() {
  const char* chosen = std::getenv("OFB2BMP_FUZZ_SCRATCH");
  static const scratch_folder folder(chosen != nullptr ? fs::path(chosen) : fast_storage());
  for (const auto& entry : fs::directory_iterator(folder.path)) {
    fs::remove_all(entry.path());
  }
  return folder.path;
}

std::map<std::string, picture_pixels> take_pictures(const fs::path& folder) {
  std::map<std::string, picture_pixels> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    require(well_formed_picture_file(entry.path().string()), name + " is not well formed");
    std::string why;
    read_picture_file(entry.path().string(), pixel_buffer_size, names[name], why);
    fs::remove(entry.path());
  }
  return names;
}

void require(bool holds, const std::string& what) {
  if (!holds) {
    std::fprintf(stderr, "fuzz check failed: %s%s%s\n", what.c_str(),
                 replayed_input.empty() ? "" : " in ", replayed_input.c_str());
    std::abort();
  }
}
