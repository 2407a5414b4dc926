#include <gtest/gtest.h>

#include <cstring>

#include "archive/archive.hpp"
#include "archive/rebuild.hpp"
#include "common/system_files.hpp"
#include "driver/driver.hpp"
#include "sample_writer.hpp"
#include "test_support.hpp"

namespace {

// ---- run-length packing (expansion is checked against a reference by the expand_runs
// fuzz target, over seeds of every packet length) -----------------------------------------

// Packing a byte at a time, as the format's rules say: the longest repeat from here, else a
// literal up to the next pair of equal bytes.
byte_vector packed_bytewise(const byte_vector& pixels) {
  byte_vector out;
  for (std::size_t at = 0; at < pixels.size();) {
    std::size_t run = 1;
    while (at + run < pixels.size() && run < 129 && pixels[at + run] == pixels[at]) {
      ++run;
    }
    if (run >= 2) {
      out.insert(out.end(), {static_cast<std::uint8_t>(run - 2), pixels[at]});
      at += run;
      continue;
    }
    std::size_t end = at + 1;
    while (end < pixels.size() && end - at < 128 &&
           (end + 1 == pixels.size() || pixels[end + 1] != pixels[end])) {
      ++end;
    }
    out.push_back(static_cast<std::uint8_t>(256 - (end - at)));
    out.insert(out.end(), pixels.begin() + static_cast<std::ptrdiff_t>(at),
               pixels.begin() + static_cast<std::ptrdiff_t>(end));
    at = end;
  }
  return out;
}

// Packing looks at eight bytes a step: runs and literals of every length around a word, a
// limit (a repeat of 129, a literal of 128) or the end, with the pair that ends a literal at
// every place in a word; and the costliest input, a single byte before each pair, fits the room
// made for it.
TEST(PackRuns, WordStepsPackAsByteSteps) {
  const std::size_t lengths[] = {1, 2, 3, 7, 8, 9, 10, 16, 17, 120, 127, 128, 129, 130, 137, 300};
  for (const std::size_t repeat : lengths) {
    for (const std::size_t literal : lengths) {
      byte_vector pixels(literal % 5, 0xEE);
      for (int twice = 0; twice < 2; ++twice) {
        pixels.insert(pixels.end(), repeat, static_cast<std::uint8_t>(repeat + twice));
        for (std::size_t i = 0; i < literal; ++i) {
          pixels.push_back(static_cast<std::uint8_t>(i % 7 == 3 ? 200 : i % 2 * 100 + i % 3));
        }
      }
      if (repeat == 1) {
        pixels.clear();
        for (std::size_t i = 0; i < 3 * literal + 1; ++i) {
          pixels.push_back(static_cast<std::uint8_t>(i % 3 == 0 ? 1 : 2));
        }
      }
      byte_vector packed = {0xAB};
      append_runs(packed, pixels.data(), pixels.size());
      byte_vector expected = packed_bytewise(pixels);
      expected.insert(expected.begin(), 0xAB);
      ASSERT_EQ(packed, expected) << repeat << ' ' << literal;
    }
  }
}

// ---- reading the index ----------------------------------------------------------------------

// The check after an insertion compares fingerprints: pictures that differ in any one byte of
// their pixels or palette, at any length, must not share one.
TEST(Fingerprints, DifferInEveryPlaceOfEveryLength) {
  for (std::size_t size = 0; size < 80; ++size) {
    shown_picture shown{{}, picture_status::ok, 1, 1, byte_vector(size, 7), byte_vector(size)};
    std::set<std::uint64_t> seen = {fingerprint_of(shown)};
    for (std::size_t at = 0; at < 2 * size; ++at) {
      std::uint8_t& byte = at < size ? shown.pixels[at] : shown.palette[at - size];
      byte ^= 0x80;
      EXPECT_TRUE(seen.insert(fingerprint_of(shown)).second) << size << ", " << at;
      byte ^= 0x80;
    }
  }
}

// A file that says it is `size` bytes long (-1: it cannot tell) but gives only the first
// `given` of them.
struct short_file {
  std::int64_t size;
  std::int64_t given;
};

TEST(IndexFiles, AnIndexThatCannotBeReadWholeIsRefused) {
  const short_file cases[] = {{136, 136},      {136, 135}, {136, 0},         {3048, 2048},
                              {0, 0},          {1, 0},     {100000, 100000}, {100000, 62151},
                              {100000, 62152}, {-1, 0}};
  scratch_folder folder;
  for (const short_file c : cases) {
    readable_file index;
    index.size = c.size;
    index.read_at = [c](std::uint64_t offset, std::uint8_t* into, std::size_t count) {
      const std::int64_t got = std::clamp<std::int64_t>(c.given - std::int64_t(offset), 0, count);
      std::memset(into, 0xAB, static_cast<std::size_t>(got));
      return static_cast<std::size_t>(got);
    };
    std::vector<std::uint8_t> buffer(index_buffer_size);
    const bool whole = c.given >= std::min<std::int64_t>(c.size, index_buffer_size);
    EXPECT_EQ(read_index_bytes(index, buffer.data(), buffer.size()), whole ? c.size : -1)
        << c.size << " bytes, " << c.given << " given";
  }
  // A read that fails (a folder opened as an archive) gives nothing, and gives up at once.
  std::FILE* folder_stream = std::fopen(folder.path.c_str(), "rb");
  ASSERT_NE(folder_stream, nullptr);
  std::uint8_t record[16];
  EXPECT_EQ(read_file_at(folder_stream, 0, record, sizeof record), 0u);
  std::fclose(folder_stream);
}

// Screens passed over are caught up with in order, each bank from its own archive (the last
// opened is not taken for the next); an archive that cannot be opened is named.
TEST(IndexFiles, ScreensPassedOverAreCaughtUpWithFromTheirOwnArchives) {
  scratch_folder folder;
  const colour_words palette = sample_palette(1);
  for (const unsigned number : {1u, 2u}) {
    write_file(folder.path / ("S" + std::to_string(number) + ".BIN"),
               make_screen_bank(palette, {make_run_stream(sample_screen(number))}));
  }
  const std::string first = (folder.path / "S1.BIN").string();
  const std::string second = (folder.path / "S2.BIN").string();
  const std::uint32_t length = static_cast<std::uint32_t>(fs::file_size(first));
  std::vector<std::uint8_t> record(record_buffer_size);
  std::vector<std::uint8_t> screen(pixel_buffer_size);
  std::string failed;
  int error_code = 0;
  for (const auto& [order, last] :
       {std::pair{std::vector{first, second}, second}, {std::vector{second, first}, first}}) {
    std::vector<skipped_screens> skipped;
    for (const std::string& archive : order) {
      skipped.push_back({archive, 0, length});
    }
    EXPECT_TRUE(catch_up_screens(skipped, open_file_on_disk, record.data(), screen.data(), failed,
                                 error_code));
    const byte_vector shown = sample_screen(last == first ? 1 : 2);
    EXPECT_TRUE(std::equal(shown.begin(), shown.end(), screen.begin())) << last;
  }
  const std::string missing = (folder.path / "NONE.BIN").string();
  EXPECT_FALSE(catch_up_screens({{first, 0, length}, {missing, 0, length}}, open_file_on_disk,
                                record.data(), screen.data(), failed, error_code));
  EXPECT_EQ(failed, missing);
  EXPECT_NE(error_code, 0);
}

// The index walk and the record decoders are checked by the extract_pair fuzz target against a
// reference decoder, over seeds of damaged records of every kind and pairs cut at every length;
// the bitmaps' layout, by the picture reader's tests.

} // namespace
