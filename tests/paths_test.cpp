#include <gtest/gtest.h>

#include "driver/paths.hpp"

namespace {

struct input_case {
  const char* input;
  const char* pattern;
  const char* prefix;
};

TEST(PathRules, PosixSearchPatternAndFolderPrefix) {
  const input_case cases[] = {
      {"data/PICS.OFB", "data/PICS.OFB", "data/"},
      {"data/PICS.BIN", "data/PICS.OFB", "data/"},
      {"data/*", "data/*.OFB", "data/"},
      {"PICS", "PICS.OFB", ""},
      {"", ".OFB", ""},
      {"data/v1.2/PICS.OFB", "data/v1.2/PICS.OFB", "data/v1.2/"},
      {"../data/PICS.OFB", "../data/PICS.OFB", "../data/"},
      {"A.X.OFB", "A.X.OFB", ""},
      {"/abs/p?cs.bin", "/abs/p?cs.OFB", "/abs/"},
      {"dir.d/", "dir.d/.OFB", "dir.d/"},
      {"C:\\DATA\\PICS", "C:\\DATA\\PICS.OFB", ""}, // a backslash is an ordinary byte here
  };
  for (const input_case& c : cases) {
    EXPECT_EQ(search_pattern(c.input, posix_path_syntax), c.pattern) << c.input;
    EXPECT_EQ(folder_prefix(c.input, posix_path_syntax), c.prefix) << c.input;
  }
}

TEST(PathRules, WindowsSearchPatternAndFolderPrefix) {
  const input_case cases[] = {
      {"D:\\DATA\\PICS.OFB", "D:\\DATA\\PICS.OFB", "D:\\DATA\\"},
      {"D:\\DATA\\PICS.BIN", "D:\\DATA\\PICS.OFB", "D:\\DATA\\"},
      {"D:\\DATA\\*", "D:\\DATA\\*.OFB", "D:\\DATA\\"},
      {"D:\\V1.2\\PICS.OFB", "D:\\V1.2\\PICS.OFB", "D:\\V1.2\\"},
      {"..\\DATA\\PICS.OFB", "..\\DATA\\PICS.OFB", "..\\DATA\\"},
      {"D:/DATA/PICS.OFB", "D:/DATA/PICS.OFB", "D:/DATA/"},
      {"D:PICS", "D:PICS.OFB", "D:"},
      {"PICS", "PICS.OFB", ""},
  };
  for (const input_case& c : cases) {
    EXPECT_EQ(search_pattern(c.input, shift_jis_path_syntax), c.pattern) << c.input;
    EXPECT_EQ(folder_prefix(c.input, shift_jis_path_syntax), c.prefix) << c.input;
  }
}

TEST(PathRules, DoubleByteCharactersHideTheirSecondByte) {
  // "\x95\x5C" is one Shift-JIS character whose second byte is '\'; "\x83\x2E" is not a
  // character (0x2E cannot be a second byte) and stays two: a lead byte and a dot... but the
  // scan must still never look at the byte after a lead byte.
  const std::string folder = "D:\\\x95\x5C\\";
  EXPECT_EQ(folder_prefix(folder + "PICS.OFB", shift_jis_path_syntax), folder);
  EXPECT_EQ(folder_prefix("D:\\A\x95\x5C", shift_jis_path_syntax), "D:\\");
  EXPECT_EQ(search_pattern("D:\\A\x95\x5C", shift_jis_path_syntax), "D:\\A\x95\x5C.OFB");
  // Without the lead-byte test the same bytes end a folder name.
  const path_syntax plain{"\\/:", nullptr};
  EXPECT_EQ(folder_prefix("D:\\A\x95\x5C", plain), "D:\\A\x95\x5C");
  // A lead byte at the very end is harmless.
  EXPECT_EQ(folder_prefix("D:\\A\x95", shift_jis_path_syntax), "D:\\");
  EXPECT_EQ(base_name("\x95\x5C.OFB", shift_jis_path_syntax), "\x95\x5C");
}

// Lead bytes are 0x81-0x9F and 0xE0-0xFC; the byte after one is never a separator.
TEST(PathRules, ShiftJisLeadBytesEndExactlyAtTheirBounds) {
  const std::pair<unsigned char, bool> bytes[] = {{0x80, false}, {0x81, true},  {0x9F, true},
                                                  {0xA0, false}, {0xDF, false}, {0xE0, true},
                                                  {0xFC, true},  {0xFD, false}};
  for (const auto& [byte, lead] : bytes) {
    EXPECT_EQ(shift_jis_lead_byte(byte), lead) << std::hex << int{byte};
    const std::string path = std::string("D:\\A") + static_cast<char>(byte) + "\\B.OFB";
    EXPECT_EQ(folder_prefix(path, shift_jis_path_syntax), lead ? "D:\\" : path.substr(0, 6))
        << std::hex << int{byte};
  }
}

TEST(PathRules, BaseNameStopsAtTheLastDot) {
  EXPECT_EQ(base_name("PICS.OFB", posix_path_syntax), "PICS");
  EXPECT_EQ(base_name("A.X.OFB", posix_path_syntax), "A.X");
  EXPECT_EQ(base_name("A.Y.OFB", posix_path_syntax), "A.Y");
  EXPECT_EQ(base_name("pics.ofb", posix_path_syntax), "pics");
  EXPECT_EQ(base_name(".OFB", posix_path_syntax), "");
  EXPECT_EQ(base_name("NODOT", posix_path_syntax), "NODOT");
}

TEST(PathRules, ArchiveNameReplacesTheLastExtension) {
  EXPECT_EQ(archive_name("D:\\DATA\\PICS.OFB", shift_jis_path_syntax), "D:\\DATA\\PICS.BIN");
  EXPECT_EQ(archive_name("data/A.X.OFB", posix_path_syntax), "data/A.X.BIN");
  EXPECT_EQ(archive_name("v1.2/pics.ofb", posix_path_syntax), "v1.2/pics.BIN");
  EXPECT_EQ(archive_name("v1.2/NODOT", posix_path_syntax), "v1.2/NODOT.BIN");
}

} // namespace
