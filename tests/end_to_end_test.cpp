// Runs the built program, copied into a scratch folder because bitmaps land beside it.
#include <cstdio>
#include <cstdlib>

#include "end_to_end_fixture.hpp"

namespace {

TEST_F(EndToEnd, AllThreeKindsFromOneWildcard) {
  write_pair(data, "PICS", direct_sample(8, 6));
  write_pair(data, "BFIL", frame_bank_sample(2, 3, 9));
  write_pair(data, "GFIL", screen_bank_sample(1));
  const tool_run result = run("'data/*'");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.output, "data/BFIL.OFB\n" + walk_text(16) + "data/GFIL.OFB\n" + walk_text(146) +
                               "data/PICS.OFB\n" + walk_text(380));
  EXPECT_EQ(bitmap_count(), 34u + 147 + 381);
  EXPECT_TRUE(fs::exists(bitmap("BFIL021.BMP")));
  EXPECT_TRUE(fs::exists(bitmap("GFIL092.BMP")));
  EXPECT_TRUE(fs::exists(bitmap("PICSNC.BMP")));
  EXPECT_EQ(read_whole_file(bitmap("PICS00.BMP")).size(), 54u + 24 * 6);
}

TEST_F(EndToEnd, ShellExpandedPairsAreExtractedOnce) {
  write_pair(data, "B", frame_bank_sample(1, 2, 2));
  write_pair(data, "A", frame_bank_sample(1, 2, 2));
  const tool_run result = run("data/* data/A.OFB ./data/a.bin");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.output, "data/A.OFB\n" + walk_text(16) + "data/B.OFB\n" + walk_text(16));
}

TEST_F(EndToEnd, NamesAreMatchedAndPairedIgnoringCase) {
  const archive_pair pair = frame_bank_sample(1, 2, 2);
  write_file(data / "lower.ofb", pair.index);
  write_file(data / "lower.bin", pair.archive);
  write_file(data / "Mixed.Ofb", pair.index);
  write_file(data / "MIXED.bin", pair.archive);
  const tool_run result = run("data/LOWER data/mixed.OFB");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.output, "data/lower.ofb\n" + walk_text(16) + "data/Mixed.Ofb\n" + walk_text(16));
  EXPECT_TRUE(fs::exists(bitmap("lower000.BMP")));
  EXPECT_TRUE(fs::exists(bitmap("Mixed010.BMP")));
}

TEST_F(EndToEnd, DottedFoldersAndNamesKeepTheirOwnBitmaps) {
  fs::create_directories(data / "v1.2");
  write_pair(data / "v1.2", "A.X", frame_bank_sample(1, 2, 2));
  write_pair(data / "v1.2", "A.Y", frame_bank_sample(1, 2, 2));
  const tool_run result = run("'data/v1.2/A.?.OFB'");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.output,
            "data/v1.2/A.X.OFB\n" + walk_text(16) + "data/v1.2/A.Y.OFB\n" + walk_text(16));
  EXPECT_TRUE(fs::exists(bitmap("A.X000.BMP")));
  EXPECT_TRUE(fs::exists(bitmap("A.Y010.BMP")));
}

TEST_F(EndToEnd, FoldersAndUnknownSizesAreNamedOrSkipped) {
  fs::create_directories(data / "DIR.OFB");
  write_file(data / "ODD.OFB", byte_vector(137));
  write_file(data / "ODD.BIN", {});
  const tool_run result = run("'data/*.ofb'");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.output, "data/ODD.OFB\n");
  EXPECT_EQ(bitmap_count(), 0u);
}

TEST_F(EndToEnd, FailuresEndTheRunWithTheirMessage) {
  write_file(data / "ODD.OFB", byte_vector(137));
  tool_run result = run("data/ODD.OFB");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.output, "data/ODD.OFB\nfile open error![data/ODD.BIN]\n");

  fs::create_directories(data / "LOCKED.OFB");
  result = run("data/NONE.OFB data/ODD.OFB");
  EXPECT_EQ(result.status, 1) << "nothing matched the first, the second fails";

  // A folder in the way of a bitmap: the earlier bitmaps stay, the run ends.
  write_pair(data, "PICS", direct_sample(4, 4));
  fs::create_directories(bin / "PICS02.BMP");
  result = run("data/PICS");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.output,
            "data/PICS.OFB\n380\r379\r378\rfile create error![" + bitmap("PICS02.BMP") + "]\n");
  EXPECT_EQ(bitmap_count(), 2u);

  write_pair(data, "BFIL", frame_bank_sample(1, 2, 2));
  fs::create_directories(bin / "BFIL000.BMP");
  result = run("data/BFIL.OFB");
  EXPECT_EQ(result.output,
            "data/BFIL.OFB\n 16\rfile create errror.[" + bitmap("BFIL000.BMP") + "]\n");
}

TEST_F(EndToEnd, AConsoleThatCannotBeWrittenEndsWithStatusOne) {
  write_pair(data, "PICS", direct_sample(4, 4));
  write_pair(data, "BFIL", frame_bank_sample(1, 2, 2));
  ASSERT_EQ(run("data/PICS data/BFIL").status, 0);
  const fs::path intact = folder.path / "intact";
  fs::rename(bin / "PICS00.BMP", intact);
  for (const std::string console : {">/dev/full", ">&-"}) {
    shell("cd '" + folder.path.string() + "' && bin/ofb2bmp data/PICS data/BFIL " + console +
          " 2>stderr; echo $? >status");
    EXPECT_EQ(read_text(folder.path / "status"), "1\n") << console;
    EXPECT_EQ(bitmap_count(), 381u + 17) << console;
    EXPECT_EQ(read_whole_file(bin / "PICS00.BMP"), read_whole_file(intact)) << console;
    EXPECT_EQ(run("--version", console + std::string(" ")).status, 1) << console;
  }
}

TEST_F(EndToEnd, FileSizeLimitRemovesTheCutBitmap) {
  write_pair(data, "A", direct_sample(4, 4));
  write_pair(data, "B", screen_bank_sample(1));
  // One block holds every 102-byte direct-colour bitmap but not a screen.
  const tool_run result = run("data/A data/B", "trap '' XFSZ; ulimit -f 1;");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.output, "data/A.OFB\n" + walk_text(380) + "data/B.OFB\n146\rfile write error![" +
                               bitmap("B000.BMP") + "]\n");
  EXPECT_EQ(bitmap_count(), 381u);
  EXPECT_EQ(read_whole_file(bitmap("ANC.BMP")).size(), 102u);
}

TEST_F(EndToEnd, DamagedArchivesWriteTheRestAndEndWithStatusOne) {
  archive_pair pair = direct_sample(4, 4);
  pair.archive.resize(pair.archive.size() - 10); // the last frame loses its last pixels
  write_pair(data, "PICS", pair);
  const tool_run result = run("data/PICS.OFB");
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.output.find("  0\rbroken frame![" + bitmap("PICSNC.BMP") + "]\n"),
            std::string::npos);
  EXPECT_EQ(bitmap_count(), 380u);
}

TEST_F(EndToEnd, QuietCasesAndOptions) {
  tool_run result = run("");
  EXPECT_EQ(result.status, 1) << "no terminal to ask: cancelled";
  EXPECT_EQ(result.output, "");
  result = run("data/NOTHING.OFB");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.output, "");
  result = run("--help");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.output.rfind("usage: ofb2bmp", 0), 0u);
  result = run("--version");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.output.rfind("ofb2bmp ", 0), 0u);
}

// ---- an independent image reader ---------------------------------------------------------

bool image_reader_available() {
  return shell("/usr/bin/python3 -c 'import PIL' 2>/dev/null") == 0;
}

// Width, height and RGB bytes (top row first) as the independent reader sees them.
std::pair<std::string, byte_vector> read_with_image_reader(const fs::path& bitmap) {
  std::string command = "/usr/bin/python3 '" IMAGE_READER_SCRIPT "' '" + bitmap.string() + "'";
  std::FILE* pipe = popen(command.c_str(), "r");
  std::string text;
  char chunk[65536];
  std::size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) {
    text.append(chunk, got);
  }
  pclose(pipe);
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

TEST_F(EndToEnd, AnIndependentReaderSeesTheSamePixels) {
  if (!image_reader_available()) {
    if (std::getenv("OFB2BMP_REQUIRE_IMAGE_READER") != nullptr) {
      FAIL() << "python3 with PIL is required";
    }
    GTEST_SKIP() << "python3 with PIL is not installed";
  }
  write_pair(data, "PICS", direct_sample(7, 5));
  write_pair(data, "BFIL", frame_bank_sample(2, 3, 9));
  write_pair(data, "GFIL", screen_bank_sample(1));
  ASSERT_EQ(run("'data/*'").status, 0);

  auto [size, rgb] = read_with_image_reader(bin / "PICS1A.BMP");
  EXPECT_EQ(size, "7 5");
  EXPECT_EQ(rgb, expected_rgb(gradient_frame(26, 7, 5)));

  // Bank 5 holds screen 500 with palette 5; frame bank 1 holds frames 100 and 101.
  const auto through_palette = [](const byte_vector& indices, const colour_words& palette) {
    colour_words words;
    for (const std::uint8_t index : indices) {
      words.push_back(palette[index]);
    }
    return expected_rgb(words);
  };
  std::tie(size, rgb) = read_with_image_reader(bin / "GFIL005.BMP");
  EXPECT_EQ(size, "352 240");
  EXPECT_EQ(rgb, through_palette(sample_screen(500), sample_palette(5)));

  const colour_words palette_1 = sample_palette(1);
  std::tie(size, rgb) = read_with_image_reader(bin / "BFIL003.BMP");
  // Frame 101 takes its size from the bank; the bitmap's own header tells it.
  const byte_vector header = read_whole_file(bin / "BFIL003.BMP");
  const int width = static_cast<int>(le32(header, 18));
  const int height = static_cast<int>(le32(header, 22));
  EXPECT_EQ(size, std::to_string(width) + " " + std::to_string(height));
  EXPECT_EQ(rgb, through_palette(colour_bar_frame(101, width, height).pixels, palette_1));
}

} // namespace
