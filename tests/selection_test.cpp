// --only values as the command line gives them: what each item selects, and which are refused.
#include <gtest/gtest.h>

#include <limits>
#include <tuple>

#include "driver/selection.hpp"

namespace {

TEST(Selection, ItemsAreNamesOrEntryRangesAndAnythingElseIsRefused) {
  for (const auto& [value, wrong] : std::vector<std::pair<std::string, std::string>>{
           {"", ""},
           {"a,,b", ""},
           {"a,", ""},
           {"entry:", "entry:"},
           {"entry:-3", "entry:-3"},
           {"entry:5-2", "entry:5-2"},
           {"Entry:x", "Entry:x"},
           {"entry:1234567890", "entry:1234567890"},
           {"entry:1,7-3", "7-3"},
       }) {
    picture_selection selection;
    std::string named;
    EXPECT_FALSE(add_to_selection(selection, value, named)) << value;
    EXPECT_EQ(named, wrong) << value;
  }
  picture_selection selection;
  std::string named;
  ASSERT_TRUE(add_to_selection(selection, "ENTRY:0-9,17-17,40-,PICS*,3,entry:123456789", named));
  ASSERT_EQ(selection.items.size(), 4u);
  const selection_item& entries = selection.items[0];
  EXPECT_EQ(entries.given, "ENTRY:0-9,17-17,40-");
  EXPECT_TRUE(entries.name_pattern.empty());
  ASSERT_EQ(entries.entries.size(), 3u);
  const int most = std::numeric_limits<std::int32_t>::max();
  EXPECT_EQ(std::vector<int>({entries.entries[0].first, entries.entries[0].last,
                              entries.entries[1].first, entries.entries[1].last,
                              entries.entries[2].first, entries.entries[2].last}),
            std::vector<int>({0, 9, 17, 17, 40, most}));
  // A number after a name is a name again.
  EXPECT_EQ(selection.items[1].name_pattern, "PICS*");
  EXPECT_EQ(selection.items[2].name_pattern, "3");
  EXPECT_EQ(selection.items[3].entries[0].last, 123456789);
  // A pair is passed over unread only where no item may select from it: its base name and
  // every name item differ before a wildcard, in ASCII letters of either case.
  for (const auto& [value, base, may] :
       std::vector<std::tuple<std::string, std::string, bool>>{{"gfil0*", "GFIL", true},
                                                               {"PICS*", "GFIL", false},
                                                               {"p?cs", "PXYZ", true},
                                                               {"AB", "AC", false},
                                                               {"a*", "ABC", true},
                                                               {"\xC9", "E", true},
                                                               {"E", "\xC9", true},
                                                               {"entry:3", "Z", true}}) {
    picture_selection one;
    ASSERT_TRUE(add_to_selection(one, value, named));
    picture_source source;
    source.base_name = base;
    EXPECT_EQ(may_select_from(one, source), may) << value << " " << base;
  }
}

} // namespace
