// What is read back:
// - BMP: uncompressed 8-bit (with a colour table of up to 256 entries) and 24-bit bitmaps,
//   with an info header of 40, 108 or 124 bytes, stored bottom-up or top-down.
// - PNG: palette pictures of 1, 2, 4 or 8 bits, RGB and fully opaque RGBA pictures of 8 bits a
//   channel, interlaced or not.
// Pixel indices beyond the colour table or PLTE are kept: the caller completes the palette.
#include "bitmap/picture_reader.hpp"

#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

bool fail(std::string& why, const std::string& text) {
  why = text;
  return false;
}

// Pixels the tool refuses: more than the caller's buffers take. The bound also keeps every
// size derived from the pixel count (at most 4 bytes and a filter byte a pixel, for each of
// 7 passes) far from overflowing.
bool too_many_pixels(std::uint64_t width, std::uint64_t height, std::size_t most_pixels) {
  const std::uint64_t pixels = width * height; // both below 2^32
  return pixels > most_pixels || pixels > SIZE_MAX / 16;
}

// ---- BMP ----------------------------------------------------------------------------------

constexpr std::size_t file_header_size = 14;
constexpr std::uint32_t bmp_rle8 = 1;
constexpr std::uint32_t bmp_rle4 = 2;

bool decode_bmp(const byte_view& file, std::size_t most_pixels, picture_pixels& picture,
                std::string& why) {
  std::uint32_t pixel_offset = 0;
  std::uint32_t header_size = 0;
  if (!read_u32le(file, 10, pixel_offset) || !read_u32le(file, file_header_size, header_size)) {
    return fail(why, "cut short");
  }
  if (header_size != 40 && header_size != 108 && header_size != 124) {
    return fail(why,
                "bitmap headers of " + std::to_string(header_size) + " bytes are not supported");
  }
  if (!holds(file, file_header_size, header_size)) {
    return fail(why, "cut short");
  }
  std::uint32_t width_field = 0;
  std::uint32_t height_field = 0;
  std::uint32_t bit_count = 0;
  std::uint32_t compression = 0;
  std::uint32_t colours_used = 0;
  read_u32le(file, 18, width_field);
  read_u32le(file, 22, height_field);
  read_u16le(file, 28, bit_count);
  read_u32le(file, 30, compression);
  read_u32le(file, 46, colours_used);

  // A negative height means the rows are stored top row first; the most negative value has no
  // positive counterpart.
  const auto width = static_cast<std::int32_t>(width_field);
  const auto signed_height = static_cast<std::int32_t>(height_field);
  if (width < 0 || height_field == 0x80000000u) {
    return fail(why, "bad picture size");
  }
  const bool top_down = signed_height < 0;
  const std::int32_t height = top_down ? -signed_height : signed_height;
  if (compression == bmp_rle8 || compression == bmp_rle4) {
    return fail(why, "RLE-compressed bitmaps are not supported");
  }
  if (compression != 0) {
    return fail(why, "bitmap compression " + std::to_string(compression) + " is not supported");
  }
  if (bit_count != 8 && bit_count != 24) {
    return fail(why, std::to_string(bit_count) + "-bit bitmaps are not supported");
  }
  if (too_many_pixels(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height),
                      most_pixels)) {
    return fail(why, "larger than the tool's buffers");
  }

  const bool indexed = bit_count == 8;
  if (indexed) {
    const std::uint32_t entries = colours_used == 0 ? 256 : colours_used;
    if (entries > 256) {
      return fail(why, "colour table longer than 256 entries");
    }
    const std::uint8_t* table = bytes_at(file, file_header_size + header_size, 4 * entries);
    if (table == nullptr) {
      return fail(why, "colour table lies outside the file");
    }
    picture.palette.resize(3 * entries);
    for (std::size_t i = 0; i < entries; ++i) {
      picture.palette[3 * i] = table[4 * i + 2];
      picture.palette[3 * i + 1] = table[4 * i + 1];
      picture.palette[3 * i + 2] = table[4 * i];
    }
  }

  // Every row is padded to 4 bytes, the last one too. A row may be long while there are no
  // rows (or the reverse): sizes stay 64-bit until the pixel count bounds them.
  const std::size_t pixel_size = indexed ? 1 : 3;
  const std::uint64_t row_bytes = static_cast<std::uint64_t>(width) * pixel_size;
  const std::uint64_t stride = (row_bytes + 3) & ~std::uint64_t{3};
  const std::uint64_t data_size = stride * static_cast<std::uint64_t>(height);
  const std::uint8_t* data = bytes_at(file, pixel_offset, static_cast<std::size_t>(data_size));
  if (data == nullptr) {
    return fail(why, "cut short");
  }

  picture.width = width;
  picture.height = height;
  picture.indexed = indexed;
  picture.pixels.resize(static_cast<std::size_t>(row_bytes) * static_cast<std::size_t>(height));
  // A picture without columns has no rows worth copying, however many it declares.
  const std::size_t rows = picture.pixels.empty() ? 0 : static_cast<std::size_t>(height);
  for (std::size_t row = 0; row < rows; ++row) {
    const std::size_t stored = top_down ? row : static_cast<std::size_t>(height) - 1 - row;
    const std::uint8_t* from = data + stored * stride;
    std::uint8_t* to = picture.pixels.data() + row * row_bytes;
    if (indexed) {
      std::memcpy(to, from, static_cast<std::size_t>(row_bytes));
      continue;
    }
    for (std::size_t x = 0; x < static_cast<std::size_t>(width); ++x) {
      to[3 * x] = from[3 * x + 2]; // stored blue, green, red
      to[3 * x + 1] = from[3 * x + 1];
      to[3 * x + 2] = from[3 * x];
    }
  }
  return true;
}

// ---- PNG ----------------------------------------------------------------------------------

constexpr std::uint8_t png_signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::uint32_t longest_chunk = 0x7FFFFFFF;
constexpr std::uint8_t palette_type = 3;
constexpr std::uint8_t rgb_type = 2;
constexpr std::uint8_t rgba_type = 6;

struct png_header {
  std::uint32_t width;
  std::uint32_t height;
  std::uint8_t depth;
  std::uint8_t colour_type;
  bool interlaced;
};

unsigned bits_per_pixel(const png_header& header) {
  const unsigned channels = header.colour_type == rgb_type    ? 3
                            : header.colour_type == rgba_type ? 4
                                                              : 1;
  return channels * header.depth;
}

// The 13 bytes of IHDR, refused unless the tool reads such pictures.
bool read_png_header(const std::uint8_t* data, png_header& header, std::string& why) {
  const byte_view fields{data, 13};
  read_u32be(fields, 0, header.width);
  read_u32be(fields, 4, header.height);
  header.depth = data[8];
  header.colour_type = data[9];
  const std::uint8_t compression = data[10];
  const std::uint8_t filter_method = data[11];
  const std::uint8_t interlace = data[12];
  if (header.width == 0 || header.height == 0 || header.width > longest_chunk ||
      header.height > longest_chunk) {
    return fail(why, "bad picture size");
  }
  if (header.colour_type == 0 || header.colour_type == 4) {
    return fail(why, "greyscale PNG pictures are not supported");
  }
  if (header.colour_type != palette_type && header.colour_type != rgb_type &&
      header.colour_type != rgba_type) {
    return fail(why, "bad colour type");
  }
  if (header.depth == 16 && header.colour_type != palette_type) {
    return fail(why, "16-bit PNG channels are not supported");
  }
  const std::uint8_t depth = header.depth;
  const bool depth_allowed = header.colour_type == palette_type
                                 ? depth == 1 || depth == 2 || depth == 4 || depth == 8
                                 : depth == 8;
  if (!depth_allowed) {
    return fail(why, "bad bit depth");
  }
  if (compression != 0) {
    return fail(why, "compression method " + std::to_string(compression) + " is not supported");
  }
  if (filter_method != 0) {
    return fail(why, "filter method " + std::to_string(filter_method) + " is not supported");
  }
  if (interlace > 1) {
    return fail(why, "interlace method " + std::to_string(interlace) + " is not supported");
  }
  header.interlaced = interlace == 1;
  return true;
}

// Where the pixels of one pass lie in the picture: the first column and row, and the steps.
struct pass_shape {
  std::uint32_t x0, y0, dx, dy;
};
constexpr pass_shape adam7_passes[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                        {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
constexpr pass_shape whole_picture = {0, 0, 1, 1};

// A pass's columns (or rows): those of `size` from `start` on, every `step`-th.
std::size_t pass_extent(std::uint32_t size, std::uint32_t start, std::uint32_t step) {
  return size > start ? (size - start + step - 1) / step : 0;
}

// One pass's rows as stored: each a filter byte and `row_bytes` bytes. A pass without columns
// or rows stores nothing, not even filter bytes.
struct pass_layout {
  pass_shape shape;
  std::size_t width;
  std::size_t height;
  std::size_t row_bytes;
  std::size_t stored() const { return width == 0 ? 0 : height * (1 + row_bytes); }
};

pass_layout layout_of(const png_header& header, const pass_shape& shape) {
  pass_layout pass{shape, pass_extent(header.width, shape.x0, shape.dx),
                   pass_extent(header.height, shape.y0, shape.dy), 0};
  pass.row_bytes = (pass.width * bits_per_pixel(header) + 7) / 8;
  return pass;
}

const pass_shape* pass_shapes(const png_header& header) {
  return header.interlaced ? adam7_passes : &whole_picture;
}
std::size_t pass_count(const png_header& header) {
  return header.interlaced ? 7 : 1;
}

// Paeth prediction from the byte to the left (a), above (b) and above left (c).
int paeth(int a, int b, int c) {
  const int p = a + b - c;
  const int to_a = std::abs(p - a);
  const int to_b = std::abs(p - b);
  const int to_c = std::abs(p - c);
  return to_a <= to_b && to_a <= to_c ? a : to_b <= to_c ? b : c;
}

// Undoes the row filters of one pass in place. Bytes are predicted from those one pixel to the
// left (a whole byte for depths below 8) and from the row above, which is zero for the first.
bool unfilter_pass(std::uint8_t* rows, const pass_layout& pass, std::size_t step,
                   std::string& why) {
  const std::uint8_t* above = nullptr;
  for (std::size_t y = 0; y < pass.height; ++y) {
    const std::uint8_t filter = rows[0];
    std::uint8_t* row = rows + 1;
    if (filter > 4) {
      return fail(why, "bad row filter");
    }
    for (std::size_t i = 0; filter != 0 && i < pass.row_bytes; ++i) {
      const int a = i >= step ? row[i - step] : 0;
      const int b = above != nullptr ? above[i] : 0;
      const int c = i >= step && above != nullptr ? above[i - step] : 0;
      const int predicted = filter == 1   ? a
                            : filter == 2 ? b
                            : filter == 3 ? (a + b) / 2
                                          : paeth(a, b, c);
      row[i] = static_cast<std::uint8_t>(row[i] + predicted);
    }
    above = row;
    rows += 1 + pass.row_bytes;
  }
  return true;
}

// Puts one pass's unfiltered rows in their places: palette indices, unpacked from the high bits
// down for depths below 8, or red, green and blue, alpha dropped once known to be opaque.
bool place_pass(const std::uint8_t* rows, const png_header& header, const pass_layout& pass,
                picture_pixels& picture, std::string& why) {
  const unsigned depth = header.depth;
  for (std::size_t y = 0; y < pass.height; ++y) {
    const std::uint8_t* row = rows + y * (1 + pass.row_bytes) + 1;
    const std::size_t picture_row = pass.shape.y0 + y * pass.shape.dy;
    for (std::size_t x = 0; x < pass.width; ++x) {
      const std::size_t at = picture_row * header.width + pass.shape.x0 + x * pass.shape.dx;
      if (header.colour_type == palette_type) {
        const std::size_t bit = x * depth;
        const unsigned shift = 8 - depth - bit % 8;
        picture.pixels[at] = static_cast<std::uint8_t>(row[bit / 8] >> shift & ((1u << depth) - 1));
        continue;
      }
      const std::uint8_t* pixel = row + x * (header.colour_type == rgba_type ? 4 : 3);
      if (header.colour_type == rgba_type && pixel[3] != 255) {
        return fail(why, "transparency is not supported");
      }
      std::memcpy(picture.pixels.data() + 3 * at, pixel, 3);
    }
  }
  return true;
}

// The IDAT data inflating into a buffer of exactly the size the picture's rows take.
struct image_inflater {
  z_stream stream{};
  bool started = false;
  bool ended = false;
  std::vector<std::uint8_t> image;
  ~image_inflater() {
    if (started) {
      inflateEnd(&stream);
    }
  }
};

bool start_inflating(image_inflater& inflater, std::size_t image_size, std::string& why) {
  inflater.image.resize(image_size);
  if (inflateInit(&inflater.stream) != Z_OK) {
    return fail(why, "out of memory");
  }
  inflater.started = true;
  inflater.stream.next_out = inflater.image.data();
  inflater.stream.avail_out = static_cast<uInt>(image_size);
  return true;
}

// Inflates one IDAT chunk's data. Data that would go past the buffer, or that follows the end
// of the deflate stream, is too much; a stream that ends before the buffer is full too little.
bool inflate_chunk(image_inflater& inflater, const std::uint8_t* data, std::size_t size,
                   std::string& why) {
  z_stream& stream = inflater.stream;
  if (inflater.ended) {
    return size == 0 || fail(why, "too much image data");
  }
  stream.next_in = const_cast<Bytef*>(data);
  stream.avail_in = static_cast<uInt>(size);
  while (stream.avail_in > 0) {
    // Once the buffer is full, one more byte of room shows whether more would come out.
    std::uint8_t spill = 0;
    const bool full = stream.avail_out == 0;
    if (full) {
      stream.next_out = &spill;
      stream.avail_out = 1;
    }
    const int result = inflate(&stream, Z_NO_FLUSH);
    if (full) {
      if (stream.avail_out == 0) {
        return fail(why, "too much image data");
      }
      stream.next_out = inflater.image.data() + inflater.image.size();
      stream.avail_out = 0;
    }
    if (result == Z_STREAM_END) {
      inflater.ended = true;
      if (stream.avail_out != 0) {
        return fail(why, "too little image data");
      }
      return stream.avail_in == 0 || fail(why, "too much image data");
    }
    if (result == Z_MEM_ERROR) {
      return fail(why, "out of memory");
    }
    if (result != Z_OK) {
      return fail(why, "bad compressed image data");
    }
  }
  return true;
}

// Unfilters the inflated rows pass by pass and places their pixels.
bool finish_png(image_inflater& inflater, const png_header& header, picture_pixels& picture,
                std::string& why) {
  const bool indexed = header.colour_type == palette_type;
  picture.width = static_cast<std::int32_t>(header.width);
  picture.height = static_cast<std::int32_t>(header.height);
  picture.indexed = indexed;
  picture.pixels.resize(std::size_t{header.width} * header.height * (indexed ? 1 : 3));
  const std::size_t step = (bits_per_pixel(header) + 7) / 8;
  std::uint8_t* rows = inflater.image.data();
  for (std::size_t p = 0; p < pass_count(header); ++p) {
    const pass_layout pass = layout_of(header, pass_shapes(header)[p]);
    if (pass.width == 0) {
      continue;
    }
    if (!unfilter_pass(rows, pass, step, why) || !place_pass(rows, header, pass, picture, why)) {
      return false;
    }
    rows += pass.stored();
  }
  return true;
}

bool is_letter(std::uint8_t byte) {
  return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z');
}

bool decode_png(const byte_view& file, std::size_t most_pixels, picture_pixels& picture,
                std::string& why) {
  png_header header{};
  bool have_header = false;
  bool have_palette = false;
  bool seen_image_data = false;
  image_inflater inflater;
  for (std::size_t at = sizeof png_signature;;) {
    std::uint32_t length = 0;
    if (at == file.size) {
      return fail(why, "no IEND chunk");
    }
    if (!read_u32be(file, at, length)) {
      return fail(why, "cut short");
    }
    if (length > longest_chunk) {
      return fail(why, "bad chunk length");
    }
    if (!holds(file, at, 12 + std::size_t{length})) {
      return fail(why, "cut short");
    }
    const std::uint8_t* type_bytes = file.bytes + at + 4;
    if (!is_letter(type_bytes[0]) || !is_letter(type_bytes[1]) || !is_letter(type_bytes[2]) ||
        !is_letter(type_bytes[3])) {
      return fail(why, "bad chunk type");
    }
    const std::string type(type_bytes, type_bytes + 4);
    const std::uint8_t* data = type_bytes + 4;
    std::uint32_t stored_crc = 0;
    read_u32be(file, at + 8 + length, stored_crc);
    if (crc32(0, type_bytes, length + 4) != stored_crc) {
      return fail(why, "bad checksum in chunk " + type);
    }
    at += 12 + std::size_t{length};

    if (!have_header) {
      if (type != "IHDR") {
        return fail(why, "IHDR is not the first chunk");
      }
      if (length != 13) {
        return fail(why, "bad IHDR length");
      }
      if (!read_png_header(data, header, why)) {
        return false;
      }
      if (too_many_pixels(header.width, header.height, most_pixels)) {
        return fail(why, "larger than the tool's buffers");
      }
      std::size_t image_size = 0;
      for (std::size_t p = 0; p < pass_count(header); ++p) {
        image_size += layout_of(header, pass_shapes(header)[p]).stored();
      }
      if (!start_inflating(inflater, image_size, why)) {
        return false;
      }
      have_header = true;
    } else if (type == "IHDR") {
      return fail(why, "IHDR appears twice");
    } else if (type == "PLTE") {
      if (have_palette || seen_image_data) {
        return fail(why, "PLTE out of place");
      }
      if (length == 0 || length % 3 != 0 || length > 256 * 3) {
        return fail(why, "bad PLTE length");
      }
      have_palette = true;
      if (header.colour_type == palette_type) {
        picture.palette.assign(data, data + length);
      }
    } else if (type == "tRNS") {
      // Only a palette's alpha values can all be opaque; RGB ones name a transparent colour.
      for (std::size_t i = 0; i < length; ++i) {
        if (header.colour_type != palette_type || data[i] != 255) {
          return fail(why, "transparency is not supported");
        }
      }
    } else if (type == "IDAT") {
      if (header.colour_type == palette_type && !have_palette) {
        return fail(why, "no PLTE before IDAT");
      }
      seen_image_data = true;
      if (!inflate_chunk(inflater, data, length, why)) {
        return false;
      }
    } else if (type == "IEND") {
      if (!inflater.ended) {
        return fail(why, seen_image_data ? "image data cut short" : "no IDAT chunk");
      }
      return finish_png(inflater, header, picture, why);
    } else if (type[0] >= 'A' && type[0] <= 'Z') {
      return fail(why, "chunk " + type + " is not supported");
    }
  }
}

} // namespace

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
    return fail(why, "neither a BMP nor a PNG file");
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
    return fail(why, "cannot be opened");
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
    return fail(why, "cannot be read");
  }
  if (static_cast<std::uint64_t>(size) > largest_picture_file) {
    std::fclose(stream);
    return fail(why, "larger than 16 MiB");
  }
  const auto length = static_cast<std::size_t>(size);
  const std::unique_ptr<std::uint8_t[]> bytes(new std::uint8_t[length]);
  const std::size_t got = std::fread(bytes.get(), 1, length, stream);
  const bool read_error = std::ferror(stream) != 0 || got != length;
  std::fclose(stream);
  if (read_error) {
    return fail(why, "cannot be read");
  }
  return decode_picture(byte_view{bytes.get(), length}, most_pixels, picture, why);
}
