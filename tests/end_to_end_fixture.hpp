// The end-to-end fixture: runs the built program, copied into a scratch folder because
// bitmaps land beside it.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "sample_writer.hpp"
#include "test_support.hpp"

namespace fs = std::filesystem;

struct tool_run {
  int status;
  std::string output;
};

inline std::string read_text(const fs::path& path) {
  const byte_vector bytes = read_whole_file(path);
  return std::string(bytes.begin(), bytes.end());
}

inline int shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class EndToEnd : public ::testing::Test {
protected:
  scratch_folder folder;
  fs::path bin = folder.path / "bin";
  fs::path data = folder.path / "data";

  void SetUp() override {
    fs::create_directories(bin);
    fs::create_directories(data);
    fs::copy_file(OFB2BMP_EXE, bin / "ofb2bmp");
  }

  // Runs `bin/ofb2bmp arguments` from the scratch folder; `arguments` and `before` are shell
  // text. Standard output goes through a pipe, so limits set in `before` never touch it.
  tool_run run(const std::string& arguments, const std::string& before = "") {
    shell("cd '" + folder.path.string() + "' && (" + before + " bin/ofb2bmp " + arguments +
          " 2>stderr </dev/null; echo $? >status) | cat >stdout");
    return {std::stoi(read_text(folder.path / "status")), read_text(folder.path / "stdout")};
  }

  std::string bitmap(const std::string& name) { return (bin / name).string(); }
  std::size_t bitmap_count() {
    std::size_t count = 0;
    for (const auto& entry : fs::directory_iterator(bin)) {
      count += entry.is_regular_file() && entry.path().extension() == ".BMP";
    }
    return count;
  }
};
