#include <gtest/gtest.h>
#include <zlib.h>

#include <fstream>
#include <sstream>

#include "bitmap/bitmap_writers.hpp"
#include "bitmap/picture_reader.hpp"
#include "bitmap/png_file.hpp"
#include "test_support.hpp"

namespace {

constexpr std::size_t buffer_pixels = 0x80000;

byte_vector edited(byte_vector file, std::size_t at, std::uint32_t value, int size = 4) {
  for (int i = 0; i < size; ++i) {
    file[at + i] = static_cast<std::uint8_t>(value >> 8 * i);
  }
  return file;
}

byte_vector cut(byte_vector file, std::size_t count) {
  file.resize(file.size() - count);
  return file;
}

// A bitmap of `bits` a pixel with an info header of `header_size` bytes, a colour table of
// `entries` (bytes 1, 10, 19, ...), then `rows` as given.
byte_vector bitmap(std::uint32_t header_size, std::int32_t width, std::int32_t height, int bits,
                   std::uint32_t entries, const byte_vector& rows) {
  byte_vector file(14 + header_size + 4 * entries, 0);
  for (std::size_t i = 0; i < 4 * entries; ++i) {
    file[14 + header_size + i] = static_cast<std::uint8_t>(i * 9 + 1);
  }
  file = edited(edited(edited(file, 10, static_cast<std::uint32_t>(file.size())), 14, header_size),
                18, static_cast<std::uint32_t>(width));
  file = edited(edited(edited(file, 22, static_cast<std::uint32_t>(height)), 28, bits, 2), 46,
                entries);
  file[0] = 'B', file[1] = 'M';
  file.insert(file.end(), rows.begin(), rows.end());
  return file;
}

void chunk(byte_vector& png, const std::string& type, const byte_vector& data) {
  const auto put = [&png](std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
      png.push_back(static_cast<std::uint8_t>(value >> shift));
    }
  };
  put(static_cast<std::uint32_t>(data.size()));
  png.insert(png.end(), type.begin(), type.end());
  png.insert(png.end(), data.begin(), data.end());
  put(static_cast<std::uint32_t>(
      crc32(0, &png[png.size() - data.size() - 4], static_cast<uInt>(data.size() + 4))));
}

using chunks = std::vector<std::pair<std::string, byte_vector>>;

// A PNG of IHDR `head`, the chunks `before`, one IDAT holding `rows` deflated (or as they are,
// unless `deflate`), and IEND.
byte_vector png(const byte_vector& head, const byte_vector& rows, const chunks& before = {},
                bool deflate = true) {
  byte_vector file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  chunk(file, "IHDR", head);
  for (const auto& [type, data] : before) {
    chunk(file, type, data);
  }
  byte_vector deflated(compressBound(static_cast<uLong>(rows.size())));
  uLongf size = deflated.size();
  compress(deflated.data(), &size, rows.data(), static_cast<uLong>(rows.size()));
  chunk(file, "IDAT", deflate ? cut(deflated, deflated.size() - size) : rows);
  chunk(file, "IEND", {});
  return file;
}

// `file` with one more chunk before its IEND chunk.
byte_vector before_end(const byte_vector& file, const std::string& type, const byte_vector& data) {
  byte_vector added = cut(file, 12);
  chunk(added, type, data);
  added.insert(added.end(), file.end() - 12, file.end());
  return added;
}

// IHDR of a 2 x 2 picture.
byte_vector head(std::uint8_t depth, std::uint8_t colour_type, std::uint8_t interlace = 0) {
  return {0, 0, 0, 2, 0, 0, 0, 2, depth, colour_type, 0, 0, interlace};
}
const chunks plte = {{"PLTE", {1, 2, 3, 4, 5, 6}}};

std::string hex(const byte_vector& bytes) {
  std::string text;
  for (const std::uint8_t byte : bytes) {
    text += {"0123456789abcdef"[byte >> 4], "0123456789abcdef"[byte & 15]};
  }
  return text;
}

// "WIDTH HEIGHT P|RGB PIXELS PALETTE" in hexadecimal, the palette "-" for direct colour.
std::string described(const picture_pixels& picture) {
  return std::to_string(picture.width) + " " + std::to_string(picture.height) +
         (picture.indexed ? " P " : " RGB ") + hex(picture.pixels) + " " +
         (picture.indexed ? hex(picture.palette) : "-");
}

// What decode_picture makes of `file`: the picture described, or why there is none.
std::string decode(const byte_vector& file, std::size_t most_pixels = buffer_pixels) {
  picture_pixels picture;
  std::string why;
  return decode_picture({file.data(), file.size()}, most_pixels, picture, why) ? described(picture)
                                                                               : why;
}

std::string read_back(const fs::path& path) {
  picture_pixels picture;
  std::string why;
  return read_picture_file(path.string(), buffer_pixels, picture, why) ? described(picture) : why;
}

// Our writers' files read back as the indices, palette and colours that went in: at widths
// whose rows need padding, as 0 x N and 0 x 0 bitmaps, and tall enough for the RGB writer to
// switch to Huffman codes alone.
TEST(PictureReader, ReadsBackWhatOurWritersWrite) {
  scratch_folder folder;
  test_state test(folder.path);
  for (std::size_t i = 0; i < palette_size; ++i) {
    test.state.palette[i] = static_cast<std::uint8_t>(i * 37 + 5);
  }
  for (const auto& [width, height] : {std::pair{5, 3}, {7, 20}, {0, 4}, {0, 0}}) {
    test.state.image_width = width;
    test.state.image_height = height;
    byte_vector indices(width * height), words(2 * indices.size()), palette, rgb;
    for (std::size_t i = 0; i < indices.size(); ++i) {
      indices[i] = static_cast<std::uint8_t>(i * 11 + 3);
      words[2 * i] = static_cast<std::uint8_t>(i * 29 + 1), words[2 * i + 1] = indices[i];
    }
    for (std::size_t i = 0; i < words.size() + palette_size; i += 2) { // red, green, blue << 3
      const std::uint32_t word =
          u16be(i < words.size() ? &words[i] : &test.state.palette[i - words.size()]);
      (i < words.size() ? rgb : palette)
          .insert((i < words.size() ? rgb : palette).end(),
                  {static_cast<std::uint8_t>((word & 0x1F) << 3),
                   static_cast<std::uint8_t>((word >> 5 & 0x1F) << 3),
                   static_cast<std::uint8_t>((word >> 10 & 0x1F) << 3)});
    }
    write_indexed_bitmap(test.state, "I", 0, indices.data());
    write_direct_bitmap(test.state, "D", 0, words.data());
    write_indexed_png(test.state, "I", 0, indices.data());
    write_direct_png(test.state, "D", 0, words.data());
    const std::string size = std::to_string(width) + " " + std::to_string(height);
    EXPECT_EQ(read_back(folder.path / "I000.BMP"),
              size + " P " + hex(indices) + " " + hex(palette));
    EXPECT_EQ(read_back(folder.path / "D00.BMP"), size + " RGB " + hex(rgb) + " -");
    if (width != 0) { // an empty PNG is no PNG: the writer gives none
      EXPECT_EQ(read_back(folder.path / "I000.PNG"),
                size + " P " + hex(indices) + " " + hex(palette));
      EXPECT_EQ(read_back(folder.path / "D00.PNG"), size + " RGB " + hex(rgb) + " -");
    }
  }
}

// Kinds our writers never make (sub-byte depths, short PLTEs, opaque RGBA, Adam7 with every
// row filter), as an independent image library reads them.
TEST(PictureReader, ReadsWhatAnIndependentLibraryReads) {
  if (shell("/usr/bin/python3 -c 'import PIL' 2>/dev/null") != 0) {
    if (std::getenv("OFB2BMP_REQUIRE_IMAGE_READER") != nullptr) {
      FAIL() << "python3 with PIL is required";
    }
    GTEST_SKIP() << "python3 with PIL is not installed";
  }
  scratch_folder folder;
  const fs::path list = folder.path / "expected.txt";
  ASSERT_EQ(shell("/usr/bin/python3 '" PICTURE_MAKER_SCRIPT "' '" + folder.path.string() + "' >'" +
                  list.string() + "'"),
            0);
  std::istringstream lines(read_text(list));
  std::size_t files = 0;
  for (std::string name, expected; lines >> name && std::getline(lines, expected); ++files) {
    EXPECT_EQ(read_back(folder.path / name), expected.substr(1)) << name;
  }
  EXPECT_EQ(files, 9u);
}

// Headers of 108 and 124 bytes, rows stored top-down, a colour table shorter than the indices.
TEST(PictureReader, ReadsOtherBitmapHeadersAndTopDownRows) {
  const byte_vector rows = {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0};
  for (const std::uint32_t header_size : {40u, 108u, 124u}) {
    EXPECT_EQ(decode(bitmap(header_size, 2, 2, 24, 0, rows)), "2 2 RGB 0908070c0b0a030201060504 -");
    EXPECT_EQ(decode(bitmap(header_size, 2, -2, 24, 0, rows)),
              "2 2 RGB 0302010605040908070c0b0a -");
  }
  EXPECT_EQ(decode(bitmap(124, 3, -1, 8, 2, {0, 1, 200, 0})), "3 1 P 0001c8 130a01372e25");
}

TEST(PictureReader, RefusesDamagedAndUnsupportedFilesSayingWhy) {
  const byte_vector bmp = bitmap(40, 3, 2, 8, 4, {0, 1, 2, 0, 3, 4, 5, 0});
  const byte_vector rows = {0, 0x12, 2, 0x01}; // two rows of two 4-bit indices, the second Up
  const byte_vector good = png(head(4, 3), rows, plte);
  byte_vector not_first(good.begin(), good.begin() + 8);
  chunk(not_first, "PLTE", {1, 2, 3});
  const auto rgb = [](std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    return png({0, a, 0, b, 0, c, 0, d, 8, 2, 0, 0, 0}, {});
  };
  const std::string bmp_read = "3 2 P 030405000102 130a01372e255b52497f766d";
  const std::string png_read = "2 2 P 01020103 010203040506";
  const struct {
    byte_vector file;
    std::string why;
    std::size_t most = buffer_pixels;
  } cases[] = {
      {bmp, bmp_read, 6},
      {bmp, "larger than the tool's buffers", 5},
      {edited(edited(bmp, 18, 65536), 22, 65537), "larger than the tool's buffers"}, // 2^32 + 64Ki
      {edited(bmp, 30, 1), "RLE-compressed bitmaps are not supported"},
      {edited(bmp, 30, 2), "RLE-compressed bitmaps are not supported"},
      {edited(bmp, 30, 3), "bitmap compression 3 is not supported"},
      {edited(bmp, 28, 4, 2), "4-bit bitmaps are not supported"},
      {edited(bmp, 14, 12), "bitmap headers of 12 bytes are not supported"},
      {edited(bmp, 46, 257), "colour table longer than 256 entries"},
      {edited(bmp, 46, 256), "colour table lies outside the file"},
      {edited(bmp, 18, 0xFFFFFFFF), "bad picture size"},
      {edited(bmp, 22, 0x80000000), "bad picture size"},
      {cut(bmp, 1), "cut short"}, // the last row's padding
      {edited(bmp, 10, 0xFFFFFFF0), "cut short"},
      {cut(bmp, bmp.size() - 53), "cut short"},
      {{'G', 'I', 'F', '8'}, "neither a BMP nor a PNG file"},
      {good, png_read},
      {png(head(16, 2), {}), "16-bit PNG channels are not supported"},
      {png(head(16, 3), {}), "bad bit depth"},
      {png(head(4, 2), {}), "bad bit depth"},
      {png(head(3, 3), {}), "bad bit depth"},
      {png(head(8, 0), {}), "greyscale PNG pictures are not supported"},
      {png(head(8, 4), {}), "greyscale PNG pictures are not supported"},
      {png(head(8, 7), {}), "bad colour type"},
      {png(head(8, 2, 2), {}), "interlace method 2 is not supported"},
      {png({0, 0, 0, 2, 0, 0, 0, 2, 8, 2, 1, 0, 0}, {}), "compression method 1 is not supported"},
      {png({0, 0, 0, 2, 0, 0, 0, 2, 8, 2, 0, 1, 0}, {}), "filter method 1 is not supported"},
      {rgb(0, 0, 0, 2), "bad picture size"},
      {rgb(2, 0, 0, 0), "bad picture size"},
      {png({0x80, 0, 0, 0, 0, 0, 0, 1, 8, 2, 0, 0, 0}, {}), "bad picture size"},
      {rgb(1, 0, 1, 1), "larger than the tool's buffers"}, // 65536 x 65537
      {edited(good, good.size() - 16, 0), "bad checksum in chunk IDAT"},
      {cut(good, 12), "no IEND chunk"},
      {cut(good, 1), "cut short"},
      {edited(good, 33, 0x80), "bad chunk length"}, // PLTE's made 2^31
      {edited(good, 33, 0xFFFFFF7F), "cut short"},  // 2^31 - 1, the longest a chunk may be
      {{'B', 'M'}, "cut short"},
      {before_end(good, "ab1D", {}), "bad chunk type"},
      {not_first, "IHDR is not the first chunk"},
      {png({0, 0, 0, 2, 0, 0, 0, 2, 8, 2, 0, 0}, {}), "bad IHDR length"},
      {png(head(4, 3), {0x78, 0x9C}, plte, false), "image data cut short"},
      {png(head(4, 3), {0x78, 0x9D, 0}, plte, false), "bad compressed image data"},
      {png(head(4, 3), rows), "no PLTE before IDAT"},
      {png(head(4, 3), rows, {{"PLTE", byte_vector(771, 1)}}), "bad PLTE length"},
      {png(head(4, 3), rows, {{"PLTE", byte_vector(768, 0x11)}, {"tRNS", {255}}, {"abCD", {}}}),
       "2 2 P 01020103 " + std::string(1536, '1')},
      {png(head(4, 3), rows, {plte[0], {"tRNS", {255, 254}}}), "transparency is not supported"},
      {png(head(8, 2), {}, {{"tRNS", {0, 0, 0, 0, 0, 0}}}), "transparency is not supported"},
      {png(head(8, 6), {0, 1, 2, 3, 255, 4, 5, 6, 255, 0, 1, 2, 3, 255, 4, 5, 6, 254}),
       "transparency is not supported"},
      {png(head(4, 3), rows, {plte[0], {"ABCD", {}}}), "chunk ABCD is not supported"},
      {before_end(good, "PLTE", {1, 2, 3}), "PLTE out of place"},
      {before_end(good, "IHDR", head(4, 3)), "IHDR appears twice"},
      {before_end(good, "IDAT", {0}), "too much image data"},
      {before_end(good, "IDAT", {}), png_read},
      {cut(png(head(8, 2), {}, {{"IEND", {}}}), 12 + 20), "no IDAT chunk"},
      {png(head(4, 3), cut(rows, 1), plte), "too little image data"},
      {png(head(4, 3), {0, 0x12, 2, 1, 0}, plte), "too much image data"},
      {png(head(4, 3), {0, 0x12, 5, 1}, plte), "bad row filter"},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(decode(cases[i].file, cases[i].most), cases[i].why) << "case " << i;
  }
}

// Every prefix of a valid file is refused, and is read only within its bytes (the sanitizer
// builds see each prefix in an allocation of exactly its size).
TEST(PictureReader, RefusesEveryPrefixOfAValidFile) {
  // 2 x 2 interlaced: passes 1, 6 and 7 hold pixels (None; Sub; Paeth).
  const byte_vector rows = {0, 1, 2, 3, 1, 4, 5, 6, 4, 1, 1, 1, 1, 1, 1};
  for (const byte_vector& file : {bitmap(40, 2, 2, 24, 0, byte_vector(16, 7)),
                                  png(head(8, 2, 1), rows, {plte[0], {"teXt", {'a'}}})}) {
    const std::string whole = decode(file);
    ASSERT_TRUE(whole == "2 2 RGB 070707070707070707070707 -" ||
                whole == "2 2 RGB 010203040506010101020202 -") // Paeth of 0, 0, 0 is the left
        << whole;
    for (std::size_t size = 0; size < file.size(); ++size) {
      EXPECT_NE(decode(byte_vector(file.begin(), file.begin() + size)), whole) << size;
    }
  }
}

TEST(PictureReader, ReadsFilesUpTo16MiB) {
  scratch_folder folder;
  byte_vector file = bitmap(40, 1, 1, 24, 0, {1, 2, 3, 0});
  for (const std::size_t size : {largest_picture_file, largest_picture_file + 1}) {
    file.resize(size);
    std::ofstream(folder.path / "big.bmp", std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(size));
    EXPECT_EQ(read_back(folder.path / "big.bmp"),
              size == largest_picture_file ? "1 1 RGB 030201 -" : "larger than 16 MiB");
  }
  EXPECT_EQ(read_back(folder.path / "none.bmp"), "cannot be opened");
}

} // namespace
