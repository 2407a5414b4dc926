// PNG files read back: palette, grey, and RGB pictures, with opaque alpha or none, interlaced or
// not (see picture_reader.cpp). zlib inflates the image data.
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "pictures/picture_decoding.hpp"

using namespace picture_decoding;

namespace {

constexpr std::uint32_t longest_chunk = 0x7FFFFFFF;
constexpr std::uint8_t palette_type = 3;

// The colour types read: their samples a pixel (the last one alpha where there is one) and
// the depths allowed, a bit for each.
struct png_form {
  std::uint8_t colour_type;
  std::uint8_t channels;
  bool alpha;
  unsigned depths;
};
constexpr png_form png_forms[] = {
    {0, 1, false, 1 | 2 | 4 | 8 | 16}, // greyscale
    {2, 3, false, 8 | 16},             // RGB
    {palette_type, 1, false, 1 | 2 | 4 | 8},
    {4, 2, true, 8 | 16}, // greyscale and alpha
    {6, 4, true, 8 | 16}, // RGB and alpha
};

struct png_header {
  std::uint32_t width;
  std::uint32_t height;
  std::uint8_t depth;
  std::uint8_t colour_type;
  bool interlaced;
  const png_form* form;
  bool keyed;           // tRNS names a transparent colour,
  std::uint32_t key[3]; // grey, or red, green and blue, as stored
};

unsigned bits_per_pixel(const png_header& header) {
  return header.form->channels * header.depth;
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
    return damaged(why, "bad picture size");
  }
  const auto form = std::find_if(std::begin(png_forms), std::end(png_forms),
                                 [&](auto& f) { return f.colour_type == header.colour_type; });
  if (form == std::end(png_forms)) {
    return damaged(why, "bad colour type");
  }
  header.form = form;
  if (!std::has_single_bit(header.depth) || (form->depths & header.depth) == 0) {
    return damaged(why, "bad bit depth");
  }
  if (compression != 0) {
    return unsupported(why,
                       "compression method " + std::to_string(compression) + " is not supported");
  }
  if (filter_method != 0) {
    return unsupported(why, "filter method " + std::to_string(filter_method) + " is not supported");
  }
  if (interlace > 1) {
    return unsupported(why, "interlace method " + std::to_string(interlace) + " is not supported");
  }
  header.interlaced = interlace == 1;
  return true;
}

// tRNS: a palette's alpha values are ignored (the colours are what count); greyscale and RGB
// name one colour by its samples, and pictures with alpha have no tRNS.
bool read_transparent_key(const byte_view& data, png_header& header, std::string& why) {
  if (header.colour_type == palette_type) {
    return true;
  }
  const std::size_t samples = header.form->alpha ? 0 : header.form->channels;
  if (samples == 0 || data.size != 2 * samples) {
    return damaged(why, "bad tRNS chunk");
  }
  for (std::size_t i = 0; i < samples; ++i) {
    read_u16be(data, 2 * i, header.key[i]);
  }
  header.keyed = true;
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
      return damaged(why, "bad row filter");
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

// Sample `index` of a row of `depth`-bit samples, 16-bit ones most significant byte first.
std::uint32_t sample(const std::uint8_t* row, std::size_t index, unsigned depth) {
  return depth == 16 ? std::uint32_t{row[2 * index]} << 8 | row[2 * index + 1]
                     : unpacked(row, index, depth);
}

// Scales a sample to 8 bits, rounding: exact for depths below 16 (a 4-bit v gives v * 17).
std::uint8_t to_8_bits(std::uint32_t value, unsigned depth) {
  const std::uint32_t largest = (1u << depth) - 1;
  return static_cast<std::uint8_t>((value * 255 + largest / 2) / largest);
}

// One pixel of a greyscale or RGB picture, with or without alpha, as red, green and blue;
// refused where it is not opaque.
bool place_colour(const std::uint8_t* row, std::size_t x, const png_header& header,
                  std::uint8_t* to, std::string& why) {
  const png_form& form = *header.form;
  std::uint32_t samples[4] = {};
  for (std::size_t c = 0; c < form.channels; ++c) {
    samples[c] = sample(row, x * form.channels + c, header.depth);
  }
  const std::size_t colours = form.alpha ? form.channels - 1u : form.channels;
  const bool see_through = form.alpha
                               ? samples[colours] != (1u << header.depth) - 1
                               : header.keyed && std::equal(samples, samples + colours, header.key);
  if (see_through) {
    return unsupported(why, "transparency is not supported");
  }
  for (std::size_t c = 0; c < 3; ++c) {
    to[c] = to_8_bits(samples[colours == 1 ? 0 : c], header.depth);
  }
  return true;
}

// Puts one pass's unfiltered rows in their places: palette indices, unpacked from the high bits
// down for depths below 8, or red, green and blue.
bool place_pass(const std::uint8_t* rows, const png_header& header, const pass_layout& pass,
                picture_pixels& picture, std::string& why) {
  for (std::size_t y = 0; y < pass.height; ++y) {
    const std::uint8_t* row = rows + y * (1 + pass.row_bytes) + 1;
    const std::size_t picture_row = pass.shape.y0 + y * pass.shape.dy;
    for (std::size_t x = 0; x < pass.width; ++x) {
      const std::size_t at = picture_row * header.width + pass.shape.x0 + x * pass.shape.dx;
      if (header.colour_type == palette_type) {
        picture.pixels[at] = static_cast<std::uint8_t>(unpacked(row, x, header.depth));
      } else if (!place_colour(row, x, header, picture.pixels.data() + 3 * at, why)) {
        return false;
      }
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
    return fail(why, "out of memory: close other programs and try again");
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
    return size == 0 || damaged(why, "too much image data");
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
        return damaged(why, "too much image data");
      }
      stream.next_out = inflater.image.data() + inflater.image.size();
      stream.avail_out = 0;
    }
    if (result == Z_STREAM_END) {
      inflater.ended = true;
      if (stream.avail_out != 0) {
        return damaged(why, "too little image data");
      }
      return stream.avail_in == 0 || damaged(why, "too much image data");
    }
    if (result == Z_MEM_ERROR) {
      return fail(why, "out of memory: close other programs and try again");
    }
    if (result != Z_OK) {
      return damaged(why, "bad compressed image data");
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

} // namespace

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
      return damaged(why, "no IEND chunk");
    }
    if (!read_u32be(file, at, length)) {
      return damaged(why, "cut short");
    }
    if (length > longest_chunk) {
      return damaged(why, "bad chunk length");
    }
    if (!holds(file, at, 12 + std::size_t{length})) {
      return damaged(why, "cut short");
    }
    const std::uint8_t* type_bytes = file.bytes + at + 4;
    if (!is_letter(type_bytes[0]) || !is_letter(type_bytes[1]) || !is_letter(type_bytes[2]) ||
        !is_letter(type_bytes[3])) {
      return damaged(why, "bad chunk type");
    }
    const std::string type(type_bytes, type_bytes + 4);
    const std::uint8_t* data = type_bytes + 4;
    std::uint32_t stored_crc = 0;
    read_u32be(file, at + 8 + length, stored_crc);
    if (crc32(0, type_bytes, length + 4) != stored_crc) {
      return damaged(why, "bad checksum in chunk " + type);
    }
    at += 12 + std::size_t{length};

    if (!have_header) {
      if (type != "IHDR") {
        return damaged(why, "IHDR is not the first chunk");
      }
      if (length != 13) {
        return damaged(why, "bad IHDR length");
      }
      if (!read_png_header(data, header, why)) {
        return false;
      }
      if (too_many_pixels(header.width, header.height, most_pixels)) {
        return too_large(why);
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
      return damaged(why, "IHDR appears twice");
    } else if (type == "PLTE") {
      if (have_palette || seen_image_data) {
        return damaged(why, "PLTE out of place");
      }
      if (length == 0 || length % 3 != 0 || length > 256 * 3) {
        return damaged(why, "bad PLTE length");
      }
      have_palette = true;
      if (header.colour_type == palette_type) {
        picture.palette.assign(data, data + length);
      }
    } else if (type == "tRNS") {
      if (!read_transparent_key({data, length}, header, why)) {
        return false;
      }
    } else if (type == "IDAT") {
      if (header.colour_type == palette_type && !have_palette) {
        return damaged(why, "no PLTE before IDAT");
      }
      seen_image_data = true;
      if (!inflate_chunk(inflater, data, length, why)) {
        return false;
      }
    } else if (type == "IEND") {
      if (!inflater.ended) {
        return damaged(why, seen_image_data ? "image data cut short" : "no IDAT chunk");
      }
      return finish_png(inflater, header, picture, why);
    } else if (type[0] >= 'A' && type[0] <= 'Z') {
      return unsupported(why, "chunk " + type + " is not supported");
    }
  }
}
