#include <gtest/gtest.h>

#include <cstring>

#include "archive/archive.hpp"
#include "bitmap/bitmap_file.hpp"
#include "driver/driver.hpp"
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

TEST(ExpandRuns, PacketsOfEveryLengthClass) {
  const byte_vector literal_128 = [] {
    byte_vector bytes{0x80};
    for (int i = 0; i < 128; ++i) {
      bytes.push_back(static_cast<std::uint8_t>(i));
    }
    return bytes;
  }();
  const runs_case cases[] = {
      {"repeat 0x00 writes twice", 2, {0x00, 0x41}, {0x41, 0x41}, true},
      {"repeat 0x7F writes 129 times", 129, {0x7F, 0x42}, byte_vector(129, 0x42), true},
      {"literal 0xFF copies one byte", 1, {0xFF, 0x43}, {0x43}, true},
      {"literal 0x80 copies 128 bytes", 128, literal_128,
       byte_vector(literal_128.begin() + 1, literal_128.end()), true},
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
  for (const runs_case& c : cases) {
    const byte_vector stream = stream_of(c.wanted, c.packets);
    byte_vector output(200, 0xEE);
    const run_expansion result =
        expand_runs({stream.data(), stream.size()}, output.data(), output.size());
    EXPECT_EQ(result.complete, c.complete) << c.what;
    EXPECT_EQ(result.produced, c.output.size()) << c.what;
    EXPECT_TRUE(std::equal(c.output.begin(), c.output.end(), output.begin())) << c.what;
    EXPECT_EQ(output[c.output.size()], 0xEE) << c.what << ": nothing written beyond";
  }
}

TEST(ExpandRuns, ShortHeadIsIncomplete) {
  const byte_vector stream = stream_of(4, {});
  byte_vector output(8);
  for (std::size_t size = 0; size < 8; ++size) {
    EXPECT_FALSE(expand_runs({stream.data(), size}, output.data(), output.size()).complete);
  }
}

TEST(ExpandRuns, OutputIsClippedAtTheDestinationEnd) {
  const byte_vector stream = stream_of(0xFFFFFF, {0x7F, 0x01, 0xFD, 1, 2, 3, 0x7F, 0x09});
  byte_vector output(140, 0);
  const run_expansion result = expand_runs({stream.data(), stream.size()}, output.data(), 131);
  EXPECT_TRUE(result.complete);
  EXPECT_EQ(result.produced, 131u);
  EXPECT_EQ(output[128], 1);
  EXPECT_EQ(output[129], 1);
  EXPECT_EQ(output[130], 2);
  EXPECT_EQ(output[131], 0);
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

TEST(ExpandRuns, RoundTripsTheSampleEncoder) {
  const byte_vector screen = sample_screen(42);
  const byte_vector stream = make_run_stream(screen);
  byte_vector output(screen.size());
  const run_expansion result =
      expand_runs({stream.data(), stream.size()}, output.data(), output.size());
  EXPECT_TRUE(result.complete);
  EXPECT_EQ(output, screen);
}

// ---- reading the index ----------------------------------------------------------------------

// A stream that says it is `size` bytes long but gives only `given` of them (0xAB each), then
// fails or ends.
struct short_stream {
  std::int64_t size;
  std::int64_t given;
  bool fails;
  std::int64_t at = 0;
};

ssize_t read_short(void* cookie, char* into, std::size_t wanted) {
  auto& stream = *static_cast<short_stream*>(cookie);
  const std::int64_t count =
      std::min<std::int64_t>(static_cast<std::int64_t>(wanted), stream.given - stream.at);
  if (count <= 0) {
    return stream.fails ? -1 : 0;
  }
  std::memset(into, 0xAB, static_cast<std::size_t>(count));
  stream.at += count;
  return count;
}

int seek_short(void* cookie, off64_t* offset, int whence) {
  auto& stream = *static_cast<short_stream*>(cookie);
  stream.at = (whence == SEEK_END ? stream.size : whence == SEEK_CUR ? stream.at : 0) + *offset;
  *offset = stream.at;
  return 0;
}

TEST(IndexFiles, AnIndexThatCannotBeReadWholeIsRefused) {
  const short_stream cases[] = {{136, 136, false},       {136, 135, false},     {136, 0, true},
                                {3048, 2048, true},      {0, 0, true},          {1, 0, false},
                                {100000, 100000, false}, {100000, 62151, false}};
  scratch_folder folder;
  for (short_stream stream : cases) {
    test_state t(folder.path);
    std::FILE* index = fopencookie(&stream, "rb", {read_short, nullptr, seek_short, nullptr});
    const bool whole = stream.given >= std::min<std::int64_t>(stream.size, index_buffer_size);
    EXPECT_EQ(read_index_stream(t.state, index), whole ? stream.size : -1)
        << stream.size << " bytes, " << stream.given << " given";
    std::fclose(index);
  }
}

// ---- index walk ----------------------------------------------------------------------------

constexpr std::size_t frame_bank_entries = 17;
constexpr std::size_t screen_bank_entries = 147;
constexpr std::size_t direct_entries = 381;

std::vector<byte_vector> padded(std::vector<byte_vector> records, std::size_t count,
                                const byte_vector& filler) {
  records.resize(count, filler);
  return records;
}

class IndexWalk : public ::testing::Test {
protected:
  scratch_folder folder;
  test_state t{folder.path};

  std::string extract(const archive_pair& pair) {
    write_pair(folder.path, "T", pair);
    std::memcpy(t.state.index_buffer.get(), pair.index.data(),
                std::min(pair.index.size(), index_buffer_size));
    t.state.archive_path = (folder.path / "T.BIN").string();
    t.state.archive_stream = std::fopen(t.state.archive_path.c_str(), "rb");
    extract_pair(t.state, "T", static_cast<std::int64_t>(pair.index.size()));
    std::fclose(t.state.archive_stream);
    t.state.archive_stream = nullptr;
    return t.console_text();
  }

  std::string bitmap(const std::string& suffix) {
    return (folder.path / ("T" + suffix + ".BMP")).string();
  }
  bool exists(const std::string& suffix) { return std::filesystem::exists(bitmap(suffix)); }
  std::size_t bitmap_count() {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(folder.path),
                                                  std::filesystem::directory_iterator())) -
           2;
  }
  std::string broken_frame(const std::string& suffix) {
    return "broken frame![" + bitmap(suffix) + "]\n";
  }
  std::string broken_record(int entry) {
    return "broken record![" + t.state.archive_path + ":" + std::to_string(entry) + "]\n";
  }
};

const colour_words palette = sample_palette(1);
const byte_vector empty_bank = make_frame_bank(palette, {});

TEST_F(IndexWalk, CountsDownAndCompletesEvenWithoutBitmaps) {
  EXPECT_EQ(extract(lay_out_pair(padded({}, frame_bank_entries, empty_bank))),
            countdown(16) + "\ncompleted.\n");
  EXPECT_EQ(bitmap_count(), 0u);
  EXPECT_FALSE(t.state.incomplete);
}

TEST_F(IndexWalk, UnknownIndexSizesYieldNothing) {
  for (const std::size_t size : {0, 8, 135, 137, 1175, 3047, 3056}) {
    archive_pair pair = lay_out_pair(padded({}, 381, make_direct_record(1, 1, {0})));
    pair.index.resize(size);
    EXPECT_EQ(extract(pair), "") << size;
  }
  EXPECT_EQ(bitmap_count(), 0u);
}

TEST_F(IndexWalk, DirectFramesOnePerEntryNumberedByEntry) {
  std::vector<byte_vector> records;
  records.push_back(make_direct_record(2, 1, {0x7C00, 0x001F}));
  records.push_back(make_direct_record(0, 5, {}));
  records.push_back(make_direct_record(3, 0, {}));
  const std::string text = extract(lay_out_pair(padded(records, direct_entries, records[0])));
  EXPECT_EQ(text, countdown(380) + "\ncompleted.\n");
  EXPECT_EQ(bitmap_count(), direct_entries);
  EXPECT_EQ(read_whole_file(bitmap("01")).size(), 54u);
  EXPECT_EQ(read_whole_file(bitmap("02")).size(), 54u);
  const byte_vector first = read_whole_file(bitmap("00"));
  EXPECT_EQ(first, read_whole_file(bitmap("NC")));
  ASSERT_EQ(first.size(), 62u);
  EXPECT_EQ(first[54], 0xF8); // blue
  EXPECT_EQ(first[59], 0xF8); // red
}

TEST_F(IndexWalk, DamagedDirectRecordsAreReportedAndKeepTheOthersNames) {
  std::vector<byte_vector> records(direct_entries, make_direct_record(1, 1, {0x7FFF}));
  records[1] = {0, 0, 0, 1, 0};                        // too short for its head
  records[2] = make_direct_record(2, 2, {1, 2, 3, 4}); // pixels cut off below
  records[2].pop_back();
  records[3] = make_direct_record(1, 1, {0});
  records[3][2] = 0x02; // 512 x 512 words claimed: larger than the pixel buffer holds
  records[3][4] = 0x02;
  const std::string text = extract(lay_out_pair(records));
  EXPECT_NE(text.find(broken_record(1)), std::string::npos) << text.substr(0, 200);
  EXPECT_NE(text.find(broken_frame("02")), std::string::npos);
  EXPECT_NE(text.find(broken_frame("03")), std::string::npos);
  EXPECT_TRUE(exists("00"));
  EXPECT_FALSE(exists("01"));
  EXPECT_FALSE(exists("02"));
  EXPECT_FALSE(exists("03"));
  EXPECT_TRUE(exists("04"));
  EXPECT_EQ(bitmap_count(), direct_entries - 3);
  EXPECT_TRUE(t.state.incomplete);
}

TEST_F(IndexWalk, RecordsPastTheArchiveEndAreBroken) {
  archive_pair pair = lay_out_pair(padded({}, direct_entries, make_direct_record(1, 1, {0})));
  pair.index[8 * 380 + 1] = 0x7F; // a sector far past the end
  pair.index[8 * 379 + 1] = 0xFF; // the largest sector there is
  pair.index[8 * 379 + 2] = 0xFF;
  pair.index[8 * 379 + 3] = 0xFF;
  const std::string text = extract(pair);
  EXPECT_NE(text.find(broken_record(379)), std::string::npos);
  EXPECT_NE(text.find(broken_record(380)), std::string::npos);
  EXPECT_EQ(bitmap_count(), direct_entries - 2);
}

TEST_F(IndexWalk, FrameBanksOfDifferingSizesNumberedAcrossRecords) {
  std::vector<byte_vector> records;
  for (unsigned b = 0; b < frame_bank_entries; ++b) {
    std::vector<indexed_frame> frames;
    for (unsigned k = 0; k < 10; ++k) {
      frames.push_back(
          colour_bar_frame(b * 10 + k, 1 + static_cast<int>(k), 2 + static_cast<int>(b)));
    }
    records.push_back(b == 3 ? empty_bank : make_frame_bank(palette, frames));
  }
  extract(lay_out_pair(records));
  EXPECT_EQ(bitmap_count(), 160u);
  const byte_vector after_empty = read_whole_file(bitmap("01E")); // bank 4 follows on at 30
  EXPECT_EQ(le32(after_empty, 18), 1u);
  EXPECT_EQ(le32(after_empty, 22), 6u);
  const byte_vector last = read_whole_file(bitmap("09F"));
  EXPECT_EQ(le32(last, 18), 10u);
  EXPECT_EQ(le32(last, 22), 18u);
  EXPECT_FALSE(exists("0A0"));
  const byte_vector first = read_whole_file(bitmap("000"));
  EXPECT_EQ(le32(first, 18), 1u);
  EXPECT_EQ(le32(first, 22), 2u);
}

TEST_F(IndexWalk, DamagedFrameBanks) {
  std::vector<byte_vector> records(frame_bank_entries,
                                   make_frame_bank(palette, {colour_bar_frame(0, 4, 4)}));
  records[1].resize(515);                     // too short for the head: counts no frames
  records[2] = make_palette_head(palette, 3); // tables missing: counts its 3 frames
  records[3] = make_frame_bank(palette, {colour_bar_frame(0, 4, 4), colour_bar_frame(1, 4, 4)});
  records[3].pop_back(); // the second frame is cut short
  records[4] = make_frame_bank(palette, {colour_bar_frame(0, 4, 4)});
  records[4][516 + 4] = 0x04; // 1028 x 1028 pixels claimed
  records[4][516 + 4 + 2] = 0x04;
  const std::string text = extract(lay_out_pair(records));
  EXPECT_NE(text.find(broken_record(1)), std::string::npos);
  EXPECT_NE(text.find(broken_record(2)), std::string::npos);
  // record 0: frame 0; record 2: frames 1-3; record 3: frames 4, 5; record 4: frame 6
  EXPECT_TRUE(exists("000"));
  EXPECT_TRUE(exists("004"));
  EXPECT_NE(text.find(broken_frame("005")), std::string::npos);
  EXPECT_NE(text.find(broken_frame("006")), std::string::npos);
  EXPECT_TRUE(exists("007"));
  EXPECT_TRUE(exists("012")) << "the last record still has its own number";
  EXPECT_EQ(bitmap_count(), 1u + 1 + 12);
  EXPECT_TRUE(t.state.incomplete);
}

byte_vector screen_bank_with(const std::vector<byte_vector>& streams) {
  return make_screen_bank(palette, streams);
}

TEST_F(IndexWalk, ScreenBanksOfAtMost576BytesAreSkipped) {
  // One stream of 57 bytes makes a record of exactly 516 + 4 + 57 = 577 bytes.
  const byte_vector stream = stream_of(
      100, {0x7F, 1,  0x7F, 2,  0x7F, 3,  0x7F, 4,  0x7F, 5,  0x7F, 6,  0x7F, 7,  0x7F, 8,
            0x7F, 9,  0x7F, 10, 0x7F, 11, 0x7F, 12, 0x7F, 13, 0x7F, 14, 0x7F, 15, 0x7F, 16,
            0x7F, 17, 0x7F, 18, 0x7F, 19, 0x7F, 20, 0x7F, 21, 0x7F, 22, 0x7F, 23, 0x7F, 24});
  byte_vector long_enough = screen_bank_with({stream});
  ASSERT_EQ(long_enough.size(), 576u);
  long_enough.push_back(0);
  std::vector<byte_vector> records(screen_bank_entries, long_enough);
  records[0].pop_back(); // exactly 576 bytes: skipped, no number taken
  extract(lay_out_pair(records));
  EXPECT_TRUE(exists("000"));
  EXPECT_TRUE(exists("091"));
  EXPECT_FALSE(exists("092"));
}

TEST_F(IndexWalk, ShortScreensShowThePreviousScreenBeneath) {
  byte_vector full(352 * 240, 7);
  byte_vector top(352, 9);
  std::vector<byte_vector> records(
      screen_bank_entries,
      screen_bank_with({make_run_stream(full), make_run_stream(top), stream_of(0, {})}));
  extract(lay_out_pair(records));
  const byte_vector second = read_whole_file(bitmap("001"));
  ASSERT_EQ(second.size(), 1078u + 352 * 240);
  EXPECT_EQ(second[1078 + 352 * 239], 9) << "top row (stored last) from the short stream";
  EXPECT_EQ(second[1078], 7) << "bottom row from the screen before";
  EXPECT_EQ(read_whole_file(bitmap("002")), second) << "L = 0 shows the buffer as it was";
  EXPECT_TRUE(exists("1B8"));
}

TEST_F(IndexWalk, DamagedScreenBanks) {
  const byte_vector good = screen_bank_with({make_run_stream(sample_screen(0))});
  std::vector<byte_vector> records(screen_bank_entries, good);
  records[1].resize(600); // the stream runs past the record
  records[2] = make_palette_head(palette, 50);
  records[2].resize(600); // offset table of 200 bytes does not fit: counts 50
  records[3] = good;
  records[3][516 + 1] = 0x7F; // stream offset past the record
  records[4] = screen_bank_with({stream_of(0xFFFFFF, {0x7F, 0x05})});
  records[4].resize(9000, 0x7F); // runs far past the pixel buffer: clipped, not broken
  archive_pair pair = lay_out_pair(records);
  // Lengths of 2 GiB and more are broken and take no number; one byte less is decoded.
  const byte_vector length_2g{0x80, 0x00, 0x00, 0x00};
  const byte_vector length_below_2g{0x7F, 0xFF, 0xFF, 0xFF};
  std::copy(length_2g.begin(), length_2g.end(), pair.index.begin() + 8 * 5 + 4);
  std::copy(length_below_2g.begin(), length_below_2g.end(), pair.index.begin() + 8 * 6 + 4);
  const std::string text = extract(pair);
  EXPECT_NE(text.find(broken_record(5)), std::string::npos);
  EXPECT_TRUE(exists("036")) << "the record after it decoded";
  EXPECT_NE(text.find(broken_frame("001")), std::string::npos);
  EXPECT_NE(text.find(broken_record(2)), std::string::npos);
  EXPECT_NE(text.find(broken_frame("034")), std::string::npos);
  EXPECT_TRUE(exists("035"));
  const byte_vector clipped = read_whole_file(bitmap("035"));
  EXPECT_EQ(clipped[1078 + 352 * 239], 5);
  EXPECT_EQ(clipped[1078], 0x7F);
  EXPECT_TRUE(exists("0C2")) << "the last screen keeps its number";
  EXPECT_FALSE(exists("0C3"));
  EXPECT_TRUE(t.state.incomplete);
}

TEST_F(IndexWalk, RecordsLongerThanTheBufferAreReadUpToIt) {
  std::vector<byte_vector> records(frame_bank_entries,
                                   make_frame_bank(palette, {colour_bar_frame(0, 4, 4)}));
  byte_vector& big = records.back();
  big[516 + 1] = 0x08; // the frame starts 512 KiB into the pixel area, past what is read
  big.resize(record_buffer_size + 1000);
  const std::string text = extract(lay_out_pair(records));
  EXPECT_EQ(t.state.record_size, record_buffer_size);
  EXPECT_NE(text.find(broken_frame("010")), std::string::npos);
  EXPECT_TRUE(exists("00F"));
}

} // namespace
