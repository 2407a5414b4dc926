// Checks the layouts the sample writers produce, using small readers written here so a fault
// in the writers cannot hide behind the same fault in the extractor.
#include "sample_writer.hpp"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

std::uint32_t be(const byte_vector& bytes, std::size_t at, int width) {
  std::uint32_t value = 0;
  for (int i = 0; i < width; ++i) {
    value = value << 8 | bytes.at(at + static_cast<std::size_t>(i));
  }
  return value;
}

struct packet_counts {
  int literal = 0;
  int repeat = 0;
};

// Reference unpacker; also checks each packet's length limit and that the greedy rule held.
byte_vector unpack(const byte_vector& packets, packet_counts& counts) {
  byte_vector out;
  std::size_t at = 0;
  while (at < packets.size()) {
    const unsigned control = packets[at++];
    if (control >= 0x80) {
      const std::size_t length = 256 - control;
      EXPECT_LE(at + length, packets.size());
      for (std::size_t i = 1; i < length; ++i) {
        EXPECT_NE(packets.at(at + i), packets.at(at + i - 1)) << "equal pair left in a literal";
      }
      out.insert(out.end(), packets.begin() + static_cast<std::ptrdiff_t>(at),
                 packets.begin() + static_cast<std::ptrdiff_t>(at + length));
      at += length;
      ++counts.literal;
    } else {
      out.insert(out.end(), control + 2u, packets.at(at++));
      ++counts.repeat;
    }
  }
  return out;
}

byte_vector ramp_bytes(std::size_t count) {
  byte_vector bytes;
  for (std::size_t i = 0; i < count; ++i) {
    bytes.push_back(static_cast<std::uint8_t>(i));
  }
  return bytes;
}

byte_vector cat(byte_vector a, const byte_vector& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(SampleWriter, PackRunsExactPacketsAtTheLengthLimits) {
  struct row {
    const char* name;
    byte_vector pixels;
    byte_vector packets;
  };
  const byte_vector literal128 = ramp_bytes(128);
  const std::vector<row> rows = {
      {"empty", {}, {}},
      {"single byte", {9}, {0xFF, 9}},
      {"pair", {5, 5}, {0x00, 5}},
      {"three distinct", {1, 2, 3}, {0xFD, 1, 2, 3}},
      {"129 equal", byte_vector(129, 7), {0x7F, 7}},
      {"130 equal", byte_vector(130, 7), {0x7F, 7, 0xFF, 7}},
      {"131 equal", byte_vector(131, 7), {0x7F, 7, 0x00, 7}},
      {"128 distinct", literal128, cat({0x80}, literal128)},
      {"129 distinct", ramp_bytes(129), cat(cat({0x80}, literal128), {0xFF, 128})},
      {"literal stops at a pair", {1, 2, 3, 3, 4}, {0xFE, 1, 2, 0x00, 3, 0xFF, 4}},
  };
  for (const row& r : rows) {
    EXPECT_EQ(pack_runs(r.pixels), r.packets) << r.name;
  }
}

TEST(SampleWriter, PackRunsRoundTripsWithNoPairInsideALiteral) {
  byte_vector mixed = cat(ramp_bytes(300), byte_vector(400, 0xAA));
  mixed.insert(mixed.end(), {1, 1, 2, 2, 3, 4, 4, 4});
  const std::vector<byte_vector> inputs = {byte_vector(258, 0), byte_vector(1000, 3),
                                           ramp_bytes(513),     mixed,
                                           sample_screen(7),    sample_screen(14600)};
  for (const byte_vector& pixels : inputs) {
    packet_counts counts;
    EXPECT_EQ(unpack(pack_runs(pixels), counts), pixels) << "input of " << pixels.size();
  }
}

TEST(SampleWriter, SampleScreenUsesBothPacketTypes) {
  const byte_vector screen = sample_screen(3);
  ASSERT_EQ(screen.size(), 352u * 240u);
  packet_counts counts;
  unpack(pack_runs(screen), counts);
  EXPECT_GT(counts.literal, 0);
  EXPECT_GT(counts.repeat, 0);
}

TEST(SampleWriter, RunStreamHeader) {
  const byte_vector pixels = cat(byte_vector(70000, 4), {1, 2});
  const byte_vector stream = make_run_stream(pixels);
  EXPECT_EQ(byte_vector(stream.begin(), stream.begin() + 5), byte_vector(5, 0));
  EXPECT_EQ(be(stream, 5, 3), 70002u);
  EXPECT_EQ(byte_vector(stream.begin() + 8, stream.end()), pack_runs(pixels));
}

TEST(SampleWriter, DirectRecordLayout) {
  EXPECT_EQ(make_direct_record(2, 1, {0x7FFF, 0x8001}),
            (byte_vector{0, 0, 0, 2, 0, 1, 0x7F, 0xFF, 0x80, 0x01}));
  EXPECT_THROW(make_direct_record(2, 2, {1, 2, 3}), std::invalid_argument);
}

TEST(SampleWriter, PaletteHead) {
  colour_words palette(256, 0);
  palette[0] = 0x1234;
  palette[255] = 0x7FFF;
  const byte_vector head = make_palette_head(palette, 0x0102);
  ASSERT_EQ(head.size(), 516u);
  EXPECT_EQ(be(head, 0, 2), 0x1234u);
  EXPECT_EQ(be(head, 510, 2), 0x7FFFu);
  EXPECT_EQ(be(head, 512, 2), 0u);
  EXPECT_EQ(be(head, 514, 2), 0x0102u);
  EXPECT_THROW(make_palette_head(colour_words(255, 0), 1), std::invalid_argument);
}

TEST(SampleWriter, FrameBankTablesPointAtEachFrame) {
  const std::vector<indexed_frame> frames = {colour_bar_frame(1, 5, 3), colour_bar_frame(22, 16, 9),
                                             colour_bar_frame(3, 1, 1)};
  const byte_vector bank = make_frame_bank(sample_palette(0), frames);
  const std::size_t n = frames.size();
  ASSERT_EQ(be(bank, 514, 2), n);
  const std::size_t pixel_area = 516 + 8 * n;
  std::size_t expected_offset = 0;
  for (std::size_t k = 0; k < n; ++k) {
    EXPECT_EQ(bank[516 + 4 * k], 0);
    const std::uint32_t offset = be(bank, 516 + 4 * k + 1, 3);
    EXPECT_EQ(offset, expected_offset);
    EXPECT_EQ(be(bank, 516 + 4 * n + 4 * k, 2), frames[k].width);
    EXPECT_EQ(be(bank, 516 + 4 * n + 4 * k + 2, 2), frames[k].height);
    const auto begin = bank.begin() + static_cast<std::ptrdiff_t>(pixel_area + offset);
    EXPECT_EQ(byte_vector(begin, begin + static_cast<std::ptrdiff_t>(frames[k].pixels.size())),
              frames[k].pixels);
    expected_offset += frames[k].pixels.size();
  }
  EXPECT_EQ(bank.size(), pixel_area + expected_offset);
  EXPECT_THROW(make_frame_bank(sample_palette(0), {{2, 2, {1, 2, 3}}}), std::invalid_argument);
}

TEST(SampleWriter, ScreenBankStreamsDecodeFromTheirOffsets) {
  const std::vector<byte_vector> screens = {sample_screen(5), sample_screen(600)};
  const std::vector<byte_vector> streams = {make_run_stream(screens[0]),
                                            make_run_stream(screens[1])};
  const byte_vector bank = make_screen_bank(sample_palette(2), streams);
  ASSERT_EQ(be(bank, 514, 2), 2u);
  const std::size_t packed_area = 516 + 4 * streams.size();
  const std::vector<std::size_t> starts = {packed_area + be(bank, 517, 3),
                                           packed_area + be(bank, 521, 3), bank.size()};
  EXPECT_EQ(bank[516], 0);
  EXPECT_EQ(bank[520], 0);
  for (std::size_t k = 0; k < screens.size(); ++k) {
    // Streams sit back to back, so each one ends where the next begins.
    const byte_vector stream(bank.begin() + static_cast<std::ptrdiff_t>(starts[k]),
                             bank.begin() + static_cast<std::ptrdiff_t>(starts[k + 1]));
    ASSERT_EQ(be(stream, 5, 3), 352u * 240u);
    packet_counts counts;
    EXPECT_EQ(unpack(byte_vector(stream.begin() + 8, stream.end()), counts), screens[k]);
  }
}

TEST(SampleWriter, LayOutPairPutsRecordsOnSectorBoundaries) {
  const std::vector<byte_vector> records = {byte_vector(1, 0x11),
                                            byte_vector(2048, 0x22),
                                            byte_vector(2049, 0x33),
                                            {},
                                            byte_vector(10, 0x44)};
  const std::vector<std::uint32_t> sectors = {0, 1, 2, 4, 4};
  const archive_pair pair = lay_out_pair(records);
  ASSERT_EQ(pair.index.size(), 8 * records.size());
  for (std::size_t i = 0; i < records.size(); ++i) {
    EXPECT_EQ(pair.index[8 * i], 0);
    EXPECT_EQ(be(pair.index, 8 * i + 1, 3), sectors[i]) << "record " << i;
    EXPECT_EQ(be(pair.index, 8 * i + 4, 4), records[i].size()) << "record " << i;
    const auto begin = pair.archive.begin() + static_cast<std::ptrdiff_t>(sectors[i] * 2048);
    EXPECT_EQ(byte_vector(begin, begin + static_cast<std::ptrdiff_t>(records[i].size())),
              records[i]);
  }
  EXPECT_EQ(pair.archive[1], 0); // padding after the first record
  EXPECT_EQ(pair.archive[2048 * 3 + 1], 0);
  EXPECT_EQ(pair.archive.size(), 4u * 2048u + 10u); // the last record ends the archive
}

TEST(SampleWriter, SampleSetsHaveTheIndexSizesThatSelectTheirKind) {
  const archive_pair direct = direct_sample(8, 6);
  EXPECT_EQ(direct.index.size(), 3048u);
  EXPECT_EQ(be(direct.index, 8 * 380 + 4, 4), 6u + 2u * 8u * 6u);
  const archive_pair frames = frame_bank_sample(2, 4, 9);
  EXPECT_EQ(frames.index.size(), 136u);
  const archive_pair screens = screen_bank_sample(1);
  ASSERT_EQ(screens.index.size(), 1176u);
  for (std::size_t i = 0; i < 147; ++i) {
    EXPECT_GT(be(screens.index, 8 * i + 4, 4), 576u) << "a bank this short would be skipped";
  }
  EXPECT_THROW(frame_bank_sample(1, 10, 9), std::invalid_argument);
  EXPECT_THROW(direct_sample(0, 4), std::invalid_argument);
}

} // namespace
