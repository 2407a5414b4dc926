#include "tool_runs.hpp"

#include <cstdlib>

const char* windows_exe() {
  return std::getenv("OFB2BMP_WINDOWS_EXE");
}

void replace_all(std::string& text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

fs::path tool_trees::tree(runner who) const {
  return folder.path / (who == runner::native ? "native" : "windows");
}

void tool_trees::prepare(runner who) const {
  fs::create_directories(tree(who) / "bin");
  fs::create_directories(tree(who) / "data");
  if (who == runner::native) {
    fs::copy_file(OFB2BMP_EXE, tree(who) / "bin" / "ofb2bmp");
  } else {
    fs::copy_file(windows_exe(), tree(who) / "bin" / "ofb2bmp.exe");
  }
}

tool_run tool_trees::run(runner who, const std::string& arguments,
                         const std::string& before) const {
  const fs::path root = tree(who);
  // Without a display the Windows open-file dialog cannot open, which counts as a cancel.
  const std::string program =
      who == runner::native ? before + " bin/ofb2bmp"
                            : "unset DISPLAY; " + before + " WINEDEBUG=-all wine bin/ofb2bmp.exe";
  shell("cd '" + root.string() + "' && (" + program + " " + arguments +
        " 2>stderr </dev/null; echo $? >status) | cat >stdout");
  return {std::stoi(read_text(root / "status")), read_text(root / "stdout"),
          read_text(root / "stderr")};
}

std::string tool_trees::expected_text(runner who, std::string text, char separator) const {
  std::string program_folder = (tree(who) / "bin" / "").string();
  if (who == runner::wine) {
    replace_all(text, "/", std::string(1, separator));
    replace_all(text, "\n", "\r\n");
    // Wine's drive Z: is the root folder.
    program_folder = "Z:" + program_folder;
    replace_all(program_folder, "/", "\\");
  }
  replace_all(text, "{bin}", program_folder);
  return text;
}

std::map<std::string, byte_vector> tool_trees::pictures(runner who,
                                                        const std::string& folder) const {
  std::map<std::string, byte_vector> found;
  const fs::path where = tree(who) / folder;
  if (!fs::is_directory(where)) {
    return found;
  }
  for (const auto& entry : fs::directory_iterator(where)) {
    const std::string extension = entry.path().extension().string();
    if (entry.is_regular_file() && (extension == ".BMP" || extension == ".PNG" ||
                                    extension == ".OFB" || extension == ".BIN")) {
      found[entry.path().filename().string()] = read_whole_file(entry.path());
    }
  }
  return found;
}
