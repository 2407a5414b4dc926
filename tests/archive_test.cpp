#include <gtest/gtest.h>

#include <cstring>

#include "archive/archive.hpp"
#include "common/system_files.hpp"
#include "driver/driver.hpp"
#include "driver/extraction_sinks.hpp"
#include "sample_writer.hpp"
#include "test_support.hpp"

namespace {

// ---- run-length expansion ----------------------------------------------------------------

byte_vector stream_of(std::uint32_t wanted, const byte_vector& packets) {
  byte_vector stream(5, 0);
  append_u24be(stream, wanted);
  stream.insert(stream.end(), packets.begin(), packets.end());
  return stream;
}

struct runs_case {
  const char* what;
  std::uint32_t wanted;
  byte_vector packets;
  byte_vector output;
  bool complete;
};

// Where L ends the stream, and streams cut short (every packet length: the test below).
TEST(ExpandRuns, StopsAtLAndReportsStreamsCutShort) {
  const runs_case cases[] = {
      {"the packet crossing L is written whole",
       4,
       {0x01, 0x2A, 0xFE, 0x10, 0x20},
       {0x2A, 0x2A, 0x2A, 0x10, 0x20},
       true},
      {"L = 0 produces nothing", 0, {0x7F, 0x42}, {}, true},
      {"packets after L are not read", 2, {0x00, 0x41, 0x7F}, {0x41, 0x41}, true},
      {"a stream without packets is short of its source", 3, {}, {}, false},
      {"a repeat without its byte", 9, {0x01, 0x2A, 0x05}, {0x2A, 0x2A, 0x2A}, false},
      {"a literal cut short", 9, {0xFC, 0x01, 0x02, 0x03}, {}, false},
  };
  const byte_vector head = stream_of(4, {});
  byte_vector unused(8);
  for (std::size_t size = 0; size < head.size(); ++size) {
    EXPECT_FALSE(expand_runs({head.data(), size}, unused.data(), unused.size()).complete) << size;
  }
  for (const runs_case& c : cases) {
    const byte_vector stream = stream_of(c.wanted, c.packets);
    byte_vector past_the_end = stream; // a literal beyond the stream, never to be read
    past_the_end.insert(past_the_end.end(), {0xFF, 0x77});
    byte_vector output(200, 0xEE);
    const run_expansion result =
        expand_runs({past_the_end.data(), stream.size()}, output.data(), output.size());
    EXPECT_EQ(result.complete, c.complete) << c.what;
    EXPECT_EQ(result.produced, c.output.size()) << c.what;
    EXPECT_TRUE(std::equal(c.output.begin(), c.output.end(), output.begin())) << c.what;
    EXPECT_EQ(output[c.output.size()], 0xEE) << c.what << ": nothing written beyond";
  }
}

// Packing: a repeat run from two equal bytes up to 129, literals of up to 128 between them.
TEST(PackRuns, RunsAndLiteralsUpToTheirLongest) {
  byte_vector pixels = {5, 5, 7, 8, 8, 8, 9};
  pixels.resize(7 + 130, 4);
  for (std::uint8_t i = 0; i < 130; ++i) {
    pixels.push_back(i % 2 != 0 ? i : i + 100);
  }
  // The 130th 4 opens the longest literal; its last three bytes make one more.
  byte_vector expected = {0x00, 5, 0xFF, 7, 0x01, 8, 0xFF, 9, 0x7F, 4, 0x80, 4};
  expected.insert(expected.end(), pixels.end() - 130, pixels.end() - 3);
  expected.push_back(0xFD);
  expected.insert(expected.end(), pixels.end() - 3, pixels.end());
  byte_vector packed;
  append_runs(packed, pixels.data(), pixels.size());
  EXPECT_EQ(packed, expected);
}

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
// limit, or the end, with the pair that ends a literal at every place in a word; and the
// costliest input, a single byte before each pair, fits the room made for it.
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

// Every packet length, after a prefix that shifts its alignment, with the destination ending
// at, inside or after the packet: the bytes up to the end are the packet's, the rest untouched.
TEST(ExpandRuns, EveryPacketLengthAtEveryClipKeepsTheBytesAround) {
  for (std::size_t length = 1; length <= 129; ++length) {
    for (const bool literal : {true, false}) {
      if ((literal && length > 128) || (!literal && length < 2)) {
        continue;
      }
      byte_vector packet_bytes(length);
      byte_vector packets;
      if (literal) {
        packets.push_back(static_cast<std::uint8_t>(256 - length));
        for (std::size_t i = 0; i < length; ++i) {
          packet_bytes[i] = static_cast<std::uint8_t>(i + 1);
          packets.push_back(packet_bytes[i]);
        }
      } else {
        packet_bytes.assign(length, 0x5A);
        packets.insert(packets.end(), {static_cast<std::uint8_t>(length - 2), 0x5A});
      }
      for (const std::size_t prefix : {0u, 1u, 3u, 129u}) {
        byte_vector stream = stream_of(static_cast<std::uint32_t>(prefix + length), {});
        for (std::size_t i = 0; i < prefix; ++i) {
          stream.insert(stream.end(), {0xFF, 0x11});
        }
        stream.insert(stream.end(), packets.begin(), packets.end());
        for (const std::size_t room : {length, length - 1, length / 2, std::size_t{1}}) {
          if (room == 0) {
            continue;
          }
          byte_vector output(prefix + length + 32, 0xEE);
          const run_expansion result =
              expand_runs({stream.data(), stream.size()}, output.data(), prefix + room);
          byte_vector expected(prefix, 0x11);
          expected.insert(expected.end(), packet_bytes.begin(),
                          packet_bytes.begin() + static_cast<std::ptrdiff_t>(room));
          expected.resize(output.size(), 0xEE);
          EXPECT_TRUE(result.complete);
          EXPECT_EQ(result.produced, prefix + room);
          EXPECT_EQ(output, expected) << (literal ? "literal " : "repeat ") << length << " after "
                                      << prefix << ", room " << room;
        }
      }
    }
  }
}

// ---- reading the index ----------------------------------------------------------------------

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

// ---- the index walk -------------------------------------------------------------------------

class IndexWalk : public ::testing::Test {
protected:
  scratch_folder folder;
  test_state t{folder.path};
  const picture_source source{"T", "", (folder.path / "T.BIN").string()};
  std::size_t last_record_size = 0; // the bytes read for the last entry
  void SetUp() override { t.state.quiet = true; }

  // Extracts the pair quietly; returns the messages.
  std::string extract(const archive_pair& pair) {
    write_pair(folder.path, "T", pair);
    std::memcpy(t.state.index_buffer.get(), pair.index.data(),
                std::min(pair.index.size(), index_buffer_size));
    int error_code = 0;
    EXPECT_TRUE(open_file_on_disk(source.archive_path, t.state.archive, error_code));
    const auto note_size = [this](const walked_entry& walked) {
      last_record_size = walked.record.size;
    };
    walk_pair_in(t.state, static_cast<std::int64_t>(pair.index.size()), false,
                 extraction_sink(t.state, source), note_size);
    t.state.archive = {};
    return t.console_text();
  }

  fs::path bitmap(const std::string& suffix) { return folder.path / ("T" + suffix + ".BMP"); }
  bool exists(const std::string& suffix) { return fs::exists(bitmap(suffix)); }
  std::size_t bitmap_count() { return files_in(folder.path).size() - 2; } // and T.OFB, T.BIN
  std::string broken_frame(const std::string& suffix) {
    return "broken frame![" + bitmap(suffix).string() + "]\n";
  }
  std::string broken_record(int entry) {
    return "broken record![" + source.archive_path + ":" + std::to_string(entry) + "]\n";
  }
};

const colour_words palette = sample_palette(1);

// Every entry of the direct-colour index points at sector 1, 10 bytes: a 2 x 1 frame of blue
// then red. Other index sizes give nothing.
TEST_F(IndexWalk, ReadsEachEntrysRecordFromItsSector) {
  archive_pair pair{{}, byte_vector(2048, 0)};
  for (int entry = 0; entry < 381; ++entry) {
    pair.index.insert(pair.index.end(), {0xEE, 0, 0, 1, 0, 0, 0, 10});
  }
  pair.archive.insert(pair.archive.end(), {0xEE, 0xEE, 0, 2, 0, 1, 0x7C, 0x00, 0x00, 0x1F, 0xEE});
  EXPECT_EQ(extract(pair), "");
  EXPECT_EQ(bitmap_count(), 381u);
  const byte_vector file = read_whole_file(bitmap("NC"));
  ASSERT_EQ(file.size(), 62u);
  EXPECT_EQ(byte_vector(file.begin() + 54, file.end()),
            (byte_vector{0xF8, 0, 0, 0, 0, 0xF8, 0, 0}));
  for (const std::size_t size : {0, 8, 135, 137, 1175, 3047, 3056}) {
    fs::remove_all(folder.path);
    fs::create_directory(folder.path);
    archive_pair other = pair;
    other.index.resize(size, 0);
    EXPECT_EQ(extract(other), "") << size;
    EXPECT_EQ(bitmap_count(), 0u) << size;
  }
}

TEST_F(IndexWalk, DirectFramesAreNumberedByEntryWhateverIsBroken) {
  std::vector<byte_vector> records(381, make_direct_record(1, 1, {0x7FFF}));
  records[1] = {0, 0, 0, 1, 0};                        // too short for its head
  records[2] = make_direct_record(2, 2, {1, 2, 3, 4}); // pixels cut off below
  records[2].pop_back();
  records[3] = make_direct_record(1, 1, {0});
  records[3][2] = 0x02; // 512 x 512 words claimed: larger than the pixel buffer holds
  records[3][4] = 0x02;
  records[4] = make_direct_record(0, 5, {});
  archive_pair pair = lay_out_pair(records);
  pair.index[8 * 380 + 1] = 0xFF; // a sector far past the end
  EXPECT_EQ(extract(pair),
            broken_record(1) + broken_frame("02") + broken_frame("03") + broken_record(380));
  EXPECT_EQ(bitmap_count(), 381u - 4);
  EXPECT_EQ(read_whole_file(bitmap("04")).size(), 54u) << "a frame without pixels";
  EXPECT_TRUE(exists("NB"));
  EXPECT_TRUE(t.state.incomplete);
}

TEST_F(IndexWalk, FrameBanksNumberAcrossRecordsAndCountWhatTheyDeclare) {
  std::vector<byte_vector> records(17, make_frame_bank(palette, {colour_bar_frame(0, 4, 4)}));
  records[0] = make_frame_bank(palette, {colour_bar_frame(0, 1, 2), colour_bar_frame(1, 3, 5)});
  records[1] = make_frame_bank(palette, {});
  records[2].resize(515);                     // too short for the head: counts no frames
  records[3] = make_palette_head(palette, 3); // tables missing: counts its 3 frames
  records[4] = make_frame_bank(palette, {colour_bar_frame(0, 4, 4), colour_bar_frame(1, 4, 4)});
  records[4].pop_back();      // the second frame is cut short
  records[5][516 + 4] = 0x04; // 1028 x 1028 pixels claimed
  records[5][516 + 4 + 2] = 0x04;
  records[16][516 + 1] = 0x08; // starts 512 KiB into the pixel area, past what is read
  records[16].resize(record_buffer_size + 1000);
  // Record 0: frames 0, 1; 3: 2-4; 4: 5, 6; 5: 7; 6-15: 8-17; 16: 18.
  EXPECT_EQ(extract(lay_out_pair(records)), broken_record(2) + broken_record(3) +
                                                broken_frame("006") + broken_frame("007") +
                                                broken_frame("012"));
  EXPECT_EQ(last_record_size, record_buffer_size);
  const byte_vector second = read_whole_file(bitmap("001"));
  EXPECT_EQ(le32(second, 18), 3u);
  EXPECT_EQ(le32(second, 22), 5u);
  EXPECT_TRUE(exists("005"));
  EXPECT_TRUE(exists("011"));
  EXPECT_EQ(bitmap_count(), 2u + 1 + 10);
}

TEST_F(IndexWalk, ScreenBanks) {
  const byte_vector good =
      make_screen_bank(palette, {make_run_stream(byte_vector(352 * 240, 7)),
                                 make_run_stream(byte_vector(352, 9)), stream_of(0, {})});
  std::vector<byte_vector> records(147, good);
  records[1] = make_screen_bank(palette, {stream_of(2, {0x00, 5})});
  records[1].resize(576); // exactly 576 bytes: skipped, no number taken
  records[2] = records[1];
  records[2].push_back(0); // 577 bytes: decoded
  records[3].resize(600);  // all three streams run past the record
  records[4] = make_palette_head(palette, 50);
  records[4].resize(600); // offset table of 200 bytes does not fit: counts 50
  records[5] = make_screen_bank(palette, {stream_of(0xFFFFFF, {0x7F, 0x05})});
  records[5].resize(9000, 0x7F); // runs far past the pixel buffer: clipped, not broken
  records[146] = make_palette_head(palette, 50); // 50 screens sharing one empty stream
  records[146].resize(palette_head_size + 4 * 50, 0);
  const byte_vector empty_stream = stream_of(0, {});
  records[146].insert(records[146].end(), empty_stream.begin(), empty_stream.end());
  archive_pair pair = lay_out_pair(records);
  // Lengths of 2 GiB and more are broken and take no number; one byte less is decoded.
  const std::uint8_t length_2g[] = {0x80, 0, 0, 0};
  const std::uint8_t below_2g[] = {0x7F, 0xFF, 0xFF, 0xFF};
  std::copy(std::begin(length_2g), std::end(length_2g), pair.index.begin() + 8 * 6 + 4);
  std::copy(std::begin(below_2g), std::end(below_2g), pair.index.begin() + 8 * 7 + 4);
  // Record 0: 0-2; 2: 3; 3: 4-6; 4: 7-56; 5: 57; 7: 58-60; ... 145: 472-474; 146: 475-524.
  EXPECT_EQ(extract(pair), broken_frame("004") + broken_frame("005") + broken_frame("006") +
                               broken_record(4) + broken_record(6));
  const byte_vector second = read_whole_file(bitmap("001"));
  ASSERT_EQ(second.size(), 1078u + 352 * 240);
  EXPECT_EQ(second[1078 + 352 * 239], 9) << "top row (stored last) from the short stream";
  EXPECT_EQ(second[1078], 7) << "bottom row from the screen before";
  EXPECT_EQ(read_whole_file(bitmap("002")), second) << "L = 0 shows the buffer as it was";
  EXPECT_EQ(read_whole_file(bitmap("003"))[1078 + 352 * 239], 5);
  const byte_vector clipped = read_whole_file(bitmap("039"));
  EXPECT_EQ(clipped[1078 + 352 * 239], 5);
  EXPECT_EQ(clipped[1078], 0x7F);
  EXPECT_TRUE(exists("03A")) << "the record below 2 GiB";
  EXPECT_TRUE(exists("20C")) << "the last screen keeps its number";
  EXPECT_FALSE(exists("20D"));
  // Only a whole first screen hides what earlier screens left: --only need not catch up then.
  const byte_buffer scratch = zeroed_bytes(pixel_buffer_size);
  const auto covers = [&scratch](const byte_vector& record, std::size_t length) {
    return first_screen_covers_all({record.data(), record.size()},
                                   static_cast<std::uint32_t>(length), scratch.get());
  };
  EXPECT_TRUE(covers(good, good.size()));
  const byte_vector short_screen =
      make_screen_bank(palette, {make_run_stream(byte_vector(352 * 240 - 1, 7))});
  EXPECT_FALSE(covers(short_screen, short_screen.size()));
  EXPECT_FALSE(covers(records[3], records[3].size()));
  EXPECT_FALSE(covers(records[4], records[4].size()));
  EXPECT_FALSE(covers(good, 576)); // lengths never decoded
  EXPECT_FALSE(covers(good, 0x80000000u));
}

// A picture of each kind is what the sample writer drew. (PNG files are checked against the
// bitmaps by the insertion test that gives every pair back unchanged from either format.)
TEST(SamplePairs, GiveWhatTheSampleWriterDrew) {
  scratch_folder folder(fast_storage());
  write_pair(folder.path, "PICS", direct_sample(8, 6));
  write_pair(folder.path, "BFIL", frame_bank_sample(2, 3, 9));
  write_pair(folder.path, "GFIL", screen_bank_sample(1));
  for (const char* name : {"PICS", "BFIL", "GFIL"}) {
    extract_quietly(folder.path / (name + std::string(".OFB")), folder.path);
  }
  EXPECT_EQ(read_whole_file(folder.path / "PICS1A.BMP"),
            bitmap_file(8, 6, rgb_of(gradient_frame(26, 8, 6))));
  // Bank 5 holds screen 500 with palette 5; frame bank 1 holds frames 100 and 101.
  EXPECT_EQ(read_whole_file(folder.path / "GFIL005.BMP"),
            bitmap_file(352, 240, sample_screen(500), rgb_of(sample_palette(5))));
  const byte_vector bar_file = read_whole_file(folder.path / "BFIL003.BMP");
  const indexed_frame bar = colour_bar_frame(101, static_cast<int>(le32(bar_file, 18)),
                                             static_cast<int>(le32(bar_file, 22)));
  EXPECT_EQ(bar_file, bitmap_file(bar.width, bar.height, bar.pixels, rgb_of(sample_palette(1))));
}

} // namespace
