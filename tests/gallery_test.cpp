// The gallery page made from hand-made entries: escaping, grouping and thumbnail sizes, broken
// pictures in place, and which pictures count as on disk.
#include <gtest/gtest.h>

#include <set>

#include "pictures/gallery.hpp"

namespace {

gallery_entry entry(const std::string& index, const std::string& file, std::int32_t record,
                    std::int32_t width, std::int32_t height,
                    picture_kind kind = picture_kind::frame,
                    picture_status status = picture_status::ok, const std::string& message = "") {
  return {index, file, {kind, 0, record, 0}, status, width, height, message};
}

// Where `piece` is in the page from `from` on; fails when it is missing.
std::size_t at(const std::string& page, const std::string& piece, std::size_t from = 0) {
  const std::size_t found = page.find(piece, from);
  EXPECT_NE(found, std::string::npos) << piece;
  return found;
}

TEST(Gallery, NamesAreEscapedInTextAndPercentEncodedInLinks) {
  // Shift-JIS, a control byte, a UTF-16 surrogate and an overlong form escaped; UTF-8 kept.
  const std::string hostile = "a\"<&'#% b\x83\x65\x83\x58\x83\x67\xE7\x94\xBB\x7F\xED\xA0\x80"
                              "\xF0\x9F\x98\x80\xE0\x80\x80.BMP";
  // A two-byte character, one whose second byte is the lowest, the last character there is
  // (U+10FFFF), and one past it.
  const std::string page = gallery_page({entry(
      "d>\x83\xC3\xA9\xE2\x80\x94\xF4\x8F\xBF\xBF\xF4\x90\x80\x80/X.OFB", hostile, 0, 2, 2)});
  at(page, "<h2>d&gt;\\x83\xC3\xA9\xE2\x80\x94\xF4\x8F\xBF\xBF\\xF4\\x90\\x80\\x80/X.OFB</h2>");
  const std::string text = "a&quot;&lt;&amp;&#39;#% b\\x83e\\x83X\\x83g\xE7\x94\xBB\\x7F\\xED\\xA0"
                           "\\x80\xF0\x9F\x98\x80\\xE0\\x80\\x80.BMP";
  at(page, "<figcaption>" + text +
               "<br>2\xC3\x97"
               "2 frame</figcaption>");
  at(page, "data-name=\"" + text + "\"");
  at(page, "alt=\"" + text + "\"");
  const std::string link =
      "a%22%3C%26%27%23%25%20b%83e%83X%83g%E7%94%BB%7F%ED%A0%80%F0%9F%98%80%E0%80%80.BMP";
  at(page, "href=\"" + link + "\"><img src=\"" + link + "\"");
  EXPECT_EQ(page.find('\x83'), std::string::npos);
  at(page, "<meta charset=\"utf-8\">");
}

// Small pictures grow by whole factors up to the 128-pixel box, sharp; large ones shrink into it.
TEST(Gallery, PicturesAreGroupedByIndexFileAndEntryWithBrokenOnesInPlace) {
  const std::string page = gallery_page({
      entry("A.OFB", "A000.BMP", 0, 16, 16),
      entry("A.OFB", "A001.BMP", 0, 9, 1000, picture_kind::frame, picture_status::broken_frame,
            "broken frame![out/A001.BMP]"),
      entry("A.OFB", "A002.BMP", 0, 43, 20),
      entry("A.OFB", "", 1, 0, 0, picture_kind::frame, picture_status::broken_record,
            "broken record![A.BIN:1]"),
      entry("B.OFB", "B000.PNG", 0, 352, 240, picture_kind::screen),
      entry("B.OFB", "B001.BMP", 1, 0, 5, picture_kind::screen),
      entry("B.OFB", "B002.BMP", 1, 64, 65),
      entry("C.OFB", "C00.BMP", 7, 129, 1, picture_kind::direct),
      entry("C.OFB", "C01.BMP", 7, 3, 1000, picture_kind::direct),
  });
  const std::vector<std::string> in_order = {
      "<h1>7 pictures from 3 index files, 2 broken</h1>",
      "<nav><ul>\n<li><a href=\"#f0\">A.OFB</a> 2 pictures, 2 broken</li>\n"
      "<li><a href=\"#f1\">B.OFB</a> 3 pictures, 0 broken</li>\n"
      "<li><a href=\"#f2\">C.OFB</a> 2 pictures, 0 broken</li>\n</ul></nav>",
      "<section id=\"f0\">\n<h2>A.OFB",
      "<b>entry 0</b>",
      "<img src=\"A000.BMP\" width=\"128\" height=\"128\" class=\"px\" loading=\"lazy\"",
      "A001.BMP<br>9\xC3\x97"
      "1000 frame<br>broken frame![out/A001.BMP]</figcaption>",
      "src=\"A002.BMP\" width=\"86\" height=\"40\" class=\"px\"",
      "</div>\n<div class=\"record\"><b>entry 1</b>",
      "<figcaption>broken record![A.BIN:1]</figcaption>",
      "<section id=\"f1\">\n<h2>B.OFB",
      "<img src=\"B000.PNG\" width=\"128\" height=\"87\" loading=\"lazy\"",
      "<b>entry 1</b>",
      "href=\"B001.BMP\">no pixels</a>",
      "src=\"B002.BMP\" width=\"64\" height=\"65\" loading",
      "<section id=\"f2\">\n<h2>C.OFB</h2>\n<div class=\"record\"><b>entry 7</b>",
      "src=\"C00.BMP\" width=\"128\" height=\"1\" loading",
      "src=\"C01.BMP\" width=\"1\" height=\"128\" loading",
  };
  std::size_t last = 0;
  for (const std::string& piece : in_order) {
    last = at(page, piece, last);
  }
  EXPECT_EQ(page.find("src=\"A001.BMP\""), std::string::npos); // broken: nothing to load
}

TEST(Gallery, OnlyPicturesOnDiskAreShownAndOnlyTheLastOfOneName) {
  const std::set<std::string> on_disk = {"P00.BMP", "P01.BMP", "P03.BMP"};
  const auto there = [&](const std::string& name) { return on_disk.count(name) == 1; };
  const std::vector<gallery_entry> shown = pictures_on_disk(
      {entry("a/P.OFB", "P00.BMP", 0, 1, 1), entry("b/P.OFB", "P00.BMP", 0, 1, 1),
       entry("b/P.OFB", "P01.BMP", 1, 1, 1),
       entry("b/P.OFB", "", 2, 0, 0, picture_kind::frame, picture_status::broken_record),
       entry("b/P.OFB", "P02.BMP", 3, 1, 1), entry("b/P.OFB", "P03.BMP", 4, 1, 1)},
      there);
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_EQ(shown[0].index_path, "b/P.OFB");
  EXPECT_EQ(shown[1].file_name, "P01.BMP");
  EXPECT_EQ(shown[2].status, picture_status::broken_record);
}

} // namespace
