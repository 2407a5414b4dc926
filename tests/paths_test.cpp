#include <gtest/gtest.h>

#include "driver/paths.hpp"

namespace {

struct path_case {
  const char* input;
  bool windows; // Windows syntax in the Shift-JIS code page, else POSIX
  const char* pattern;
  const char* prefix;
  const char* base;
  const char* archive;
};

TEST(PathRules, PatternPrefixBaseAndArchiveOfEachInput) {
  const path_case cases[] = {
      {"data/PICS.BIN", false, "data/PICS.OFB", "data/", "data/PICS", "data/PICS.BIN"},
      {"data/*", false, "data/*.OFB", "data/", "data/*", "data/*.BIN"},
      {"", false, ".OFB", "", "", ".BIN"},
      {"data/v1.2/A.X.OFB", false, "data/v1.2/A.X.OFB", "data/v1.2/", "data/v1.2/A.X",
       "data/v1.2/A.X.BIN"},
      {"../p?cs.ofb", false, "../p?cs.OFB", "../", "../p?cs", "../p?cs.BIN"},
      {"dir.d/", false, "dir.d/.OFB", "dir.d/", "dir.d/", "dir.d/.BIN"},
      {"C:\\DATA\\PICS", false, "C:\\DATA\\PICS.OFB", "", "C:\\DATA\\PICS", "C:\\DATA\\PICS.BIN"},
      {"D:\\V1.2\\PICS.BIN", true, "D:\\V1.2\\PICS.OFB", "D:\\V1.2\\", "D:\\V1.2\\PICS",
       "D:\\V1.2\\PICS.BIN"},
      {"D:/DATA/*", true, "D:/DATA/*.OFB", "D:/DATA/", "D:/DATA/*", "D:/DATA/*.BIN"},
      {"D:PICS", true, "D:PICS.OFB", "D:", "D:PICS", "D:PICS.BIN"},
      // "\x95\x5C" is one Shift-JIS character whose second byte is a backslash.
      {"D:\\\x95\x5C\\P.OFB", true, "D:\\\x95\x5C\\P.OFB", "D:\\\x95\x5C\\", "D:\\\x95\x5C\\P",
       "D:\\\x95\x5C\\P.BIN"},
      {"D:\\A\x95\x5C", true, "D:\\A\x95\x5C.OFB", "D:\\", "D:\\A\x95\x5C", "D:\\A\x95\x5C.BIN"},
      {"D:\\A\x95", true, "D:\\A\x95.OFB", "D:\\", "D:\\A\x95", "D:\\A\x95.BIN"},
      {"\x95\x5C.BIN", true, "\x95\x5C.OFB", "", "\x95\x5C", "\x95\x5C.BIN"}, // from the first byte
      {"/PICS", false, "/PICS.OFB", "/", "/PICS", "/PICS.BIN"},
  };
  for (const path_case& c : cases) {
    const path_syntax& syntax = c.windows ? shift_jis_path_syntax : posix_path_syntax;
    EXPECT_EQ(search_pattern(c.input, syntax), c.pattern) << c.input;
    EXPECT_EQ(folder_prefix(c.input, syntax), c.prefix) << c.input;
    EXPECT_EQ(base_name(c.input, syntax), c.base) << c.input;
    EXPECT_EQ(archive_name(c.input, syntax), c.archive) << c.input;
  }
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

// What a name that found nothing is offered: nearest first, letter case and extensions ignored,
// beginnings counted whatever their distance, a short name allowed one edit only.
TEST(PathRules, NearestNamesToAMistypedOne) {
  const struct {
    const char* wanted;
    std::vector<std::string> names;
    std::size_t most;
    std::vector<std::string> nearest;
  } cases[] = {
      {"scraa.bin", {"BFIL.OFB", "SCRB.OFB", "SCRA.OFB"}, 3, {"SCRA.OFB", "SCRB.OFB"}},
      {"PIC.OFB", {"PICS.OFB", "XYZ.OFB", "PICTURES.OFB"}, 3, {"PICS.OFB", "PICTURES.OFB"}},
      {"PICTURES2", {"PIC.OFB"}, 3, {"PIC.OFB"}},
      {"GFIL5", {"GFIL1.OFB", "GFIL.OFB", "GFIL2.OFB", "GXIL55.OFB"}, 2, {"GFIL1.OFB", "GFIL.OFB"}},
      {"AB", {"XY.OFB", "XXXAB.OFB", "AX.OFB"}, 3, {"AX.OFB"}},
      {"PIX", {"PAY.OFB"}, 3, {"PAY.OFB"}},
      {"ABCD", {"XYCD.OFB", "AXCD.OFB", "XXXX.OFB"}, 3, {"AXCD.OFB", "XYCD.OFB"}},
      {"ZZZZ", {"PICS.OFB"}, 3, {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(nearest_names(c.wanted, c.names, c.most), c.nearest) << c.wanted;
  }
}

} // namespace
