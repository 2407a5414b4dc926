#include <gtest/gtest.h>
#include <zlib.h>

#include <set>
#include <sstream>

#include "archive/record_writing.hpp"
#include "pictures/bitmap_writers.hpp"
#include "pictures/picture_reader.hpp"
#include "pictures/png_file.hpp"
#include "pictures/read_ahead.hpp"
#include "sample_writer.hpp"
#include "test_support.hpp"

namespace {

using chunks = std::vector<png_chunk>;

// `file` with `value` over its `size` bytes at `at`: little-endian in a bitmap, big-endian in a
// PNG, where the chunk holding `at` gets its checksum made right again, unless `at` lies in the
// checksum or the chunk no longer fits in the file.
byte_vector patched(byte_vector file, std::size_t at, std::uint64_t value, int size) {
  const bool png = file[0] != 'B';
  for (int i = 0; i < size; ++i) {
    file[at + i] = static_cast<std::uint8_t>(value >> 8 * (png ? size - 1 - i : i));
  }
  for (std::size_t start = 8; png && start + 8 <= file.size();) {
    const std::size_t end = start + 8 + u32be(&file[start]);
    if (at < end + 4) {
      return at >= end || end + 4 > file.size()
                 ? file
                 : patched(file, end, crc32(0, &file[start + 4], uInt(end - start - 4)), 4);
    }
    start = end + 4;
  }
  return file;
}

// A bitmap of `bits` a pixel with an info header of `header_size` bytes, a colour table of
// `entries` (bytes 1, 10, 19, ...), then `rows` as given.
byte_vector bitmap(std::uint32_t header_size, std::int32_t width, std::int32_t height, int bits,
                   std::uint32_t entries, const byte_vector& rows) {
  byte_vector table(4 * entries);
  for (std::size_t i = 0; i < table.size(); ++i) {
    table[i] = static_cast<std::uint8_t>(i * 9 + 1);
  }
  return bitmap_of(header_size, width, height, bits, table, rows);
}

// A 2 x 2 PNG of the IHDR fields given, the chunks listed, and IEND.
byte_vector png(std::uint8_t depth, std::uint8_t colour_type, chunks list,
                bool interlaced = false) {
  list.insert(list.begin(),
              {"IHDR", {0, 0, 0, 2, 0, 0, 0, 2, depth, colour_type, 0, 0, interlaced}});
  list.push_back({"IEND", {}});
  return png_of(list);
}

std::string hex(const byte_vector& bytes) {
  std::string text;
  for (const std::uint8_t byte : bytes) {
    text += {"0123456789abcdef"[byte >> 4], "0123456789abcdef"[byte & 15]};
  }
  return text;
}

// What the reader makes of `file` (or of the file at `path`): "WIDTH HEIGHT P|RGB PIXELS
// PALETTE" in hexadecimal, the palette "-" for direct colour; or why it makes nothing.
std::string decode(const byte_vector& file, std::size_t most = 0x80000, const fs::path& path = {},
                   picture_read_ahead* ahead = nullptr) {
  picture_pixels picture;
  std::string why;
  if (!(path.empty() ? decode_picture({file.data(), file.size()}, most, picture, why)
                     : read_picture_from(ahead, path.string(), most, picture, why))) {
    return why;
  }
  return std::to_string(picture.width) + " " + std::to_string(picture.height) +
         (picture.indexed ? " P " : " RGB ") + hex(picture.pixels) + " " +
         (picture.indexed ? hex(picture.palette) : "-");
}
std::string read_back(const fs::path& path) {
  return decode({}, 0x80000, path);
}

// Our writers' files: each bitmap byte for byte as laid out by hand (rows bottom up, padded
// with zeros), each PNG read back as the indices, palette and colours that went in. Noise, at
// widths whose rows need padding, as 0 x N and 0 x 0 pictures, larger than the output buffer or
// than one gathered write takes, in several IDAT chunks, and tall enough for the RGB writer to
// switch to Huffman codes alone; each file written over a larger one of the same name.
TEST(PictureReader, ReadsBackWhatOurWritersWrite) {
  scratch_folder folder;
  test_state test(folder.path);
  byte_vector palette_words(palette_size);
  for (std::size_t i = 0; i < palette_size; ++i) {
    palette_words[i] = static_cast<std::uint8_t>(i * 37 + 5);
  }
  const byte_vector palette = rgb_of(words_of(palette_words.data(), 256));
  std::uint32_t seed = 1;
  const std::pair<int, int> sizes[] = {{1024, 512}, {400, 400}, {1, 524'288}, {4097, 127},
                                       {5, 3},      {7, 20},    {0, 4},       {0, 0}};
  for (const auto& [width, height] : sizes) {
    byte_vector indices(std::size_t(width) * height), words(2 * indices.size());
    for (std::uint8_t& byte : words) {
      seed = seed * 1103515245u + 12345u;
      byte = static_cast<std::uint8_t>(seed >> 16);
    }
    std::copy(words.begin(), words.begin() + indices.size(), indices.begin());
    const bool direct = direct_frame_fits(width, height);
    const picture indexed =
        picture_of(picture_kind::frame, 0, width, height, indices, palette_words);
    write_indexed_bitmap(test.state.files, test.state.output, "I", indexed);
    write_indexed_png(test.state.files, test.state.output, "I", indexed);
    if (direct) {
      const picture colours = picture_of(picture_kind::direct, 0, width, height, words);
      write_direct_bitmap(test.state.files, test.state.output, "D", colours);
      write_direct_png(test.state.files, test.state.output, "D", colours);
    }
    const std::string size = std::to_string(width) + " " + std::to_string(height);
    const byte_vector rgb = rgb_of(words_of(words.data(), indices.size()));
    EXPECT_EQ(read_whole_file(folder.path / "I000.BMP"),
              bitmap_file(width, height, indices, palette))
        << size;
    EXPECT_TRUE(!direct ||
                read_whole_file(folder.path / "D00.BMP") == bitmap_file(width, height, rgb))
        << size;
    if (width != 0) { // an empty PNG is no PNG: none is written
      EXPECT_EQ(read_back(folder.path / "I000.PNG"),
                size + " P " + hex(indices) + " " + hex(palette));
      EXPECT_TRUE(!direct || read_back(folder.path / "D00.PNG") == size + " RGB " + hex(rgb) + " -")
          << size;
    }
    if (width == 1024 || width == 400) {
      const std::string png = read_text(folder.path / (width == 400 ? "D00.PNG" : "I000.PNG"));
      EXPECT_LT(png.find("IDAT"), png.rfind("IDAT")) << size;
    }
  }
  // Drawn direct colour goes on being matched after the first rows: its PNG is a small part of
  // its pixels, below what Huffman codes alone give (at least a bit a byte), which only
  // noise-like frames fall back to.
  byte_vector words;
  for (const std::uint16_t word : gradient_frame(7, 256, 224)) {
    append_u16be(words, word);
  }
  write_direct_png(test.state.files, test.state.output, "D",
                   picture_of(picture_kind::direct, 0, 256, 224, words));
  EXPECT_LT(fs::file_size(folder.path / "D00.PNG"), 256u * 224 / 8);
}

const std::string plain = ": save as 8-bit palette or 24-bit RGB",
                  again = ": save the picture again",
                  alpha = "transparency is not supported" + plain,
                  big = "larger than the tool's buffers: make the picture smaller";

// Kinds our writers never make, written by an independent image library and (where it is
// installed) ImageMagick: each as the library reads it or as made, or refused as not opaque.
TEST(PictureReader, ReadsWhatIndependentWritersWrite) {
  const bool required = std::getenv("OFB2BMP_REQUIRE_IMAGE_READER") != nullptr;
  if (shell("/usr/bin/python3 -c 'import PIL' 2>/dev/null") != 0) {
    ASSERT_FALSE(required) << "python3 with PIL needed";
    GTEST_SKIP() << "python3 with PIL is not installed";
  }
  const bool magick = shell("convert -version 2>/dev/null | grep -q ImageMagick") == 0;
  ASSERT_TRUE(magick || !required) << "ImageMagick's convert needed";
  scratch_folder folder;
  const std::string list = (folder.path / "expected.txt").string();
  ASSERT_EQ(shell("/usr/bin/python3 '" IMAGE_READER_SCRIPT "' --make '" + folder.path.string() +
                  (magick ? "' --magick >'" : "' >'") + list + "'"),
            0);
  std::istringstream lines(read_text(list));
  std::size_t files = 0;
  for (std::string name, expected; lines >> name && std::getline(lines, expected); ++files) {
    expected = expected.substr(1);
    EXPECT_EQ(read_back(folder.path / name), expected == "refused" ? alpha : expected) << name;
  }
  EXPECT_EQ(files, magick ? 30u : 14u);
}

TEST(PictureReader, ReadsOtherBitmapHeadersAndRefusesDamagedFilesSayingWhy) {
  const byte_vector rows = {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0};
  for (const std::uint32_t header_size : {40u, 108u, 124u}) { // bottom-up, then top-down
    EXPECT_EQ(decode(bitmap(header_size, 2, 2, 24, 0, rows)), "2 2 RGB 0908070c0b0a030201060504 -");
    EXPECT_EQ(decode(bitmap(header_size, 2, -2, 24, 0, rows)),
              "2 2 RGB 0302010605040908070c0b0a -");
  }
  EXPECT_EQ(decode(bitmap(124, 3, -1, 8, 2, {0, 1, 200, 0})), "3 1 P 0001c8 130a01372e25");
  const byte_vector bmp = bitmap(40, 3, 2, 8, 4, {0, 1, 2, 0, 3, 4, 5, 0});
  EXPECT_EQ(decode(bmp, 6), "3 2 P 030405000102 130a01372e255b52497f766d");
  EXPECT_EQ(decode(bmp, 5), big);

  const std::pair<std::string, byte_vector> plte = {"PLTE", {1, 2, 3, 4, 5, 6}},
                                            idat = deflated({0, 0x12, 2, 0x01}); // 2nd row Up
  const byte_vector good = png(4, 3, {plte, idat}), &z = idat.second;
  const std::string read = "2 2 P 01020103 010203040506", size = "bad picture size" + again,
                    depth = "bad bit depth" + again, length = "bad PLTE length" + again,
                    cut = "cut short" + again, little = "too little image data" + again,
                    trns = "bad tRNS chunk" + again;
  const auto type = [](const char* name) { return u32be(reinterpret_cast<const uint8_t*>(name)); };
  const struct {
    const byte_vector& file;
    std::size_t at;
    int size; // of the field patched at `at` with each value in turn
    std::vector<std::pair<std::uint64_t, std::string>> outcomes;
  } patches[] = {
      // clang-format off
      {bmp, 30, 4, {{2, "8-bit bitmaps with compression 2 are not supported" + plain}}},
      {bmp, 28, 2, {{2, "2-bit bitmaps are not supported" + plain}}},
      {bmp, 14, 4, {{12, "bitmap headers of 12 bytes are not supported" + plain}}},
      {bmp, 46, 4, {{257, "colour table longer than 256 entries" + again},
                    {256, "colour table lies outside the file" + again}}},
      {bmp, 18, 8, {{0xFFFFFFFF, size}, {0x80000000ull << 32 | 3, size},
                    {65537ull << 32 | 65536, big}}}, // 2^32 + 64Ki pixels
      {bmp, 10, 4, {{0xFFFFFFF0, cut}}},
      {good, 24, 2, {{0x1002, little}, {0x1003, depth}, {0x0402, depth}, {0x0303, depth},
                     {0x0300, depth}, {0x2000, depth}, {0x0204, depth}, {0x0800, little},
                     {0x0807, "bad colour type" + again}}},
      {good, 26, 3, {{0x10000, "compression method 1 is not supported" + plain},
                     {0x100, "filter method 1 is not supported" + plain},
                     {2, "interlace method 2 is not supported" + plain}}},
      {good, 16, 8, {{2, size}, {2ull << 32, size}, {0x80000000ull << 32 | 1, size},
                     {0x7FFFFFFFull << 32 | 1, big}, {65536ull << 32 | 65537, big}}},
      {good, 8, 4, {{12, "bad IHDR length" + again}}},
      {good, 12, 4, {{type("IHDr"), "IHDR is not the first chunk" + again}}},
      {good, 33, 4, {{0x80000000, "bad chunk length" + again}, {0x7FFFFFFF, cut}, // the longest
                     {0, length}, {5, length}}},
      {good, 37, 4, {{type("ZBCD"), "chunk ZBCD is not supported" + plain},
                     {type("zbCD"), "no PLTE before IDAT" + again},
                     {type("IHDR"), "IHDR appears twice" + again},
                     {type("IEND"), "no IDAT chunk" + again}, {type("tRNS"), "no PLTE before IDAT" + again},
                     {type("PL1E"), "bad chunk type" + again}, {type("P1TE"), "bad chunk type" + again}}},
      {good, 59, 2, {{0x789D, "bad compressed image data" + again}}},
      {good, good.size() - 16, 4, {{0, "bad checksum in chunk IDAT" + again}}},
      // clang-format on
  };
  for (const auto& [file, at, bytes, outcomes] : patches) {
    for (const auto& [value, why] : outcomes) {
      EXPECT_EQ(decode(patched(file, at, value, bytes)), why) << at << " " << value;
    }
  }
  const std::pair<byte_vector, std::string> files[] = {
      {good, read},
      {png(4, 3, {plte, idat, {"IDAT", {}}}), read},
      {png(4, 3, {plte, {"IDAT", {z.begin(), z.end() - 1}}, {"IDAT", {z.back()}}}), read},
      {png(4, 3, {{"PLTE", byte_vector(768, 0x11)}, {"tRNS", {255}}, {"abCD", {}}, idat}),
       "2 2 P 01020103 " + std::string(1536, '1')},
      {png(4, 3, {{"PLTE", byte_vector(771, 1)}, idat}), length},
      {png(4, 3, {plte, idat, plte}), "PLTE out of place" + again},
      {png(4, 3, {plte, {"tRNS", {255, 0}}, idat}), read}, // a palette's alpha is ignored
      {png(8, 2, {{"tRNS", {255, 255}}}), trns},
      {png(8, 6, {{"tRNS", byte_vector(8)}}), trns},
      {png(8, 0, {{"tRNS", {0, 7}}, deflated({0, 5, 6, 0, 7, 8})}), alpha}, // a pixel has it
      {png(8, 6, {deflated({0, 1, 2, 3, 255, 4, 5, 6, 255, 0, 1, 2, 3, 255, 4, 5, 6, 254})}),
       alpha},
      {png(4, 3, {plte, {"IDAT", {0x78, 0x9C}}}), "image data cut short" + again},
      {png(4, 3, {plte, idat, {"IDAT", {0}}}), "too much image data" + again},
      {png(4, 3, {plte, deflated({0, 0x12, 2, 1, 0})}), "too much image data" + again},
      {png(4, 3, {plte, deflated({0, 0x12, 2})}), little},
      {png(4, 3, {plte, deflated({0, 0x12, 5, 1})}), "bad row filter" + again},
  };
  for (const auto& [file, why] : files) {
    EXPECT_EQ(decode(file), why);
  }
}

// Forms no writer at hand makes, and the bounds of run lengths and bit fields.
TEST(PictureReader, ReadsRunLengthsAndBitFieldsWithinTheirBounds) {
  const auto rle = [](std::uint32_t depth, std::int32_t width, std::int32_t height,
                      const byte_vector& stream) {
    return patched(bitmap(40, width, height, int(depth), 2, stream), 30, depth == 8 ? 1 : 2, 4);
  };
  const auto fields = [](std::uint32_t header_size, int bits, std::vector<std::uint32_t> masks,
                         const byte_vector& row) { // masks from byte 54 on
    byte_vector file = bitmap(header_size, 2, 1, bits, header_size == 40 ? 3 : 0, row);
    for (std::size_t i = 0; i < masks.size(); ++i) {
      file = patched(file, 54 + 4 * i, masks[i], 4);
    }
    return patched(file, 30, 3, 4);
  };
  const std::string two = " 130a01372e25", off = "RLE data runs off the picture" + again,
                    cut = "RLE data cut short" + again,
                    masks =
                        "bit fields other than 5 to 8 adjacent bits a colour are not supported" +
                        plain;
  const byte_vector argb = {1, 2, 3, 255, 4, 5, 6, 255};
  const std::pair<byte_vector, std::string> cases[] = {
      // clang-format off
      // A run, end of line, a delta over a row, 3 indices as they are and a pad byte; 4-bit
      // runs alternate, 5 indices as they are take 3 bytes and a pad byte.
      {rle(8, 4, 3, {3, 7, 0, 0, 0, 2, 1, 1, 0, 3, 4, 5, 6, 0, 0, 1}), "4 3 P 000405060000000007070700" + two},
      {rle(4, 5, 2, {3, 0x12, 2, 0x34, 0, 0, 0, 5, 0x56, 0x78, 0x90, 0, 0, 1}), "5 2 P 05060708090102010304" + two},
      {rle(8, 3, 2, {0, 0, 4, 9, 0, 1}), "3 2 P 090909000000" + two}, // padding dropped
      {rle(8, 29, 1, {32, 7, 0, 1}), "29 1 P " + hex(byte_vector(29, 7)) + two}, // 29 padded to 32
      {rle(4, 7, 1, {8, 0x12, 0, 1}), "7 1 P 01020102010201" + two},
      {rle(8, 3, 1, {5, 9, 0, 1}), off}, {rle(4, 7, 1, {9, 0x12, 0, 1}), off},
      {rle(8, 4, 1, {2, 1, 0, 3, 1, 2, 3, 0, 0, 1}), off}, {rle(8, 4, 1, {0, 0, 1, 1, 0, 1}), off},
      {rle(8, 4, 1, {0, 2, 0, 1, 1, 1, 0, 1}), off},
      {rle(8, 4, 1, {4, 9}), cut}, {rle(8, 4, 1, {0, 2, 1}), cut}, {rle(8, 4, 1, {0, 3, 1, 2, 3}), cut},
      {rle(8, 4, -1, {0, 1}), "RLE-compressed bitmaps cannot be stored top-down" + again},
      {patched(bitmap(40, 3, 1, 1, 2, {0xA0, 0, 0, 0}), 46, 0, 4), "3 1 P 010001" + two},
      // 16 bits plain (5-5-5) and as 5-6-5 bit fields; 32 in any order, alpha opaque or unused
      {bitmap(40, 2, 1, 16, 0, {0xFF, 0x7F, 0x3D, 0x45}), "2 1 RGB ffffff8c4aef -"},
      {fields(52, 16, {0xF800, 0x7E0, 0x1F}, {0xFF, 0xFF, 0x3D, 0x8C}), "2 1 RGB ffffff8c86ef -"},
      {fields(56, 32, {0xFF, 0xFF00, 0xFF0000, 0xFF000000}, argb), "2 1 RGB 010203040506 -"},
      {fields(40, 32, {0xFF0000, 0xFF00, 0xFF}, {1, 2, 3, 0, 4, 5, 6, 9}), "2 1 RGB 030201060504 -"},
      {fields(56, 32, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}, {1, 2, 3, 0, 4, 5, 6, 255}), alpha},
      // Refused: 4 and 9 bits, a gap, none, overlapping (green and red, alpha and blue), too high
      {fields(108, 16, {0xF00, 0xF0, 0xF, 0xF000}, argb), masks},
      {fields(108, 32, {0x7FC0000, 0x3FE00, 0x1FF}, argb), masks},
      {fields(108, 16, {0xF400, 0x3E0, 0x1F}, argb), masks}, {fields(108, 16, {0, 0x3E0, 0x1F}, argb), masks},
      {fields(108, 16, {0xF800, 0xFC0, 0x1F}, argb), masks}, {fields(108, 16, {0x1F0000, 0x3E0, 0x1F}, argb), masks},
      {fields(56, 32, {0xFF0000, 0xFF00, 0xFF, 0x80}, argb), masks},
      // clang-format on
  };
  for (const auto& [file, expected] : cases) {
    EXPECT_EQ(decode(file), expected) << hex(file);
  }
}

// Every prefix of a valid file is refused as one, but for a bitmap's last row without its
// padding, and is read only within its bytes (the sanitizer builds see each prefix in an
// allocation of exactly its size).
TEST(PictureReader, RefusesEveryPrefixOfAValidFile) {
  // 2 x 2 interlaced: passes 1, 6 and 7 hold pixels (None; Sub; Paeth, of 0, 0, 0 the left).
  for (const auto& [file, whole] :
       {std::pair{bitmap(40, 2, 2, 24, 0, byte_vector(16, 7)),
                  "2 2 RGB 070707070707070707070707 -"},
        {png(8, 2, {{"teXt", {'a'}}, deflated({0, 1, 2, 3, 1, 4, 5, 6, 4, 1, 1, 1, 1, 1, 1})},
             true),
         "2 2 RGB 010203040506010101020202 -"},
        {patched(bitmap(40, 3, 1, 8, 2, {0, 2, 1, 0, 0, 3, 2, 1, 2, 0, 0, 1}), 30, 1, 4),
         "3 1 P 000201 130a01372e25"}}) { // RLE8: a delta, then 3 indices as they are
    ASSERT_EQ(decode(file), whole);
    const std::set<std::string> refusals = {"cut short" + again, "no IEND chunk" + again,
                                            "RLE data cut short" + again,
                                            "colour table lies outside the file" + again};
    for (std::size_t size = 0; size < file.size(); ++size) {
      const std::string why = decode(byte_vector(file.begin(), file.begin() + size));
      const bool padding = file[0] == 'B' && file[30] == 0 && size >= file.size() - 2;
      EXPECT_TRUE(size < (file[0] == 'B' ? 2u : 8u)
                      ? why == "neither a BMP nor a PNG file: save as BMP or PNG"
                  : padding ? why == whole
                            : refusals.count(why) == 1)
          << size << ": " << why;
    }
  }
}

// Files of up to 16 MiB are read, and files read ahead on other threads are those read on the
// asking thread: good (a.bmp, at that limit), too large, damaged and missing ones, asked for in
// the order hinted, out of it, twice, or never hinted at all.
TEST(ReadAhead, GivesWhatReadingGivesInAnyOrderAsked) {
  scratch_folder folder;
  byte_vector file = bitmap(40, 1, 1, 24, 0, {1, 2, 3, 0});
  file.resize(largest_picture_file);
  write_file(folder.path / "a.bmp", file);
  file.push_back(0);
  write_file(folder.path / "big.bmp", file);
  write_file(folder.path / "b.bmp", bitmap(40, 2, 1, 24, 0, {1, 2, 3}));
  write_file(folder.path / "c.bmp", bitmap(40, 1, 1, 8, 2, {1, 0, 0, 0}));
  EXPECT_EQ(read_back(folder.path / "a.bmp"), "1 1 RGB 030201 -");
  EXPECT_EQ(read_back(folder.path / "big.bmp"), "larger than 16 MiB: make the picture smaller");
  EXPECT_EQ(read_back(folder.path / "none.bmp"),
            "cannot be opened: check that it is a file you may read");
  const read_ahead_threads ahead = start_read_ahead(2, 0x80000);
  for (const char* name : {"a.bmp", "b.bmp", "none.bmp", "big.bmp", "c.bmp", "a.bmp", "b.bmp"}) {
    read_ahead_of(*ahead, (folder.path / name).string());
  }
  for (const char* name :
       {"b.bmp", "c.bmp", "a.bmp", "none.bmp", "big.bmp", "c.bmp", "elsewhere.bmp"}) {
    const std::string direct = read_back(folder.path / name);
    EXPECT_EQ(decode({}, 0x80000, folder.path / name, ahead.get()), direct) << name;
    EXPECT_EQ(decode({}, 0x10, folder.path / name, ahead.get()),
              decode({}, 0x10, folder.path / name))
        << name;
  }
}

} // namespace
