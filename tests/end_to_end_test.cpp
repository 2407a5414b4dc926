// The built program from the outside: one table of cases, each run by the Linux build and
// (where OFB2BMP_WINDOWS_EXE names it) by ofb2bmp.exe under Wine, which must print the same
// text in its own spelling, end with the same status and write byte-identical pictures.
#include <fnmatch.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <regex>
#include <sstream>

#include "common/texts.hpp"
#include "pictures/bitmap_writers.hpp"
#include "pictures/picture_names.hpp"
#include "pictures/png_file.hpp"
#include "sample_writer.hpp"
#include "tool_runs.hpp"

namespace {

struct tool_case {
  const char* name;
  std::string arguments; // shell words, Linux spelling
  int status;
  std::string output; // "{bin}" for the program folder
  std::size_t pictures;
  std::string errors = ""; // standard error
  std::string picture_folder = "bin";
  std::string obstacles = "";              // folders (ending in '/') and files made first
  const char* windows_arguments = nullptr; // null: the same words; "": not run under Wine
  char windows_separator = '/';            // how the Windows words spell folders
  std::optional<std::string> windows_errors = std::nullopt; // under Wine, if not only spelt
                                                            // as Windows spells errors
  std::string before = ""; // shell text before the program: limits, redirections
};

const std::string long_name(250, 'N'); // fits as an index name, not with a picture's suffix

const std::vector<std::string> hostile_names = {"it's \"quoted\"",     std::string(240, 'L'),
                                                "semi;colon $(x) `y`", "with blank",
                                                "\x83\x5C\x83\x74",    "\xE7\x94\xBB\xE5\x83\x8F"};

// A frame bank with frames of 2 x 2, 0 x 3 and 3 x 1; a record too short for its tables (3
// frames declared); a frame past its record's end; empty banks after.
archive_pair damaged_bank() {
  const colour_words palette = sample_palette(1);
  std::vector<byte_vector> records(17, make_frame_bank(palette, {}));
  records[0] =
      make_frame_bank(palette, {colour_bar_frame(0, 2, 2), {0, 3, {}}, colour_bar_frame(2, 3, 1)});
  records[1] = make_palette_head(palette, 3);
  records[2] = make_frame_bank(palette, {colour_bar_frame(3, 4, 2)});
  records[2].resize(records[2].size() - 1);
  return lay_out_pair(records);
}

byte_vector big_endian(const colour_words& words) {
  byte_vector bytes;
  for (const std::uint16_t word : words) {
    append_u16be(bytes, word);
  }
  return bytes;
}

// Edited pictures for data/PICS (4 x 4 direct colour) and data/BFIL: two frames redrawn, one
// resized, one bank's colours changed.
void write_edits(const fs::path& folder) {
  fs::create_directories(folder);
  test_state edits(folder);
  const picture_kind direct = picture_kind::direct;
  write_direct_bitmap(edits.state.files, edits.state.output, "PICS",
                      picture_of(direct, 1, 4, 4, big_endian(gradient_frame(99, 4, 4))));
  write_direct_png(edits.state.files, edits.state.output, "PICS",
                   picture_of(direct, 3, 4, 4, big_endian(noise_frame(3, 4, 4))));
  write_direct_bitmap(edits.state.files, edits.state.output, "PICS",
                      picture_of(direct, 2, 6, 5, big_endian(noise_frame(2, 6, 5))));
  write_indexed_bitmap(edits.state.files, edits.state.output, "BFIL",
                       picture_of(picture_kind::frame, 5, 2, 2, colour_bar_frame(5, 2, 2).pixels,
                                  big_endian(sample_palette(9))));
  // The last record of data/PICS grown: the new archive grows past the original's end.
  fs::create_directories(folder / "grown");
  test_state grown(folder / "grown");
  write_direct_bitmap(grown.state.files, grown.state.output, "PICS",
                      picture_of(direct, 380, 40, 40, big_endian(gradient_frame(7, 40, 40))));
}

// The inputs of every case, written once and shared by every program's tree.
const fs::path& shared_data() {
  static const scratch_folder folder(fast_storage());
  [[maybe_unused]] static const bool written = [] {
    const fs::path& data = folder.path;
    const archive_pair bank = frame_bank_sample(1, 2, 2);
    for (const char* sub : {"three/DIR.OFB", "two", "one", "v1.2", "hostile"}) {
      fs::create_directories(data / sub);
    }
    write_pair(data / "three", "PICS", direct_sample(8, 6));
    write_pair(data / "three", "BFIL", frame_bank_sample(2, 3, 9));
    write_pair(data / "three", "GFIL", screen_bank_sample(1));
    write_pair(data / "three", "odd", {byte_vector(137), {}}); // named, and passed over
    write_pair(data / "two", "A", bank);
    write_pair(data / "two", "B", bank);
    write_pair(data / "one", "A", bank);
    write_pair(data / "v1.2", "A.X", bank);
    write_pair(data / "v1.2", "A.Y", bank);
    write_pair(data, "PICS", direct_sample(4, 4));
    write_pair(data, "BFIL", bank);
    write_pair(data, "S", screen_bank_sample(1));
    write_pair(data, "-X", bank);
    write_pair(data, long_name, bank);
    write_pair(data, "CUT", damaged_bank());
    archive_pair cut = direct_sample(4, 4);
    cut.archive.resize(cut.archive.size() - 10); // the last frame loses its last pixels
    write_pair(data, "PCUT", cut);
    write_file(data / "lower.ofb", bank.index);
    write_file(data / "lower.bin", bank.archive);
    write_file(data / "ODD.OFB", byte_vector(137));
    write_pair(data, "EMPTY", {{}, {}});
    for (const std::string& name : hostile_names) {
      write_pair(data / "hostile", name, bank);
    }
    write_edits(data / "edits");
    fs::create_directories(data / "ins");
    write_pair(data / "ins", "PICS", direct_sample(4, 4));
    write_pair(data / "ins", "BFIL", bank);
    return true;
  }();
  return folder.path;
}

// A run that its options end before it starts: status 2 and the reason.
tool_case refused(const char* name, const std::string& arguments, const std::string& why) {
  const std::string errors = "ofb2bmp: " + why + "\nTry 'ofb2bmp --help' for more information.\n";
  return {name, arguments, 2, "", 0, errors};
}

// The line on standard error that names an index file of an unknown size.
std::string unknown_size(const std::string& path) {
  return "ofb2bmp: " + path + ": 137 bytes is not the size of an index file (136, 1176 or 3048)\n";
}

std::string paths_and_walks(const std::string& folder, const std::vector<std::string>& names,
                            int from) {
  std::string text;
  for (const std::string& name : names) {
    text += folder + name + ".OFB\n" + walk_text(from);
  }
  return text;
}

std::vector<tool_case> tool_cases() {
  const std::string three = "data/three/BFIL.OFB\n" + walk_text(16) + "data/three/GFIL.OFB\n" +
                            walk_text(146) + "data/three/odd.OFB\n" + "data/three/PICS.OFB\n" +
                            walk_text(380);
  const std::string list_header = "index\tname\tentry\tframe\twidth\theight\tkind\tstatus\n";
  const std::string list = list_header + "data/CUT.OFB\tCUT000.PNG\t0\t0\t2\t2\tframe\tok\n" +
                           "data/CUT.OFB\tCUT002.PNG\t0\t2\t3\t1\tframe\tok\n" +
                           "data/CUT.OFB\t-\t1\t-\t-\t-\tframe\tbroken\n" +
                           "data/CUT.OFB\tCUT006.PNG\t2\t0\t4\t2\tframe\tbroken\n";
  std::string bitmap_list = list;
  replace_all(bitmap_list, ".PNG", ".BMP");
  replace_all(
      bitmap_list, "CUT000.BMP\t0\t0\t2\t2\tframe\tok\n",
      "CUT000.BMP\t0\t0\t2\t2\tframe\tok\ndata/CUT.OFB\tCUT001.BMP\t0\t1\t0\t3\tframe\tok\n");
  // Every picture of a screen bank and of direct colour, as rows made here.
  std::string kinds_list = list_header;
  for (int n = 0; n < 147 + 381; ++n) {
    const bool screen = n < 147;
    const int k = screen ? n : n - 147;
    kinds_list +=
        (screen ? "data/S.OFB\tS" + indexed_suffix(k) : "data/PICS.OFB\tPICS" + direct_suffix(k)) +
        ".BMP\t" + std::to_string(k) +
        (screen ? "\t0\t352\t240\tscreen\tok\n" : "\t0\t4\t4\tdirect\tok\n");
  }
  std::string dots;
  while (dots.size() < 5000) {
    dots += "./";
  }
  // A file-size limit (in the shell's 512-byte blocks) that the copy of data/ins/PICS.BIN
  // fits, and a record moved past its end does not.
  const std::string archive_limit =
      std::to_string((direct_sample(4, 4).archive.size() + 511) / 512);
  const std::string edits_inserted = paths_and_walks("data/ins/", {"BFIL"}, 16) +
                                     "1 picture replaced (0 with colours rounded down)\n";
  const std::string pics_inserted = paths_and_walks("data/ins/", {"PICS"}, 380) +
                                    "3 pictures replaced (0 with colours rounded down)\n";
  const std::string pics_grown = "ofb2bmp: data/edits/PICS02.BMP: 4x4 -> 6x5: size changed\n";
  return {
      {"AllThreeKindsFromOneWildcard", "'data/three/*'", 0, three, 34 + 147 + 381,
       unknown_size("data/three/odd.OFB"), "bin", "", "'data\\three\\*'", '\\'},
      {"AllThreeKindsAsPng", "--format=png -o out/ 'data/three/*'", 0, three, 34 + 147 + 381,
       unknown_size("data/three/odd.OFB"), "out", "", "--format=png -o out/ 'data\\three\\*'",
       '\\'},
      {"FormatNamesInAnyLetterCase", "-l --format=Png data/CUT", 1, list, 0},
      {"AnEmptyIndexFileIsPassedOver", "data/EMPTY", 0, "data/EMPTY.OFB\n", 0,
       "ofb2bmp: data/EMPTY.OFB: 0 bytes is not the size of an index file (136, 1176 or 3048)\n"},
      {"ShellExpandedNamesAreExtractedOnce", "data/two/* data/two/A.OFB ./data/two/a.bin", 0,
       paths_and_walks("data/two/", {"A", "B"}, 16), 34, "", "bin", "", ""},
      {"OnlyTheFirstNameOnWindows", "data/two/A", 0, paths_and_walks("data/two/", {"A"}, 16), 17,
       "", "bin", "", "'data\\two\\A' 'data\\two\\B'", '\\'},
      {"NamesAreMatchedIgnoringCase", "data/LOWER", 0, "data/lower.ofb\n" + walk_text(16), 17},
      {"DottedFoldersAndNamesKeepTheirOwnPictures", "'data/v1.2/A.?.OFB'", 0,
       paths_and_walks("data/v1.2/", {"A.X", "A.Y"}, 16), 34},
      {"HostileNamesAreKeptByteForByte", "'data/hostile/*'", 0,
       paths_and_walks("data/hostile/", hostile_names, 16), 6 * 17, "", "bin", "", ""},
      {"NamesTooLongForTheSystem", "data/" + long_name, 1,
       "data/" + long_name + ".OFB\n 16\rfile create errror.[{bin}" + long_name + "000.BMP]\n", 0,
       "ofb2bmp: {bin}" + long_name + "000.BMP: File name too long\n", "bin", "", ""},
      {"AnInputPathOverFourKiBFindsNothing", "data/" + dots + "PICS", 1, "", 0,
       "ofb2bmp: data/" + dots + "PICS: no index file found\n", "bin", "", ""},
      {"AMissingArchive", "data/ODD.OFB", 1, "data/ODD.OFB\nfile open error![data/ODD.BIN]\n", 0,
       unknown_size("data/ODD.OFB") + "ofb2bmp: data/ODD.BIN: No such file or directory\n", "bin",
       "", "'data\\ODD.OFB'", '\\'},
      {"ADirectColourPictureThatCannotBeCreated", "data/PICS", 1,
       "data/PICS.OFB\n380\r379\r378\rfile create error![{bin}PICS02.BMP]\n", 2,
       "ofb2bmp: {bin}PICS02.BMP: Is a directory\n", "bin", "bin/PICS02.BMP/"},
      {"APalettePictureThatCannotBeCreated", "data/BFIL.OFB", 1,
       "data/BFIL.OFB\n 16\rfile create errror.[{bin}BFIL000.BMP]\n", 0,
       "ofb2bmp: {bin}BFIL000.BMP: Is a directory\n", "bin", "bin/BFIL000.BMP/"},
      {"ADirectColourPngThatCannotBeCreated", "-f png -o out/ data/PICS", 1,
       "data/PICS.OFB\n380\r379\r378\rfile create error![out/PICS02.PNG]\n", 2,
       "ofb2bmp: out/PICS02.PNG: Is a directory\n", "out", "out/PICS02.PNG/"},
      {"APalettePngThatCannotBeCreated", "-o out/ -f png data/BFIL", 1,
       "data/BFIL.OFB\n 16\rfile create errror.[out/BFIL000.PNG]\n", 0,
       "ofb2bmp: out/BFIL000.PNG: Is a directory\n", "out", "out/BFIL000.PNG/"},
      {"ADamagedArchiveGivesTheRest", "data/PCUT", 1,
       "data/PCUT.OFB\n" + countdown(380) + "broken frame![{bin}PCUTNC.BMP]\n\ncompleted.\n", 380},
      {"AConsoleOnAFullDevice", "data/PICS", 1, "", 381, "", "bin", "", nullptr, '/', std::nullopt,
       ">/dev/full"},
      {"AClosedConsole", "data/PICS", 1, "", 381, "", "bin", "", nullptr, '/', std::nullopt, ">&-"},
      {"AMistypedNameAmongOthers", "data/NOPE data/two/A 'data/Z*'", 1,
       paths_and_walks("data/two/", {"A"}, 16), 17,
       "ofb2bmp: data/NOPE: no index file found\nofb2bmp: data/Z*: no index file found\n", "bin",
       "", ""},
      {"PatternsThatMatchNothing", "'data/Z*' 'data/Q?'", 0, "", 0,
       "ofb2bmp: data/Z*: no index file found\nofb2bmp: data/Q?: no index file found\n", "bin", "",
       "'data\\Z*'", '\\', "ofb2bmp: data\\Z*: no index file found\n"},
      {"AFolderGivenAsAName", "data/three/DIR.OFB", 1, "", 0,
       "ofb2bmp: data/three/DIR.OFB: a folder, not an index file\n"},
      {"AFolderLeadsToItsPattern", "data/two/", 1, "", 0,
       "ofb2bmp: data/two/: no index file found\nofb2bmp: data/two/: a folder of 2 index files: to "
       "take every pair in it, give 'data/two/*'\n",
       "bin", "", "'data\\two\\'", '\\',
       "ofb2bmp: data/two/: no index file found\nofb2bmp: data/two/: a folder of 2 index files: to "
       "take every pair in it, give \"data/two/*\"\n"},
      {"AFolderWithoutItsSeparator", "data/three", 1, "", 0,
       "ofb2bmp: data/three: no index file found\nofb2bmp: data/three: a folder of 4 index files: "
       "to take every pair in it, give 'data/three/*'\n",
       "bin", "", ""},
      {"AFolderOfOneIndexFile", "data/one", 1, "", 0,
       "ofb2bmp: data/one: no index file found\nofb2bmp: data/one: a folder of 1 index file: to "
       "take every pair in it, give 'data/one/*'\n",
       "bin", "", ""},
      {"AMistypedNameLeadsToTheNearest", "data/three/GFIL2", 1, "", 0,
       "ofb2bmp: data/three/GFIL2: no index file found\nofb2bmp: data/three/GFIL2: did you mean "
       "data/three/GFIL.OFB or data/three/BFIL.OFB?\n",
       "bin", "", "'data\\three\\GFIL2'", '\\'},
      {"NoClobberKeepsExistingPictures", "-n data/PICS", 0, "data/PICS.OFB\n" + walk_text(380), 381,
       "ofb2bmp: kept 2 files that already existed (--no-clobber)\n", "bin",
       "bin/PICS02.BMP bin/PICS05.BMP"},
      {"NoNameAndNoOneToAsk", "", 1, "", 0},
      {"Help", "--help", 0,
       text_of(text::usage,
               "Without -o, pictures go into the folder that holds this copy of ofb2bmp: {bin}"),
       0, "", "bin", "", "'/?'"},
      // The number of project() in the top CMakeLists.txt, handed to this build too.
      {"Version", "--version", 0, std::string("ofb2bmp ") + OFB2BMP_VERSION + "\n", 0},
      {"DoubleDashEndsTheOptions", "-- data/-X", 0, "data/-X.OFB\n" + walk_text(16), 17},
      refused("AnUnknownOption", "data/PICS --bogus=1", "unrecognized option '--bogus=1'"),
      refused("AnUnknownShortOptionInAGroup", "-qx data/PICS", "unrecognized option '-x'"),
      refused("AMissingValue", "data/PICS -o", "option '-o' requires a value"),
      refused("AValueForAnOptionWithout", "--quiet=yes data/PICS",
              "option '--quiet' takes no value"),
      refused("AnUnknownFormat", "--format gif data/PICS", "unknown format 'gif' (bmp or png)"),
      refused("TooManyJobs", "--jobs=65 data/PICS", "invalid number of jobs '65' (1 to 64)"),
      refused("NoJobs", "-j0 data/PICS", "invalid number of jobs '0' (1 to 64)"),
      {"JobsInThreeDigits", "-q -j 064 data/two/A", 0, "", 17, "", "bin", "", ""},
      refused("AnEmptyOutputFolder", "-o '' data/PICS", "option '-o' requires a non-empty value"),
      {"MessagesNameTheFileInTheOutputFolder", "-q --output-dir out data/PCUT", 1,
       "broken frame![out/PCUTNC.BMP]\n", 380, "", "out", "", "-q --output-dir out 'data\\PCUT'",
       '\\'},
      {"AnOutputFolderThatIsAFile", "-o afile data/PICS", 1, "file create error![afile]\n", 0,
       "ofb2bmp: afile: Not a directory\n", "bin", "afile"},
      {"AnOutputFolderWhereNothingCanBeCreated", "-o /proc/self data/PICS", 1,
       "data/PICS.OFB\n380\rfile create error![/proc/self/PICS00.BMP]\n", 0,
       "ofb2bmp: /proc/self/PICS00.BMP: No such file or directory\n", "bin", "", ""},
      {"InsertingEditedPictures", "--insert=data/edits -o out 'data/ins/*'", 0,
       edits_inserted + pics_inserted, 4, pics_grown, "out", "",
       "'--insert=data\\edits' -o out 'data\\ins\\*'", '\\'},
      {"NoClobberKeepsAnExistingPair", "-n --insert=data/edits -o out 'data/ins/*'", 0,
       pics_inserted, 3, pics_grown + "ofb2bmp: kept 1 file that already existed (--no-clobber)\n",
       "out", "out/BFIL.BIN", "-n '--insert=data\\edits' -o out 'data\\ins\\*'", '\\'},
      {"AWriteFailureWhileInserting", "-q --insert=data/edits/grown -o out data/ins/PICS", 1,
       "file write error![out/PICS.BIN]\n", 0, "ofb2bmp: out/PICS.BIN: File too large\n", "out", "",
       "", '/', std::nullopt, "trap '' XFSZ; ulimit -f " + archive_limit + ";"},
      {"ANewIndexThatCannotTakeItsNameLeavesNoHalfPair",
       "-q --insert=data/edits -o out data/ins/PICS", 1, "file write error![out/PICS.OFB]\n", 0,
       "ofb2bmp: out/PICS.OFB: Is a directory\n", "out", "out/PICS.OFB/", ""},
      // Said once, and nothing about the pictures given, which were never looked at.
      {"AnOutputFolderThatTakesNoFileEndsTheInsertion",
       "--insert=data/edits -o /proc/self 'data/ins/*'", 1,
       "data/ins/BFIL.OFB\nfile create error![/proc/self/BFIL.BIN]\n", 0,
       "ofb2bmp: /proc/self/BFIL.BIN: No such file or directory\n", "out", "", ""},
      refused("InsertingNeedsAnOutputFolder", "--insert data/edits data/PICS",
              "option '--insert' requires '--output-dir'"),
      {"InsertingFromAFile", "--insert data/ins/PICS.OFB -o out data/ins/PICS", 1,
       "file open error![data/ins/PICS.OFB]\n", 0, "ofb2bmp: data/ins/PICS.OFB: not a folder\n",
       "out"},
      {"InsertingFromNowhere", "--insert data/none -o out data/ins/PICS", 1,
       "file open error![data/none]\n", 0, "ofb2bmp: data/none: No such file or directory\n", "out",
       "", ""},
      {"InsertingPreviewedWithList", "-l --insert data/edits 'data/ins/*'", 0,
       text_of(text::insert_list_header) +
           "data/ins/BFIL.OFB\tBFIL005.BMP\t5\t0\treplaced\tno\t0\t-\t0\t-\t-\n"
           "data/ins/PICS.OFB\tPICS01.BMP\t1\t0\treplaced\tno\t0\t-\t0\t-\t-\n"
           "data/ins/PICS.OFB\tPICS02.BMP\t2\t0\treplaced\tno\t0\t4x4 -> 6x5\t0\t-\t-\n"
           "data/ins/PICS.OFB\tPICS03.PNG\t3\t0\treplaced\tno\t0\t-\t0\t-\t-\n",
       0, "", "out", "", "-l '--insert=data\\edits' 'data\\ins\\*'", '\\'},
      {"AGalleryThatCannotBeCreated", "-q --gallery -o out data/two/A", 1,
       "file create error![out/index.html]\n", 17, "ofb2bmp: out/index.html: Is a directory\n",
       "out", "out/index.html/", "-q --gallery -o out data/two/A", '\\'},
      refused("NearestOnlyWithInsert", "--nearest data/PICS",
              "option '--nearest' requires '--insert'"),
      refused("InsertingTakesNoGallery", "--insert data/edits -o out --gallery data/PICS",
              "option '--insert' cannot be combined with '--gallery'"),
      refused("InsertingTakesNoFormat", "--insert data/edits -o out -f bmp data/PICS",
              "option '--insert' cannot be combined with '--format'"),
      refused("InsertingTakesNoSelection", "--insert data/edits -o out --only 'PICS*' data/PICS",
              "option '--insert' cannot be combined with '--only'"),
      {"OnlyTheSelectedPicturesUnderTheirOwnNames", "--only 'bfil00a.BMP,entry:3-4' data/BFIL", 0,
       "data/BFIL.OFB\n 13\r 12\r  6\r\ncompleted.\n", 3},
      {"ASelectionThatSelectsNothingIsSaid", "--only 'PICS999,entry:400-,Z*' data/PICS", 1, "", 0,
       "ofb2bmp: --only PICS999: no picture selected\nofb2bmp: --only entry:400-: no picture "
       "selected\nofb2bmp: --only Z*: no picture selected\n"},
      {"AnEntryWithoutPicturesSelectsNone", "-o out --only entry:3 data/CUT", 1,
       "data/CUT.OFB\n 13\r\ncompleted.\n", 0, "ofb2bmp: --only entry:3: no picture selected\n",
       "out"},
      {"AWildcardThatSelectsNothingIsNoFailure", "--only 'Z*' data/PICS", 0, "", 0,
       "ofb2bmp: --only Z*: no picture selected\n"},
      refused("ASelectionItemIsANameOrEntries", "--only 'a,entry:5-2' data/PICS",
              "invalid selection 'entry:5-2' (a picture name, or entry:FIRST-LAST)"),
      {"InsertingOverItsOwnInput", "-q --insert data/edits -o data data/PICS", 2, "", 0,
       "ofb2bmp: the new pair would replace its own input 'data/PICS.OFB'; choose another output "
       "folder\n"},
      {"ListingScreensAndDirectColour", "-l data/S data/PICS", 0, kinds_list, 0, "", "bin", "", ""},
      {"ListingAsBitmapsNamesEveryFrame", "--list -o nowhere data/CUT.BIN", 1, bitmap_list, 0, "",
       "nowhere"},
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

// A program's tree with the table's inputs as data/.
fs::path tree_of_shared_data(const tool_trees& trees, runner who) {
  trees.prepare(who);
  const fs::path tree = trees.tree(who);
  fs::remove(tree / "data");
  fs::create_directory_symlink(shared_data(), tree / "data");
  return tree;
}

// Folders (ending in '/') and files of one byte, made in `tree` before a run.
void make_obstacles(const fs::path& tree, const std::string& obstacles) {
  std::istringstream words(obstacles);
  for (std::string obstacle; words >> obstacle;) {
    fs::create_directories((tree / obstacle).parent_path());
    if (obstacle.back() != '/') {
      write_file(tree / obstacle, {1});
    }
  }
}

class Tool : public ::testing::TestWithParam<std::tuple<tool_case, runner>> {
protected:
  tool_trees trees;

  tool_run run(runner who, const tool_case& c, const std::string& arguments) {
    fs::remove_all(trees.tree(who));
    make_obstacles(tree_of_shared_data(trees, who), c.obstacles);
    return trees.run(who, arguments, c.before);
  }
};

TEST_P(Tool, Runs) {
  const auto& [c, who] = GetParam();
  const bool windows_words = who == runner::wine && c.windows_arguments != nullptr;
  if (windows_words && *c.windows_arguments == '\0') {
    GTEST_SKIP() << "a case of the Linux build only";
  }
  const tool_run result = run(who, c, windows_words ? c.windows_arguments : c.arguments);
  const char separator = windows_words ? c.windows_separator : '/';
  EXPECT_EQ(result.status, c.status);
  EXPECT_EQ(result.output, trees.expected_text(who, c.output, separator));
  if (who == runner::wine && c.windows_errors) {
    EXPECT_EQ(result.errors, trees.expected_text(who, *c.windows_errors, separator));
  } else if (who == runner::native || !c.errors.empty()) {
    std::string errors = c.errors;
    if (who == runner::wine) { // the system's own words for the same failures
      replace_all(errors, "Is a directory", "Access denied.");
      replace_all(errors, "Not a directory", "File already exists.");
      replace_all(errors, "No such file or directory", "File not found.");
    }
    EXPECT_EQ(result.errors, trees.expected_text(who, errors, separator));
  }
  const auto pictures = trees.pictures(who, c.picture_folder);
  EXPECT_EQ(pictures.size(), c.pictures);
  std::istringstream obstacles(c.obstacles);
  for (std::string obstacle; obstacles >> obstacle;) {
    if (obstacle.back() != '/') {
      EXPECT_EQ(read_whole_file(trees.tree(who) / obstacle), byte_vector{1}) << "changed";
    }
  }
  std::error_code none;
  for (const auto& entry : fs::directory_iterator(trees.tree(who) / c.picture_folder, none)) {
    EXPECT_NE(entry.path().extension(), ".part") << entry.path() << " left behind";
  }
  // However many threads write the pictures, the run is the same to the byte.
  for (const std::string jobs : {"-j 1 ", "-j 2 ", "-j 8 "}) {
    const tool_run again = run(who, c, jobs + (windows_words ? c.windows_arguments : c.arguments));
    EXPECT_EQ(again.status, result.status) << jobs;
    EXPECT_EQ(again.output, result.output) << jobs;
    EXPECT_EQ(again.errors, result.errors) << jobs;
    EXPECT_TRUE(trees.pictures(who, c.picture_folder) == pictures) << jobs;
  }
  if (who == runner::wine) {
    run(runner::native, c, c.arguments); // the same case on Linux: byte-identical pictures
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

// The rows of a listing without its header, each as its fields.
std::vector<std::vector<std::string>> rows_of(const std::string& listing) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(listing.substr(listing.find('\n') + 1)); // past the header
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    rows.emplace_back();
    for (std::string field; std::getline(fields, field, '\t');) {
      rows.back().push_back(field);
    }
  }
  return rows;
}

// Whether --only SELECTION takes the row (index, name, entry, ...): its name, with or without
// the extension, matches a name, or its entry is among `entries`.
bool row_selected(const std::vector<std::string>& row, const std::vector<std::string>& names,
                  const std::vector<int>& entries) {
  const std::string bare = row[1].substr(0, row[1].rfind('.'));
  for (const std::string& pattern : names) {
    if (fnmatch(pattern.c_str(), row[1].c_str(), FNM_CASEFOLD) == 0 ||
        fnmatch(pattern.c_str(), bare.c_str(), FNM_CASEFOLD) == 0) {
      return true;
    }
  }
  return std::find(entries.begin(), entries.end(), std::stoi(row[2])) != entries.end();
}

// Over the table's inputs, damaged ones among them: --only lists, writes and reports exactly
// what the full run does of the pictures it selects, under the same names.
TEST(Only, TakesTheFullRunsPicturesThatItSelects) {
  tool_trees trees;
  const fs::path tree = tree_of_shared_data(trees, runner::native);
  const struct {
    std::string words;
    std::vector<std::string> names;
    std::vector<int> entries;
  } selections[] = {
      {"'*1,entry:2'", {"*1"}, {2}},
      {"'*000.bmp,p*n?,*01?'", {"*000.bmp", "p*n?", "*01?"}, {}},
      {"entry:0-1,4-5 --only entry:380-", {}, {0, 1, 4, 5, 380, 381}},
  };
  for (const std::string inputs : {"'data/three/*'", "data/CUT data/PCUT data/S"}) {
    const tool_run full_list = trees.run(runner::native, "-l " + inputs);
    const tool_run full = trees.run(runner::native, "-q -o full " + inputs);
    const auto all_pictures = trees.pictures(runner::native, "full");
    for (const auto& selection : selections) {
      SCOPED_TRACE(inputs + " " + selection.words);
      const tool_run list =
          trees.run(runner::native, "-l --only " + selection.words + " " + inputs);
      std::vector<std::vector<std::string>> expected_rows;
      std::map<std::string, byte_vector> expected_pictures;
      std::string expected_messages;
      bool broken = false;
      for (const auto& row : rows_of(full_list.output)) {
        if (row_selected(row, selection.names, selection.entries)) {
          expected_rows.push_back(row);
          broken = broken || row.back() == "broken";
          const std::string &index = row[0], &name = row[1], &entry = row[2];
          if (all_pictures.count(name) != 0) {
            expected_pictures[name] = all_pictures.at(name);
          }
          // The message of a broken picture names it; that of a broken record, its archive and
          // entry.
          const std::string said = name == "-"
                                       ? index.substr(0, index.size() - 4) + ".BIN:" + entry + "]"
                                       : "/" + name + "]";
          std::istringstream messages(full.output);
          for (std::string line; std::getline(messages, line);) {
            if (line.ends_with(said)) {
              expected_messages += line + "\n";
            }
          }
        }
      }
      EXPECT_EQ(rows_of(list.output), expected_rows);
      EXPECT_EQ(list.errors, full_list.errors);
      EXPECT_EQ(list.status, broken ? 1 : 0);
      fs::remove_all(tree / "sel");
      const tool_run taken =
          trees.run(runner::native, "-q -o sel --only " + selection.words + " " + inputs);
      EXPECT_EQ(taken.status, list.status);
      EXPECT_EQ(taken.errors, full.errors);
      EXPECT_TRUE(trees.pictures(runner::native, "sel") == expected_pictures);
      std::string messages = taken.output;
      replace_all(messages, "sel/", "full/");
      EXPECT_EQ(messages, expected_messages);
    }
  }
}

// A screen is expanded over the one before it, and a short one shows what that left: screens
// passed over are caught up with, within an index file and across them.
TEST(Only, AScreenShowsWhatTheScreensBeforeItLeftAsInAFullRun) {
  tool_trees trees;
  trees.prepare(runner::native);
  const fs::path data = trees.tree(runner::native) / "data";
  const colour_words palette = sample_palette(4);
  std::vector<byte_vector> a(147, make_screen_bank(palette, {}));
  std::vector<byte_vector> b = a;
  a[0] = make_screen_bank(palette, {make_run_stream(sample_screen(1))});
  a[1] = make_screen_bank(palette, {make_run_stream(byte_vector(5000, 3))});
  a[5] = make_screen_bank(palette,
                          {make_run_stream(byte_vector(3000, 7)), make_run_stream(sample_screen(2)),
                           make_run_stream(byte_vector(100, 9))});
  a[7] = make_screen_bank(palette,
                          {make_run_stream(sample_screen(3)), make_run_stream(byte_vector(50, 1))});
  b[0] = make_screen_bank(palette, {make_run_stream(byte_vector(20000, 4))});
  write_pair(data, "A", lay_out_pair(a));
  write_pair(data, "B", lay_out_pair(b));
  ASSERT_EQ(trees.run(runner::native, "-q -o full data/A data/B").status, 0);
  const auto full = trees.pictures(runner::native, "full");
  ASSERT_EQ(full.size(), 8u);
  for (const char* selection : {"A001", "A002", "A004", "A006", "B000", "entry:5", "B*"}) {
    fs::remove_all(trees.tree(runner::native) / "sel");
    trees.run(runner::native, std::string("-q -o sel --only ") + selection + " data/A data/B");
    const auto taken = trees.pictures(runner::native, "sel");
    EXPECT_FALSE(taken.empty()) << selection;
    for (const auto& [name, bytes] : taken) {
      EXPECT_TRUE(bytes == full.at(name)) << selection << ": " << name;
    }
  }
}

// --gallery: index.html beside the pictures shows every picture file and what broke, also when
// the run ends with status 1, alike for any number of threads; -n's kept files are shown.
TEST(Gallery, APageBesideThePictures) {
  tool_trees trees;
  const fs::path tree = tree_of_shared_data(trees, runner::native);
  const struct {
    std::string arguments;
    int status;
    std::string not_shown;
    std::vector<std::string> shown;
    std::string obstacle = "out/"; // made first, as the table's obstacles are
  } cases[] = {
      {"-f png -o out data/CUT data/S",
       1,
       "CUT001.PNG",
       {"broken record![data/CUT.BIN:1]", "broken frame![out/CUT006.PNG]", "<b>entry 2</b>",
        "S092.PNG"}},
      {"-o out data/PICS", 1, "PICS02.BMP", {"PICS01.BMP"}, "out/PICS02.BMP/"},
      {"--only 'S09?,cut*' -f png -o out data/CUT data/S",
       1,
       "S080.PNG",
       {"S092.PNG", "broken record![data/CUT.BIN:1]"}},
      {"-n -o out data/PICS", 0, "PICSND.BMP", {"PICS05.BMP", "PICSNC.BMP"}, "out/PICS05.BMP"},
  };
  for (const auto& c : cases) {
    std::string first_page;
    for (const std::string jobs : {"-j 1", "-j 8"}) {
      fs::remove_all(tree / "out");
      make_obstacles(tree, c.obstacle);
      const tool_run result = trees.run(runner::native, "-q --gallery " + jobs + ' ' + c.arguments);
      EXPECT_EQ(result.status, c.status) << c.arguments;
      const std::string page = read_text(tree / "out" / "index.html");
      const auto pictures = trees.pictures(runner::native, "out");
      const std::regex image("<img ");
      EXPECT_EQ(std::distance(std::sregex_iterator(page.begin(), page.end(), image), {}),
                std::ptrdiff_t(pictures.size()));
      for (const auto& [name, bytes] : pictures) {
        EXPECT_NE(page.find("<img src=\"" + name + "\""), std::string::npos) << name;
      }
      for (const std::string& piece : c.shown) {
        EXPECT_NE(page.find(piece), std::string::npos) << piece;
      }
      EXPECT_EQ(page.find("\"" + c.not_shown + "\""), std::string::npos) << c.not_shown;
      first_page = first_page.empty() ? page : first_page;
      EXPECT_EQ(page, first_page) << jobs;
    }
  }
  // Listing writes nothing.
  EXPECT_EQ(trees.run(runner::native, "--gallery -l data/CUT").status, 1);
  EXPECT_FALSE(fs::exists(tree / "bin" / "index.html"));
}

// The -o folder is made only once a file is to go there: not for a run that asks no one, finds
// nothing, lists or previews.
TEST(OutputFolder, IsMadeOnlyForAFileToGoThere) {
  tool_trees trees;
  const fs::path tree = tree_of_shared_data(trees, runner::native);
  for (const char* arguments :
       {"", "data/NOPE", "'data/Z*'", "-l data/PICS", "-l --insert data/edits data/ins/PICS"}) {
    const tool_run result = trees.run(runner::native, std::string("-q -o out/new ") + arguments);
    EXPECT_FALSE(fs::exists(tree / "out")) << arguments << ": status " << result.status;
  }
  EXPECT_EQ(trees.run(runner::native, "-q --gallery -o out/new 'data/Z*'").status, 0);
  EXPECT_TRUE(fs::exists(tree / "out" / "new" / "index.html")) << "the page, empty, is written";
}

// A copy run from the folder its build installs the program into saves into the current
// folder, also when started through a link or when that folder is reached through one; the same
// program copied elsewhere saves beside itself. --help says which.
TEST(Installed, ACopyInItsInstalledFolderSavesIntoTheCurrentFolder) {
  tool_trees trees;
  const fs::path tree = fs::canonical(tree_of_shared_data(trees, runner::native));
  for (const char* folder : {"prefix/bin", "links", "elsewhere", "work"}) {
    fs::create_directories(tree / folder);
  }
  fs::copy_file(OFB2BMP_AS_INSTALLED, tree / "prefix/bin/ofb2bmp");
  fs::copy_file(OFB2BMP_AS_INSTALLED, tree / "elsewhere/ofb2bmp");
  fs::create_symlink(tree / "prefix/bin/ofb2bmp", tree / "links/ofb2bmp");
  fs::remove(OFB2BMP_INSTALLED_PREFIX);
  fs::create_directory_symlink(tree / "prefix", OFB2BMP_INSTALLED_PREFIX);
  const auto run = [&](const std::string& program, const std::string& arguments) {
    return shell("cd '" + (tree / "work").string() + "' && ../" + program + " " + arguments +
                 " >stdout 2>&1");
  };
  const std::string installed =
      "the current folder, as this copy is installed in " + (tree / "prefix/bin/").string() + "\n";
  const std::string beside =
      "the folder that holds this copy of ofb2bmp: " + (tree / "elsewhere/").string() + "\n";
  for (const auto& [program, pictures, said] : {std::tuple{"prefix/bin/ofb2bmp", "work", installed},
                                                {"links/ofb2bmp", "work", installed},
                                                {"elsewhere/ofb2bmp", "elsewhere", beside}}) {
    fs::remove_all(tree / "work");
    fs::create_directory(tree / "work");
    EXPECT_EQ(run(program, "-q ../data/two/A"), 0) << program;
    EXPECT_EQ(trees.pictures(runner::native, pictures).size(), 17u) << program;
    EXPECT_EQ(run(program, "--help"), 0);
    const std::string help = read_text(tree / "work/stdout");
    EXPECT_NE(help.find("Without -o, pictures go into " + said), std::string::npos) << help;
  }
  EXPECT_EQ(trees.pictures(runner::native, "prefix/bin").size(), 0u);
  fs::remove(OFB2BMP_INSTALLED_PREFIX);
}

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
  const bool japanese_locale = shell("locale -a 2>/dev/null | grep -qix 'ja_JP.utf-*8'") == 0;
  ASSERT_TRUE(japanese_locale || std::getenv("OFB2BMP_REQUIRE_JAPANESE_LOCALE") == nullptr)
      << "the ja_JP.UTF-8 locale is required";
  for (const auto& c : cases) {
    if (!c.before.empty() && !japanese_locale) {
      std::cout << "the ja_JP.UTF-8 locale is not installed: the Shift-JIS name is not tried\n";
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

// What an editor saves, read alike by the Linux build and by the .exe under Wine: each frame of
// a bank saved again by ImageMagick in another form is unchanged, and nothing is refused.
TEST(UnderWine, PicturesSavedByAnEditorAreReadAlike) {
  if (shell("convert -version 2>/dev/null | grep -q ImageMagick") != 0) {
    ASSERT_EQ(std::getenv("OFB2BMP_REQUIRE_IMAGE_READER"), nullptr) << "ImageMagick needed";
    GTEST_SKIP() << "ImageMagick is not installed";
  }
  const char* const forms[] = {"-type Palette -compress RLE BMP3:BFIL000.BMP", // RLE8
                               "-type TrueColor BMP3:BFIL001.BMP",
                               "BFIL002.BMP", // its own choice: RLE8, 124-byte header
                               "-type TrueColorAlpha BMP:BFIL003.BMP", // 32-bit bit fields
                               "PNG48:BFIL004.PNG",                    // 16 bits a channel
                               "PNG8:BFIL005.PNG",
                               "PNG64:BFIL006.PNG"}; // RGBA, all opaque
  tool_trees trees;
  std::string expected = text_of(text::insert_list_header);
  for (int k = 0; k < 7; ++k) {
    const std::string name = std::string(forms[k]).substr(std::string(forms[k]).rfind(':') + 1);
    expected +=
        "data/BFIL.OFB\t" + name + "\t" + std::to_string(k) + "\t0\tunchanged\tno\t0\t-\t0\t-\t-\n";
  }
  for (const runner who : runners()) {
    trees.prepare(who);
    const fs::path tree = trees.tree(who);
    write_pair(tree / "data", "BFIL", frame_bank_sample(1, 3, 6));
    fs::create_directory(tree / "pictures");
    fs::create_directory(tree / "edits");
    extract_quietly(tree / "data" / "BFIL.OFB", tree / "pictures");
    for (int k = 0; k < 7; ++k) {
      ASSERT_EQ(shell("cd '" + tree.string() + "/edits' && convert ../pictures/BFIL00" +
                      std::to_string(k) + ".BMP " + forms[k]),
                0);
    }
    const tool_run result = trees.run(who, "-l --insert edits data/BFIL");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output, trees.expected_text(who, expected, '/'));
  }
}

} // namespace
