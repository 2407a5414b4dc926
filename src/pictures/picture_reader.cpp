// What is read back:
// - BMP: 1-, 4- and 8-bit palette pictures, uncompressed or (8 and 4 bits) RLE-compressed;
//   16-bit (5-5-5 plain, or 5-5-5 and 5-6-5 bit fields), 24-bit, and 32-bit pictures, plain
//   (the fourth byte ignored) or with bit fields whose alpha is opaque everywhere (or zero
//   everywhere, as writers without alpha leave it). Info headers of 40, 52, 56, 108 or 124
//   bytes, rows bottom-up or (uncompressed only) top-down, the last row's padding optional.
//   Bit fields of 5 to 8 bits a colour are widened to 8 by repeating their top bits below
//   them: 31 of 5 bits gives 255, and the top 5 bits of the result are the 5-bit value again,
//   which is what putting a colour back keeps.
// - PNG: palette pictures of 1, 2, 4 or 8 bits (any tRNS ignored: the colours are what count);
//   greyscale of 1 to 16 bits and RGB of 8 or 16 bits, refused only when a pixel has the
//   colour tRNS makes transparent; greyscale and RGB with alpha, 8 or 16 bits, refused unless
//   opaque everywhere; interlaced or not. Grey becomes RGB; each sample is scaled to 8 bits
//   with rounding (a 16-bit v8 * 257 gives back v8, a 4-bit v gives v * 17).
// Pixel indices beyond the colour table or PLTE are kept: the caller completes the palette.
// Each refusal ends with what the user can do about it.
#include "pictures/picture_reader.hpp"

#include <cstdio>
#include <cstring>
#include <memory>

#include "pictures/picture_decoding.hpp"

using namespace picture_decoding;

bool decode_picture(const byte_view& file, std::size_t most_pixels, picture_pixels& picture,
                    std::string& why) {
  picture_pixels read;
  bool decoded = false;
  if (file.size >= 2 && file.bytes[0] == 'B' && file.bytes[1] == 'M') {
    decoded = decode_bmp(file, most_pixels, read, why);
  } else if (file.size >= sizeof png_signature &&
             std::memcmp(file.bytes, png_signature, sizeof png_signature) == 0) {
    decoded = decode_png(file, most_pixels, read, why);
  } else {
    return fail(why, "neither a BMP nor a PNG file: save as BMP or PNG");
  }
  if (decoded) {
    picture = std::move(read);
  }
  return decoded;
}

bool read_picture_file(const std::string& path, std::size_t most_pixels, picture_pixels& picture,
                       std::string& why) {
  std::FILE* stream = std::fopen(path.c_str(), "rb");
  if (stream == nullptr) {
    return fail(why, "cannot be opened: check that it is a file you may read");
  }
  // One read of the whole file, unbuffered, into a block that is not cleared first: picture
  // files are read by the thousand.
  std::setvbuf(stream, nullptr, _IONBF, 0);
  std::int64_t size = -1;
  if (std::fseek(stream, 0, SEEK_END) == 0) {
    size = std::ftell(stream);
  }
  if (size < 0 || std::fseek(stream, 0, SEEK_SET) != 0) {
    std::fclose(stream);
    return fail(why, "cannot be read: check the disk and try again");
  }
  if (static_cast<std::uint64_t>(size) > largest_picture_file) {
    std::fclose(stream);
    return fail(why, "larger than 16 MiB: make the picture smaller");
  }
  const auto length = static_cast<std::size_t>(size);
  const std::unique_ptr<std::uint8_t[]> bytes(new std::uint8_t[length]);
  const std::size_t got = std::fread(bytes.get(), 1, length, stream);
  const bool read_error = std::ferror(stream) != 0 || got != length;
  std::fclose(stream);
  if (read_error) {
    return fail(why, "cannot be read: check the disk and try again");
  }
  return decode_picture(byte_view{bytes.get(), length}, most_pixels, picture, why);
}
