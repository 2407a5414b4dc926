// fuzz_replay FOLDER...: runs every file in FOLDER/<target>/ through that fuzz target, with
// its checks, without libFuzzer. ctest replays the seeds and the committed regressions, which
// are kept as one line of hexadecimal digits each (NAME.hex).
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "fuzz_support.hpp"
#include "targets.hpp"
#include "test_support.hpp"

int main(int argc, char** argv) {
  const std::map<std::string, fuzz_target> targets = {{"extract_pair", fuzz_extract_pair},
                                                      {"expand_runs", fuzz_expand_runs},
                                                      {"paths", fuzz_paths},
                                                      {"picture_reader", fuzz_picture_reader},
                                                      {"insert_pair", fuzz_insert_pair},
                                                      {"cue_sheet", fuzz_cue_sheet},
                                                      {"iso9660", fuzz_iso9660}};
  std::size_t inputs = 0;
  for (int i = 1; i < argc; ++i) {
    for (const auto& [name, target] : targets) {
      const fs::path folder = fs::path(argv[i]) / name;
      if (!fs::is_directory(folder)) {
        continue;
      }
      for (const auto& entry : fs::directory_iterator(folder)) {
        replayed_input = entry.path().string();
        byte_vector bytes = read_whole_file(entry.path());
        if (entry.path().extension() == ".hex") {
          const std::string digits(bytes.begin(), bytes.end());
          bytes.clear();
          for (std::size_t at = 0; at + 1 < digits.size(); at += 2) {
            bytes.push_back(
                static_cast<std::uint8_t>(std::stoi(digits.substr(at, 2), nullptr, 16)));
          }
        }
        target(bytes.data(), bytes.size());
        ++inputs;
      }
    }
  }
  std::printf("%zu inputs replayed\n", inputs);
  return inputs == 0 ? 1 : 0;
}
