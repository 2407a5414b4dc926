// sample_writer <folder> [--large] [--noise]: writes one index/archive pair of each kind into
// folder; --large at full entry counts and benchmark sizes, --noise with noise-like
// direct-colour frames instead of gradients.
#include "sample_writer.hpp"

#include <exception>
#include <filesystem>
#include <iostream>
#include <string>
#include <string_view>

namespace {

void write_and_report(const std::filesystem::path& folder, const std::string& name,
                      const archive_pair& pair) {
  write_pair(folder, name, pair);
  std::cout << "wrote " << (folder / name).string() << ".OFB/.BIN (" << pair.index.size() / 8
            << " records)\n";
}

} // namespace

int main(int argc, char** argv) {
  bool large = false;
  bool noise = false;
  for (int i = 2; i < argc; ++i) {
    large = large || std::string_view(argv[i]) == "--large";
    noise = noise || std::string_view(argv[i]) == "--noise";
  }
  if (argc < 2 || argc > 2 + large + noise) {
    std::cerr << "usage: sample_writer <folder> [--large] [--noise]\n";
    return 1;
  }
  const std::filesystem::path folder = argv[1];
  try {
    std::filesystem::create_directories(folder);
    write_and_report(folder, "PICS",
                     large ? direct_sample(256, 224, noise) : direct_sample(64, 48, noise));
    write_and_report(folder, "BFIL",
                     large ? frame_bank_sample(40, 64, 128) : frame_bank_sample(3, 16, 48));
    write_and_report(folder, "GFIL", large ? screen_bank_sample(12) : screen_bank_sample(1));
  } catch (const std::exception& error) {
    std::cerr << "sample_writer: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
