// Runs the built program on inputs of a test's own: the Linux build, or ofb2bmp.exe under Wine
// (named by OFB2BMP_WINDOWS_EXE; Wine's prefix and server come from .ci/windows.sh). Each
// runner has a tree of its own: bin/ holds the program (pictures land beside it), data/ the
// inputs, and the program runs from the tree's root.
#pragma once

#include <map>
#include <string>

#include "test_support.hpp"

enum class runner { native, wine };

struct tool_run {
  int status;
  std::string output; // standard output
  std::string errors; // standard error
};

struct tool_trees {
  scratch_folder folder{fast_storage()};

  fs::path tree(runner who) const;
  // Makes the tree with the program in bin/ and an empty data/.
  void prepare(runner who) const;
  // Runs `before program arguments` (shell text) from the tree's root with no input; standard
  // output goes through a pipe, so limits set in `before` never touch it.
  tool_run run(runner who, const std::string& arguments, const std::string& before = "") const;
  // What the program prints where the Linux build printed `text`: "{bin}" stands for the
  // program folder, '/' in the paths given becomes `separator`, and "\n" the line end.
  std::string expected_text(runner who, std::string text, char separator) const;
  // Every picture file (.BMP, .PNG) and every new pair's file (.OFB, .BIN) in `folder` of the
  // tree, by name.
  std::map<std::string, byte_vector> pictures(runner who, const std::string& folder = "bin") const;
};

// The exe to run under Wine, or null where none is named.
const char* windows_exe();

void replace_all(std::string& text, const std::string& from, const std::string& to);
