// The built program from the outside: one table of cases, each run by the Linux build and
// (where OFB2BMP_WINDOWS_EXE names it) by ofb2bmp.exe under Wine, which must print the same
// text in its own spelling, end with the same status and write byte-identical pictures.
#include <gtest/gtest.h>

#include "common/texts.hpp"
#include "sample_writer.hpp"
#include "tool_runs.hpp"

namespace {

struct tool_case {
  const char* name;
  void (*prepare)(const fs::path& tree);
  std::string arguments; // shell words, Linux spelling
  int status;
  std::string output; // "{bin}" for the program folder
  std::size_t pictures;
  std::string picture_folder = "bin";
  std::string before = "";                 // shell text before the program: limits, redirections
  std::string errors = "";                 // standard error
  const char* windows_arguments = nullptr; // null: the same words; "": not run under Wine
  char windows_separator = '/';            // how the Windows words spell folders
};

void three_kinds(const fs::path& tree) {
  const fs::path data = tree / "data";
  write_pair(data, "PICS", direct_sample(8, 6));
  write_pair(data, "BFIL", frame_bank_sample(2, 3, 9));
  write_pair(data, "GFIL", screen_bank_sample(1));
  write_pair(data, "odd", {byte_vector(137), {}}); // named, and passed over
  fs::create_directories(data / "DIR.OFB");        // skipped
}

void one_bank(const fs::path& tree) {
  write_pair(tree / "data", "BFIL", frame_bank_sample(1, 2, 2));
}

void two_banks(const fs::path& tree) {
  write_pair(tree / "data", "B", frame_bank_sample(1, 2, 2));
  write_pair(tree / "data", "A", frame_bank_sample(1, 2, 2));
}

void letter_cases(const fs::path& tree) {
  const archive_pair pair = frame_bank_sample(1, 2, 2);
  write_file(tree / "data" / "lower.ofb", pair.index);
  write_file(tree / "data" / "lower.bin", pair.archive);
  write_file(tree / "data" / "Mixed.Ofb", pair.index);
  write_file(tree / "data" / "MIXED.bin", pair.archive);
}

void dotted_names(const fs::path& tree) {
  fs::create_directories(tree / "data" / "v1.2");
  write_pair(tree / "data" / "v1.2", "A.X", frame_bank_sample(1, 2, 2));
  write_pair(tree / "data" / "v1.2", "A.Y", frame_bank_sample(1, 2, 2));
}

void small_direct(const fs::path& tree) {
  write_pair(tree / "data", "PICS", direct_sample(4, 4));
}

void index_without_archive(const fs::path& tree) {
  write_file(tree / "data" / "ODD.OFB", byte_vector(137));
}

void folders_in_the_way(const fs::path& tree) {
  small_direct(tree);
  one_bank(tree);
  fs::create_directories(tree / "bin" / "PICS02.BMP");
  fs::create_directories(tree / "bin" / "BFIL000.BMP");
}

void cut_direct(const fs::path& tree) {
  archive_pair pair = direct_sample(4, 4);
  pair.archive.resize(pair.archive.size() - 10); // the last frame loses its last pixels
  write_pair(tree / "data", "PICS", pair);
}

void small_screens(const fs::path& tree) {
  write_pair(tree / "data", "B", screen_bank_sample(1));
}

void dashed_name(const fs::path& tree) {
  write_pair(tree / "data", "-X", frame_bank_sample(1, 2, 2));
}

void pngs_in_the_way(const fs::path& tree) {
  small_direct(tree);
  one_bank(tree);
  fs::create_directories(tree / "out" / "PICS02.PNG");
  fs::create_directories(tree / "out" / "BFIL000.PNG");
}

void file_for_folder(const fs::path& tree) {
  small_direct(tree);
  write_file(tree / "afile", {1});
}

// A frame bank with frames of 2 x 2, 0 x 3 and 3 x 1; a record too short for its tables (3
// frames declared); a frame past its record's end; empty banks after.
void damaged_bank(const fs::path& tree) {
  const colour_words palette = sample_palette(1);
  std::vector<byte_vector> records(17, make_frame_bank(palette, {}));
  records[0] =
      make_frame_bank(palette, {colour_bar_frame(0, 2, 2), {0, 3, {}}, colour_bar_frame(2, 3, 1)});
  records[1] = make_palette_head(palette, 3);
  records[2] = make_frame_bank(palette, {colour_bar_frame(3, 4, 2)});
  records[2].resize(records[2].size() - 1);
  write_pair(tree / "data", "CUT", lay_out_pair(records));
}

std::string usage() {
  return text_of(text::usage);
}

std::string option_error(const std::string& first_line) {
  return "ofb2bmp: " + first_line + "\nTry 'ofb2bmp --help' for more information.\n";
}

std::vector<tool_case> tool_cases() {
  const std::string list_header = "index\tname\tentry\tframe\twidth\theight\tkind\tstatus\n";
  return {
      {"AllThreeKindsFromOneWildcard", three_kinds, "'data/*'", 0,
       "data/BFIL.OFB\n" + walk_text(16) + "data/GFIL.OFB\n" + walk_text(146) + "data/odd.OFB\n" +
           "data/PICS.OFB\n" + walk_text(380),
       34 + 147 + 381, "bin", "", "", "'data\\*'", '\\'},
      {"ShellExpandedNamesAreExtractedOnce", two_banks, "data/* data/A.OFB ./data/a.bin", 0,
       "data/A.OFB\n" + walk_text(16) + "data/B.OFB\n" + walk_text(16), 34, "bin", "", "", ""},
      {"OnlyTheFirstNameOnWindows", two_banks, "data/A", 0, "data/A.OFB\n" + walk_text(16), 17,
       "bin", "", "", "'data\\A' 'data\\B'", '\\'},
      {"NamesAreMatchedIgnoringCase", letter_cases, "data/LOWER", 0,
       "data/lower.ofb\n" + walk_text(16), 17, "bin", "", "", "'data\\LOWER'", '\\'},
      {"ArchivesArePairedIgnoringCase", letter_cases, "data/mixed.BIN", 0,
       "data/Mixed.Ofb\n" + walk_text(16), 17},
      {"DottedFoldersAndNamesKeepTheirOwnPictures", dotted_names, "'data/v1.2/A.?.OFB'", 0,
       "data/v1.2/A.X.OFB\n" + walk_text(16) + "data/v1.2/A.Y.OFB\n" + walk_text(16), 34},
      {"AMissingArchive", index_without_archive, "data/ODD.OFB", 1,
       "data/ODD.OFB\nfile open error![data/ODD.BIN]\n", 0, "bin", "", "", "'data\\ODD.OFB'", '\\'},
      {"ADirectColourPictureThatCannotBeCreated", folders_in_the_way, "data/PICS", 1,
       "data/PICS.OFB\n380\r379\r378\rfile create error![{bin}PICS02.BMP]\n", 2},
      {"APalettePictureThatCannotBeCreated", folders_in_the_way, "data/BFIL.OFB", 1,
       "data/BFIL.OFB\n 16\rfile create errror.[{bin}BFIL000.BMP]\n", 0},
      {"ADamagedArchiveGivesTheRest", cut_direct, "data/PICS", 1,
       "data/PICS.OFB\n" + countdown(380) + "broken frame![{bin}PICSNC.BMP]\n\ncompleted.\n", 380},
      {"AFileSizeLimitRemovesTheCutPicture", small_screens, "data/B", 1,
       "data/B.OFB\n146\rfile write error![{bin}B000.BMP]\n", 0, "bin",
       "trap '' XFSZ; ulimit -f 1;"},
      {"AConsoleOnAFullDevice", small_direct, "data/PICS", 1, "", 381, "bin", ">/dev/full"},
      {"AClosedConsole", small_direct, "data/PICS", 1, "", 381, "bin", ">&-"},
      {"NothingMatches", small_direct, "data/NOTHING.OFB", 0, "", 0},
      {"NoNameAndNoOneToAsk", small_direct, "", 1, "", 0},
      {"Help", small_direct, "--help", 0, usage(), 0, "bin", "", "", "'/?'"},
      {"Version", small_direct, "--version", 0, "ofb2bmp 1.0.0\n", 0},
      {"DoubleDashEndsTheOptions", dashed_name, "-- data/-X", 0, "data/-X.OFB\n" + walk_text(16),
       17},
      {"AnUnknownOption", small_direct, "data/PICS --bogus=1", 2, "", 0, "bin", "",
       option_error("unrecognized option '--bogus=1'")},
      {"AnUnknownShortOptionInAGroup", small_direct, "-qx data/PICS", 2, "", 0, "bin", "",
       option_error("unrecognized option '-x'")},
      {"AMissingValue", small_direct, "data/PICS -o", 2, "", 0, "bin", "",
       option_error("option '-o' requires a value")},
      {"AValueForAnOptionWithout", small_direct, "--quiet=yes data/PICS", 2, "", 0, "bin", "",
       option_error("option '--quiet' takes no value")},
      {"AnUnknownFormat", small_direct, "--format gif data/PICS", 2, "", 0, "bin", "",
       option_error("unknown format 'gif' (bmp or png)")},
      {"AMissingOutputFolderIsCreated", small_direct, "-qo out/new/deeper data/PICS", 0, "", 381,
       "out/new/deeper"},
      {"MessagesNameTheFileInTheOutputFolder", cut_direct, "-q --output-dir out data/PICS", 1,
       "broken frame![out/PICSNC.BMP]\n", 380, "out", "", "", "-q --output-dir out 'data\\PICS'",
       '\\'},
      {"AnOutputFolderThatIsAFile", file_for_folder, "-o afile data/PICS", 1,
       "file create error![afile]\n", 0},
      {"AnOutputFolderWhereNothingCanBeCreated", small_direct, "-o /proc/self data/PICS", 1,
       "data/PICS.OFB\n380\rfile create error![/proc/self/PICS00.BMP]\n", 0, "bin", "", "", ""},
      {"QuietLeavesOnlyTheMessages", cut_direct, "data/PICS -q", 1,
       "broken frame![{bin}PICSNC.BMP]\n", 380},
      {"AllThreeKindsAsPng", three_kinds, "--format=png -o out/ 'data/*'", 0,
       "data/BFIL.OFB\n" + walk_text(16) + "data/GFIL.OFB\n" + walk_text(146) + "data/odd.OFB\n" +
           "data/PICS.OFB\n" + walk_text(380),
       34 + 147 + 381, "out", "", "", "--format=png -o out/ 'data\\*'", '\\'},
      {"ADirectColourPngThatCannotBeCreated", pngs_in_the_way, "-f png -o out/ data/PICS", 1,
       "data/PICS.OFB\n380\r379\r378\rfile create error![out/PICS02.PNG]\n", 2, "out"},
      {"APalettePngThatCannotBeCreated", pngs_in_the_way, "-o out/ -f png data/BFIL", 1,
       "data/BFIL.OFB\n 16\rfile create errror.[out/BFIL000.PNG]\n", 0, "out"},
      {"ListingADamagedBank", damaged_bank, "-lf png data/CUT", 1,
       list_header + "data/CUT.OFB\tCUT000.PNG\t0\t0\t2\t2\tframe\tok\n" +
           "data/CUT.OFB\tCUT002.PNG\t0\t2\t3\t1\tframe\tok\n" +
           "data/CUT.OFB\t-\t1\t-\t-\t-\tframe\tbroken\n" +
           "data/CUT.OFB\tCUT006.PNG\t2\t0\t4\t2\tframe\tbroken\n",
       0},
      {"ListingAsBitmapsNamesEveryFrame", damaged_bank, "--list -o nowhere data/CUT.BIN", 1,
       list_header + "data/CUT.OFB\tCUT000.BMP\t0\t0\t2\t2\tframe\tok\n" +
           "data/CUT.OFB\tCUT001.BMP\t0\t1\t0\t3\tframe\tok\n" +
           "data/CUT.OFB\tCUT002.BMP\t0\t2\t3\t1\tframe\tok\n" +
           "data/CUT.OFB\t-\t1\t-\t-\t-\tframe\tbroken\n" +
           "data/CUT.OFB\tCUT006.BMP\t2\t0\t4\t2\tframe\tbroken\n",
       0, "nowhere"},
  };
}

void PrintTo(const tool_case& c, std::ostream* out) {
  *out << c.name;
}

// The Wine half runs where OFB2BMP_WINDOWS_EXE names the .exe (.ci/windows.sh).
std::vector<runner> runners() {
  if (windows_exe() == nullptr) {
    return {runner::native};
  }
  return {runner::native, runner::wine};
}

class Tool : public ::testing::TestWithParam<std::tuple<tool_case, runner>> {
protected:
  tool_trees trees;
};

TEST_P(Tool, Runs) {
  const auto& [c, who] = GetParam();
  const bool windows_words = who == runner::wine && c.windows_arguments != nullptr;
  if (windows_words && *c.windows_arguments == '\0') {
    GTEST_SKIP() << "a case of the Linux build only";
  }
  trees.prepare(who);
  c.prepare(trees.tree(who));
  const tool_run result =
      trees.run(who, windows_words ? c.windows_arguments : c.arguments, c.before);
  const char separator = windows_words ? c.windows_separator : '/';
  EXPECT_EQ(result.status, c.status);
  EXPECT_EQ(result.output, trees.expected_text(who, c.output, separator));
  if (who == runner::native || !c.errors.empty()) {
    EXPECT_EQ(result.errors, trees.expected_text(who, c.errors, separator));
  }
  const auto pictures = trees.pictures(who, c.picture_folder);
  EXPECT_EQ(pictures.size(), c.pictures);
  if (who == runner::wine) {
    // The same case on Linux: byte-identical pictures.
    trees.prepare(runner::native);
    c.prepare(trees.tree(runner::native));
    trees.run(runner::native, c.arguments, c.before);
    EXPECT_TRUE(pictures == trees.pictures(runner::native, c.picture_folder));
  }
}

std::string case_name(const ::testing::TestParamInfo<Tool::ParamType>& info) {
  return std::string(std::get<0>(info.param).name) +
         (std::get<1>(info.param) == runner::native ? "" : "UnderWine");
}

INSTANTIATE_TEST_SUITE_P(Cases, Tool,
                         ::testing::Combine(::testing::ValuesIn(tool_cases()),
                                            ::testing::ValuesIn(runners())),
                         case_name);

// Spellings only Windows has: a drive letter, both separators in one path, and a Shift-JIS
// folder and file whose second byte is a backslash (表 is 95 5C), read in code page 932.
TEST(UnderWine, DriveLettersMixedSeparatorsAndDoubleByteNames) {
  if (windows_exe() == nullptr) {
    GTEST_SKIP() << "OFB2BMP_WINDOWS_EXE names no .exe";
  }
  tool_trees trees;
  trees.prepare(runner::wine);
  const fs::path data = trees.tree(runner::wine) / "data";
  const std::string hyou = "\xE8\xA1\xA8"; // UTF-8, as the name stands on disk
  fs::create_directories(data / "v1.2");
  fs::create_directories(data / hyou);
  write_pair(data / "v1.2", "A.X", frame_bank_sample(1, 2, 2));
  write_pair(data / hyou, hyou, frame_bank_sample(1, 2, 3));
  std::string drive_path = "Z:" + (data / "v1.2" / "A.X.OFB").string();
  replace_all(drive_path, "/", "\\");
  const std::string japanese = "export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8;";
  const std::string hyou_932 = "\x95\x5C";
  const struct {
    std::string arguments;
    std::string before;
    std::string index_path;
  } cases[] = {
      {"'" + drive_path + "'", "", drive_path},
      {"'data\\v1.2/A.X.BIN'", "", "data\\v1.2/A.X.OFB"},
      {"'data\\" + hyou + "\\" + hyou + ".BIN'", japanese,
       "data\\" + hyou_932 + "\\" + hyou_932 + ".OFB"},
  };
  if (shell("locale -a 2>/dev/null | grep -qix 'ja_JP.utf-*8'") != 0) {
    ASSERT_EQ(std::getenv("OFB2BMP_REQUIRE_JAPANESE_LOCALE"), nullptr)
        << "the ja_JP.UTF-8 locale is required";
    std::cout << "the ja_JP.UTF-8 locale is not installed: the Shift-JIS name is not tried\n";
  }
  for (const auto& c : cases) {
    if (!c.before.empty() && shell("locale -a 2>/dev/null | grep -qix 'ja_JP.utf-*8'") != 0) {
      continue;
    }
    const tool_run result = trees.run(runner::wine, c.arguments, c.before);
    EXPECT_EQ(result.status, 0) << c.arguments;
    EXPECT_EQ(result.output,
              c.index_path + "\r\n" + trees.expected_text(runner::wine, walk_text(16), '/'));
  }
  EXPECT_EQ(trees.pictures(runner::wine).size(), 17u + 17u);
  EXPECT_TRUE(fs::exists(trees.tree(runner::wine) / "bin" / (hyou + "010.BMP")));
}

// ---- an independent image reader ---------------------------------------------------------

bool image_reader_available() {
  return shell("/usr/bin/python3 -c 'import PIL' 2>/dev/null") == 0;
}

// Width, height and RGB bytes (top row first) as the independent reader sees them.
std::pair<std::string, byte_vector> read_with_image_reader(const fs::path& picture) {
  const std::string text = [&] {
    std::FILE* pipe = popen(
        ("/usr/bin/python3 '" IMAGE_READER_SCRIPT "' '" + picture.string() + "'").c_str(), "r");
    std::string read;
    char chunk[65536];
    for (std::size_t got = 0; (got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) {
      read.append(chunk, got);
    }
    pclose(pipe);
    return read;
  }();
  const std::size_t line_end = text.find('\n');
  byte_vector rgb;
  for (std::size_t i = line_end + 1; i + 1 < text.size(); i += 2) {
    rgb.push_back(static_cast<std::uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
  }
  return {text.substr(0, line_end), rgb};
}

byte_vector expected_rgb(const colour_words& words) {
  byte_vector rgb;
  for (const std::uint16_t word : words) {
    rgb.push_back(static_cast<std::uint8_t>((word & 0x1F) << 3));
    rgb.push_back(static_cast<std::uint8_t>(((word >> 5) & 0x1F) << 3));
    rgb.push_back(static_cast<std::uint8_t>(((word >> 10) & 0x1F) << 3));
  }
  return rgb;
}

byte_vector through_palette(const byte_vector& indices, const colour_words& palette) {
  colour_words words;
  for (const std::uint8_t index : indices) {
    words.push_back(palette[index]);
  }
  return expected_rgb(words);
}

// Every picture of all three kinds, as a bitmap and as a PNG, read by an image library: each
// PNG equals its bitmap pixel for pixel and palette entry for entry, and a picture of each
// kind shows what the sample writer drew.
TEST(ImageReader, SeesThePixelsAndPalettesTheSampleWriterDrew) {
  if (!image_reader_available()) {
    if (std::getenv("OFB2BMP_REQUIRE_IMAGE_READER") != nullptr) {
      FAIL() << "python3 with PIL is required";
    }
    GTEST_SKIP() << "python3 with PIL is not installed";
  }
  tool_trees trees;
  trees.prepare(runner::native);
  const fs::path tree = trees.tree(runner::native);
  write_pair(tree / "data", "PICS", direct_sample(7, 5));
  write_pair(tree / "data", "BFIL", frame_bank_sample(2, 3, 9));
  write_pair(tree / "data", "GFIL", screen_bank_sample(1));
  ASSERT_EQ(trees.run(runner::native, "-q -o out 'data/*'").status, 0);
  ASSERT_EQ(trees.run(runner::native, "-q -o out -f png 'data/*'").status, 0);
  EXPECT_EQ(shell("/usr/bin/python3 '" IMAGE_READER_SCRIPT "' --compare '" +
                  (tree / "out").string() + "' >&2"),
            0)
      << "a PNG differs from its bitmap";

  for (const char* extension : {".BMP", ".PNG"}) {
    auto [size, rgb] = read_with_image_reader(tree / "out" / ("PICS1A" + std::string(extension)));
    EXPECT_EQ(size, "7 5");
    EXPECT_EQ(rgb, expected_rgb(gradient_frame(26, 7, 5)));
    // Bank 5 holds screen 500 with palette 5; frame bank 1 holds frames 100 and 101.
    std::tie(size, rgb) =
        read_with_image_reader(tree / "out" / ("GFIL005" + std::string(extension)));
    EXPECT_EQ(size, "352 240");
    EXPECT_EQ(rgb, through_palette(sample_screen(500), sample_palette(5)));
    std::tie(size, rgb) =
        read_with_image_reader(tree / "out" / ("BFIL003" + std::string(extension)));
    const byte_vector header = read_whole_file(tree / "out" / "BFIL003.BMP");
    const int width = static_cast<int>(le32(header, 18));
    const int height = static_cast<int>(le32(header, 22));
    EXPECT_EQ(size, std::to_string(width) + " " + std::to_string(height));
    EXPECT_EQ(rgb, through_palette(colour_bar_frame(101, width, height).pixels, sample_palette(1)));
  }
}

} // namespace
