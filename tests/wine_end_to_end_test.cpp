// Runs ofb2bmp.exe under Wine beside the Linux build on the same inputs: the Windows program
// must print the same text (CR LF line ends, Windows path spellings) with the same status and
// write byte-identical bitmaps. The .exe comes from OFB2BMP_WINDOWS_EXE; Wine's prefix and
// server are set up by the caller (.ci/windows.sh).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <map>

#include "sample_writer.hpp"
#include "test_support.hpp"

namespace fs = std::filesystem;

namespace {

struct tool_run {
  int status;
  std::string output;
};

std::string read_text(const fs::path& path) {
  const byte_vector bytes = read_whole_file(path);
  return std::string(bytes.begin(), bytes.end());
}

void replace_all(std::string& text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

// The Windows spelling of an absolute Linux path: Wine's drive Z: is the root folder.
std::string drive_z(const fs::path& path) {
  std::string text = "Z:" + path.string();
  replace_all(text, "/", "\\");
  return text;
}

// Every bitmap of a folder by name, with its bytes.
std::map<std::string, byte_vector> bitmaps_in(const fs::path& folder) {
  std::map<std::string, byte_vector> bitmaps;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.is_regular_file() && entry.path().extension() == ".BMP") {
      bitmaps[entry.path().filename().string()] = read_whole_file(entry.path());
    }
  }
  return bitmaps;
}

class UnderWine : public ::testing::Test {
protected:
  scratch_folder folder;
  fs::path linux_bin = folder.path / "lin";
  fs::path windows_bin = folder.path / "win";
  fs::path data = folder.path / "data";

  void SetUp() override {
    const char* exe = std::getenv("OFB2BMP_WINDOWS_EXE");
    ASSERT_NE(exe, nullptr) << "OFB2BMP_WINDOWS_EXE must name the cross-built ofb2bmp.exe";
    fs::create_directories(linux_bin);
    fs::create_directories(windows_bin);
    fs::create_directories(data);
    fs::copy_file(OFB2BMP_EXE, linux_bin / "ofb2bmp");
    fs::copy_file(exe, windows_bin / "ofb2bmp.exe");
  }

  // Runs `before program arguments` (shell text) from the scratch folder with no input and
  // standard output going through a pipe, so limits set in `before` never touch it.
  tool_run run(const std::string& program, const std::string& arguments,
               const std::string& before) {
    const std::string command = "cd '" + folder.path.string() + "' && (" + before + " " + program +
                                " " + arguments +
                                " 2>stderr </dev/null; echo $? >status) | cat >stdout";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;
    return {std::stoi(read_text(folder.path / "status")), read_text(folder.path / "stdout")};
  }
  tool_run run_linux(const std::string& arguments, const std::string& before = "") {
    return run("lin/ofb2bmp", arguments, before);
  }
  tool_run run_windows(const std::string& arguments, const std::string& before = "") {
    return run("WINEDEBUG=-all wine win/ofb2bmp.exe", arguments, before);
  }

  std::string windows_program_folder() { return drive_z(windows_bin) + "\\"; }

  // What the Windows program prints where the Linux one printed `text`: its own program folder,
  // `separator` for '/' in the paths it was given, and CR LF for each "\n".
  std::string windows_text(std::string text, const std::string& separator) {
    replace_all(text, (linux_bin / "").string(), "\x01");
    replace_all(text, folder.path.string() + "/", drive_z(folder.path) + "/");
    replace_all(text, "/", separator);
    replace_all(text, "\x01", windows_program_folder());
    replace_all(text, "\n", "\r\n");
    return text;
  }

  // Runs both programs and compares status, console text and every bitmap. Returns the Linux
  // run, so callers can check it against what they expect.
  tool_run expect_same_run(const std::string& linux_arguments, const std::string& windows_arguments,
                           const std::string& separator = "\\", const std::string& before = "") {
    const tool_run linux_run = run_linux(linux_arguments, before);
    const tool_run windows_run = run_windows(windows_arguments, before);
    EXPECT_EQ(windows_run.status, linux_run.status) << windows_arguments;
    EXPECT_EQ(windows_run.output, windows_text(linux_run.output, separator)) << windows_arguments;
    const auto linux_bitmaps = bitmaps_in(linux_bin);
    const auto windows_bitmaps = bitmaps_in(windows_bin);
    EXPECT_EQ(windows_bitmaps.size(), linux_bitmaps.size()) << windows_arguments;
    EXPECT_TRUE(windows_bitmaps == linux_bitmaps) << windows_arguments << ": bitmaps differ";
    return linux_run;
  }

  void remove_bitmaps() {
    for (const fs::path& bin : {linux_bin, windows_bin}) {
      for (const auto& [name, bytes] : bitmaps_in(bin)) {
        fs::remove(bin / name);
      }
    }
  }
};

TEST_F(UnderWine, BackslashWildcardOverSeveralPairsAndAFolder) {
  write_pair(data, "PICS", direct_sample(7, 5));
  write_pair(data, "BFIL", frame_bank_sample(2, 3, 9));
  write_pair(data, "GFIL", screen_bank_sample(1));
  write_pair(data, "odd", {byte_vector(137), {}});
  fs::create_directories(data / "DIR.OFB");
  const tool_run run = expect_same_run("'data/*'", "'data\\*'");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, "data/BFIL.OFB\n" + walk_text(16) + "data/GFIL.OFB\n" + walk_text(146) +
                            "data/odd.OFB\n" + "data/PICS.OFB\n" + walk_text(380));
  EXPECT_EQ(bitmaps_in(windows_bin).size(), 34u + 147 + 381);
}

TEST_F(UnderWine, ForwardSlashesAreSeparatorsToo) {
  write_pair(data, "PICS", direct_sample(3, 2));
  fs::create_directories(data / "v1.2");
  write_pair(data / "v1.2", "A.X", frame_bank_sample(1, 2, 2));
  EXPECT_EQ(expect_same_run("data/PICS.BIN", "data/PICS.BIN", "/").output,
            "data/PICS.OFB\n" + walk_text(380));
  EXPECT_EQ(expect_same_run("'data/v1.2/A.?.bin'", "'data/v1.2/A.?.bin'", "/").status, 0);
  EXPECT_EQ(run_windows("'data\\v1.2/A.X.OFB'").output,
            "data\\v1.2/A.X.OFB\r\n" + windows_text(walk_text(16), "/"));
}

TEST_F(UnderWine, DriveLetterPaths) {
  write_pair(data, "BFIL", frame_bank_sample(1, 4, 6));
  const std::string linux_data = (data / "").string();
  const tool_run run = expect_same_run("'" + linux_data + "BFIL'", "'" + drive_z(data) + "\\BFIL'");
  EXPECT_EQ(run.output, linux_data + "BFIL.OFB\n" + walk_text(16));
}

TEST_F(UnderWine, LetterCaseIsIgnoredInSearchAndPairing) {
  const archive_pair pair = frame_bank_sample(1, 2, 2);
  write_file(data / "lower.ofb", pair.index);
  write_file(data / "lower.bin", pair.archive);
  write_file(data / "Mixed.Ofb", pair.index);
  write_file(data / "MIXED.bin", pair.archive);
  EXPECT_EQ(expect_same_run("data/LOWER", "'data\\LOWER'").output,
            "data/lower.ofb\n" + walk_text(16));
  EXPECT_EQ(expect_same_run("data/mixed.OFB", "'data\\mixed.OFB'").output,
            "data/Mixed.Ofb\n" + walk_text(16));
  EXPECT_TRUE(fs::exists(windows_bin / "Mixed010.BMP"));
}

TEST_F(UnderWine, OnlyTheFirstArgumentIsTheInput) {
  write_pair(data, "A", frame_bank_sample(1, 2, 2));
  write_pair(data, "B", frame_bank_sample(1, 2, 2));
  EXPECT_EQ(expect_same_run("data/A", "'data\\A' 'data\\B'").output,
            "data/A.OFB\n" + walk_text(16));
}

TEST_F(UnderWine, FailuresEndTheRunWithTheirMessage) {
  write_pair(data, "odd", {byte_vector(137), {}});
  fs::remove(data / "odd.BIN");
  EXPECT_EQ(expect_same_run("data/odd.OFB", "'data\\odd.OFB'").output,
            "data/odd.OFB\nfile open error![data/odd.BIN]\n");

  // Folders in the way of bitmaps: the earlier bitmaps stay, the run ends.
  write_pair(data, "PICS", direct_sample(4, 4));
  write_pair(data, "BFIL", frame_bank_sample(1, 2, 2));
  for (const fs::path& bin : {linux_bin, windows_bin}) {
    fs::create_directories(bin / "PICS02.BMP");
    fs::create_directories(bin / "BFIL000.BMP");
  }
  tool_run run = expect_same_run("data/PICS", "'data\\PICS'");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run_windows("'data\\PICS'").output,
            "data\\PICS.OFB\r\n380\r379\r378\rfile create error![" + windows_program_folder() +
                "PICS02.BMP]\r\n");
  run = expect_same_run("data/BFIL", "'data\\BFIL'");
  EXPECT_EQ(run.output, "data/BFIL.OFB\n 16\rfile create errror.[" + (linux_bin / "").string() +
                            "BFIL000.BMP]\n");

  // A damaged archive: the other bitmaps are written, the run ends with status 1.
  remove_bitmaps();
  archive_pair damaged = direct_sample(4, 4);
  damaged.archive.resize(damaged.archive.size() - 10);
  write_pair(data, "CUT", damaged);
  run = expect_same_run("data/CUT.OFB", "'data\\CUT.OFB'");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("broken frame!["), std::string::npos);
  EXPECT_EQ(bitmaps_in(windows_bin).size(), 380u);
}

TEST_F(UnderWine, FileSizeLimitRemovesTheCutBitmap) {
  write_pair(data, "A", direct_sample(4, 4));
  write_pair(data, "B", screen_bank_sample(1));
  // One block holds every 102-byte direct-colour bitmap but not a screen.
  const std::string limit = "trap '' XFSZ; ulimit -f 1;";
  EXPECT_EQ(expect_same_run("data/A", "'data\\A'", "\\", limit).status, 0);
  const tool_run run = expect_same_run("data/B", "'data\\B'", "\\", limit);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output,
            "data/B.OFB\n146\rfile write error![" + (linux_bin / "B000.BMP").string() + "]\n");
  EXPECT_EQ(bitmaps_in(windows_bin).size(), 381u);
}

TEST_F(UnderWine, QuietCasesAndHelp) {
  // Without a display the dialog cannot open, which counts as a cancel.
  tool_run run = run_windows("", "unset DISPLAY;");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, "");
  EXPECT_EQ(expect_same_run("data/NOTHING.OFB", "'data\\NOTHING.OFB'").output, "");
  const tool_run help = run_linux("--help");
  EXPECT_EQ(run_windows("'/?'").output, windows_text(help.output, "/"));
  EXPECT_EQ(run_windows("--help").output, windows_text(help.output, "/"));
}

TEST_F(UnderWine, DoubleByteNamesInTheJapaneseCodePage) {
  // U+8868 is 95 5C in Shift-JIS: its second byte is a backslash. Wine takes the ANSI code page
  // (932) from the locale, which must be installed.
  if (std::system("locale -a 2>/dev/null | grep -qix 'ja_JP.utf-*8'") != 0) {
    if (std::getenv("OFB2BMP_REQUIRE_JAPANESE_LOCALE") != nullptr) {
      FAIL() << "the ja_JP.UTF-8 locale is required";
    }
    GTEST_SKIP() << "the ja_JP.UTF-8 locale is not installed";
  }
  const std::string hyou = "\xE8\xA1\xA8"; // UTF-8, as the name stands on disk
  const std::string hyou_932 = "\x95\x5C";
  fs::create_directories(data / hyou);
  write_pair(data / hyou, hyou, frame_bank_sample(1, 2, 3));
  const std::string japanese = "export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8;";
  const tool_run linux_run = run_linux("'data/" + hyou + "/" + hyou + ".BIN'");
  const tool_run windows_run = run_windows("'data\\" + hyou + "\\" + hyou + ".BIN'", japanese);
  EXPECT_EQ(windows_run.status, 0);
  const std::string windows_path = "data\\" + hyou_932 + "\\" + hyou_932 + ".OFB";
  EXPECT_EQ(windows_run.output, windows_path + "\r\n" + windows_text(walk_text(16), "\\"));
  EXPECT_TRUE(fs::exists(windows_bin / (hyou + "000.BMP")));
  EXPECT_TRUE(bitmaps_in(windows_bin) == bitmaps_in(linux_bin));
}

} // namespace
