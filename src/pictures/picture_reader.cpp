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

#include "pictures/bmp_layout.hpp"

#include <zlib.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

bool fail(std::string& why, const std::string& text) {
  why = text;
  return false;
}

// A kind the tool does not read.
bool unsupported(std::string& why, const std::string& text) {
  return fail(why, text + ": save as 8-bit palette or 24-bit RGB");
}

// A file that breaks its own format.
bool damaged(std::string& why, const std::string& text) {
  return fail(why, text + ": save the picture again");
}

bool too_large(std::string& why) {
  return fail(why, "larger than the tool's buffers: make the picture smaller");
}

// Pixels the tool refuses: more than the caller's buffers take. The bound also keeps every
// size derived from the pixel count (at most 8 bytes a pixel, and a filter byte a row in each
// of 7 passes) far from overflowing.
bool too_many_pixels(std::uint64_t width, std::uint64_t height, std::size_t most_pixels) {
  const std::uint64_t pixels = width * height; // both below 2^32
  return pixels > most_pixels || pixels > SIZE_MAX / 16;
}

// The `depth`-bit sample `index` of a row packed high bits first (depth 1, 2, 4 or 8).
std::uint32_t unpacked(const std::uint8_t* row, std::size_t index, unsigned depth) {
  const std::size_t bit = index * depth;
  return row[bit / 8] >> (8 - depth - bit % 8) & ((1u << depth) - 1);
}

// ---- BMP ----------------------------------------------------------------------------------

constexpr std::uint32_t bmp_bitfields = 3;
constexpr std::uint32_t bmp_header_sizes[] = {40, 52, 56, 108, 124};

enum class bmp_layout { indices, runs, masked };

// The kinds read: bits a pixel, compression, how the pixels lie, and the red, green, blue and
// alpha masks of direct colour (read from the file for bit fields).
struct bmp_form {
  std::uint32_t bits;
  std::uint32_t compression;
  bmp_layout layout;
  std::uint32_t masks[4];
};
constexpr bmp_form bmp_forms[] = {
    {1, 0, bmp_layout::indices, {}},
    {4, 0, bmp_layout::indices, {}},
    {8, 0, bmp_layout::indices, {}},
    {8, 1, bmp_layout::runs, {}},
    {4, 2, bmp_layout::runs, {}},
    {16, 0, bmp_layout::masked, {0x7C00, 0x3E0, 0x1F, 0}},
    {16, bmp_bitfields, bmp_layout::masked, {}},
    {24, 0, bmp_layout::masked, {0xFF0000, 0xFF00, 0xFF, 0}},
    {32, 0, bmp_layout::masked, {0xFF0000, 0xFF00, 0xFF, 0}},
    {32, bmp_bitfields, bmp_layout::masked, {}},
};

struct bmp_info {
  std::uint32_t pixel_offset = 0;
  std::uint32_t header_size = 0;
  std::uint32_t bits = 0;
  std::uint32_t colours_used = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  bool top_down = false;
  const bmp_form* form = nullptr;
  std::uint32_t masks[4] = {};
};

const bmp_form* bmp_form_of(std::uint32_t bits, std::uint32_t compression) {
  const auto found = std::find_if(std::begin(bmp_forms), std::end(bmp_forms), [&](auto& form) {
    return form.bits == bits && form.compression == compression;
  });
  return found == std::end(bmp_forms) ? nullptr : found;
}

bool contiguous(std::uint32_t mask) {
  return mask != 0 && std::has_single_bit((std::uint64_t{mask} >> std::countr_zero(mask)) + 1);
}

// Colour channels of 5 to 8 bits and an alpha channel of any, within the pixel, apart.
bool masks_supported(const bmp_info& info) {
  std::uint32_t taken = 0;
  for (std::size_t c = 0; c < 4; ++c) {
    const std::uint32_t mask = info.masks[c];
    const int width = std::popcount(mask);
    if (c == 3 && mask == 0) {
      break;
    }
    if (!contiguous(mask) || (mask & taken) != 0 || (info.bits < 32 && mask >> info.bits != 0) ||
        (c < 3 && (width < 5 || width > 8))) {
      return false;
    }
    taken |= mask;
  }
  return true;
}

// Bit fields give red, green and blue masks after the first 40 bytes of the header (after the
// header itself when it is no longer), and the alpha mask in headers of 56 bytes or more.
bool read_masks(const byte_view& file, bmp_info& info, std::string& why) {
  std::copy(std::begin(info.form->masks), std::end(info.form->masks), info.masks);
  if (info.form->compression != bmp_bitfields) {
    return true;
  }
  if (!read_u32le(file, bmp_masks_at, info.masks[0]) ||
      !read_u32le(file, bmp_masks_at + 4, info.masks[1]) ||
      !read_u32le(file, bmp_masks_at + 8, info.masks[2])) {
    return damaged(why, "cut short");
  }
  if (info.header_size >= 56) {
    read_u32le(file, bmp_masks_at + 12, info.masks[3]);
  }
  return masks_supported(info) ||
         unsupported(why, "bit fields other than 5 to 8 adjacent bits a colour are not supported");
}

// The form of the bitmap's bits a pixel and compression, with its masks.
bool find_bmp_form(const byte_view& file, std::uint32_t compression, bmp_info& info,
                   std::string& why) {
  info.form = bmp_form_of(info.bits, compression);
  if (info.form == nullptr) {
    const bool bits_known = bmp_form_of(info.bits, 0) != nullptr;
    return unsupported(why,
                       std::to_string(info.bits) + "-bit bitmaps" +
                           (bits_known ? " with compression " + std::to_string(compression) : "") +
                           " are not supported");
  }
  if (info.form->layout == bmp_layout::runs && info.top_down) {
    return damaged(why, "RLE-compressed bitmaps cannot be stored top-down");
  }
  return read_masks(file, info, why);
}

bool read_bmp_info(const byte_view& file, bmp_info& info, std::string& why) {
  if (!read_u32le(file, bmp_pixel_offset_at, info.pixel_offset) ||
      !read_u32le(file, bmp_info_size_at, info.header_size)) {
    return damaged(why, "cut short");
  }
  if (std::find(std::begin(bmp_header_sizes), std::end(bmp_header_sizes), info.header_size) ==
      std::end(bmp_header_sizes)) {
    return unsupported(why, "bitmap headers of " + std::to_string(info.header_size) +
                                " bytes are not supported");
  }
  if (!holds(file, bmp_file_header_size, info.header_size)) {
    return damaged(why, "cut short");
  }
  std::uint32_t width_field = 0;
  std::uint32_t height_field = 0;
  std::uint32_t compression = 0;
  read_u32le(file, bmp_width_at, width_field);
  read_u32le(file, bmp_height_at, height_field);
  read_u16le(file, bmp_bit_count_at, info.bits);
  read_u32le(file, bmp_compression_at, compression);
  read_u32le(file, bmp_colours_used_at, info.colours_used);

  // A negative height means the rows are stored top row first; the most negative value has no
  // positive counterpart.
  info.width = static_cast<std::int32_t>(width_field);
  const auto signed_height = static_cast<std::int32_t>(height_field);
  if (info.width < 0 || height_field == 0x80000000u) {
    return damaged(why, "bad picture size");
  }
  info.top_down = signed_height < 0;
  info.height = info.top_down ? -signed_height : signed_height;
  return find_bmp_form(file, compression, info, why);
}

bool read_colour_table(const byte_view& file, const bmp_info& info, picture_pixels& picture,
                       std::string& why) {
  const std::uint32_t entries = info.colours_used == 0 ? 1u << info.bits : info.colours_used;
  if (entries > 256) {
    return damaged(why, "colour table longer than 256 entries");
  }
  const std::uint8_t* table = bytes_at(file, bmp_file_header_size + info.header_size, 4 * entries);
  if (table == nullptr) {
    return damaged(why, "colour table lies outside the file");
  }
  picture.palette.resize(3 * entries);
  for (std::size_t i = 0; i < entries; ++i) {
    picture.palette[3 * i] = table[4 * i + 2]; // stored blue, green, red, unused
    picture.palette[3 * i + 1] = table[4 * i + 1];
    picture.palette[3 * i + 2] = table[4 * i];
  }
  return true;
}

// ---- BMP run lengths ----

// RLE8 or RLE4 data (`depth` 8 or 4) being expanded. Some writers encode each row with its
// padding to 4 bytes: indices there, past the picture's width, are dropped.
struct run_stream {
  byte_view data;
  unsigned depth = 8;
  std::size_t at = 0;           // the next byte
  std::size_t x = 0;            // where the next index goes: column x of stored row y, the
  std::size_t y = 0;            // bottom row first
  std::size_t padded_width = 0; // the row's indices with its padding
  const std::uint8_t* take(std::size_t count) {
    at += count;
    return bytes_at(data, at - count, count);
  }
};

// Writes `count` indices, the i-th given by `index(i)`, moving past them; refused where they
// would leave the picture (x grows by at most 255 a byte, so it cannot overflow).
template <typename Index>
bool put_run(run_stream& runs, std::size_t count, Index index, picture_pixels& picture,
             std::string& why) {
  const auto width = static_cast<std::size_t>(picture.width);
  const auto height = static_cast<std::size_t>(picture.height);
  if (runs.y >= height || runs.x + count > runs.padded_width) {
    return damaged(why, "RLE data runs off the picture");
  }
  std::uint8_t* row = picture.pixels.data() + (height - 1 - runs.y) * width;
  for (std::size_t i = 0; i < count && runs.x + i < width; ++i) {
    row[runs.x + i] = static_cast<std::uint8_t>(index(i));
  }
  runs.x += count;
  return true;
}

// The escape after a count of 0 (but end of bitmap): 0 end of line, 2 a delta of two more
// bytes, else that many indices as they are, padded to a 16-bit word.
bool run_escape(run_stream& runs, std::uint8_t escape, picture_pixels& picture, std::string& why) {
  if (escape == 0) {
    runs.x = 0;
    ++runs.y;
    return true;
  }
  const std::size_t bytes = escape == 2 ? 2 : (escape * runs.depth + 7) / 8;
  const std::uint8_t* read = runs.take((bytes + 1) & ~std::size_t{1});
  if (read == nullptr) {
    return damaged(why, "RLE data cut short");
  }
  if (escape == 2) {
    runs.x += read[0];
    runs.y += read[1];
    return true;
  }
  const auto stored = [&](std::size_t i) { return unpacked(read, i, runs.depth); };
  return put_run(runs, escape, stored, picture, why);
}

// Expands the runs into the picture, whose pixels are all 0 beforehand, as stay those that an
// end of line or a delta skips. Pairs of bytes: a count and an index (two alternating 4-bit
// ones), or 0 and an escape, 1 for the end of the bitmap.
bool expand_runs(run_stream runs, picture_pixels& picture, std::string& why) {
  runs.padded_width =
      (static_cast<std::size_t>(picture.width) * runs.depth + 31) / 32 * 32 / runs.depth;
  for (;;) {
    const std::uint8_t* pair = runs.take(2);
    if (pair == nullptr) {
      return damaged(why, "RLE data cut short");
    }
    const std::uint8_t value = pair[1];
    const auto repeated = [&](std::size_t i) {
      return runs.depth == 8 ? value : i % 2 == 0 ? value >> 4 : value & 15;
    };
    if (pair[0] == 0 && value == 1) {
      return true;
    }
    if (!(pair[0] != 0 ? put_run(runs, pair[0], repeated, picture, why)
                       : run_escape(runs, value, picture, why))) {
      return false;
    }
  }
}

// ---- BMP rows ----

// A mask's place: its lowest bit and how many bits it has.
struct channel {
  std::uint32_t mask;
  int shift;
  int width;
};

channel channel_of(std::uint32_t mask) {
  return {mask, mask == 0 ? 0 : std::countr_zero(mask), std::popcount(mask)};
}

// A channel of 5 to 8 bits widened to 8 by repeating its top bits below it.
std::uint8_t widened(std::uint32_t pixel, const channel& c) {
  const std::uint32_t value = (pixel & c.mask) >> c.shift;
  return static_cast<std::uint8_t>(value << (8 - c.width) | value >> (2 * c.width - 8));
}

// Whether any pixel had alpha bits set, and whether any was not opaque: pictures of either
// kind alone are read (all-zero alpha is no alpha), of both refused.
struct alpha_seen {
  bool some_set = false;
  bool some_not_opaque = false;
};

void place_masked_row(const std::uint8_t* from, std::size_t width, const bmp_info& info,
                      std::uint8_t* to, alpha_seen& alpha) {
  const channel channels[4] = {channel_of(info.masks[0]), channel_of(info.masks[1]),
                               channel_of(info.masks[2]), channel_of(info.masks[3])};
  const std::size_t bytes = info.bits / 8;
  for (std::size_t x = 0; x < width; ++x) {
    std::uint32_t pixel = 0;
    for (std::size_t i = 0; i < bytes; ++i) {
      pixel |= std::uint32_t{from[bytes * x + i]} << 8 * i;
    }
    for (std::size_t c = 0; c < 3; ++c) {
      to[3 * x + c] = widened(pixel, channels[c]);
    }
    alpha.some_set |= (pixel & info.masks[3]) != 0;
    alpha.some_not_opaque |= (pixel & info.masks[3]) != info.masks[3];
  }
}

// Uncompressed rows, each padded to 4 bytes, except perhaps the last one stored where the file
// ends. A row may be long while there are no rows (or the reverse): sizes stay 64-bit until
// the pixel count bounds them.
bool read_bmp_rows(const byte_view& file, const bmp_info& info, picture_pixels& picture,
                   std::string& why) {
  const auto width = static_cast<std::size_t>(info.width);
  const auto height = static_cast<std::size_t>(info.height);
  const std::uint64_t row_bits = std::uint64_t{width} * info.bits;
  const std::uint64_t stride = (row_bits + 31) / 32 * 4;
  const std::uint64_t size =
      picture.pixels.empty() ? 0 : stride * (height - 1) + (row_bits + 7) / 8;
  const std::uint8_t* data = bytes_at(file, info.pixel_offset, static_cast<std::size_t>(size));
  if (data == nullptr) {
    return damaged(why, "cut short");
  }
  alpha_seen alpha;
  const bool plain_24_bits = info.bits == 24 && info.masks[0] == 0xFF0000 &&
                             info.masks[1] == 0xFF00 && info.masks[2] == 0xFF && info.masks[3] == 0;
  for (std::size_t row = 0; !picture.pixels.empty() && row < height; ++row) {
    const std::size_t stored = info.top_down ? row : height - 1 - row;
    const std::uint8_t* from = data + stored * stride;
    if (picture.indexed && info.bits == 8) { // the usual forms, without unpacking or masks
      std::memcpy(picture.pixels.data() + row * width, from, width);
    } else if (plain_24_bits) {
      std::uint8_t* to = picture.pixels.data() + 3 * row * width;
      for (std::size_t x = 0; x < width; ++x) {
        to[3 * x] = from[3 * x + 2]; // stored blue, green, red
        to[3 * x + 1] = from[3 * x + 1];
        to[3 * x + 2] = from[3 * x];
      }
    } else if (picture.indexed) {
      for (std::size_t x = 0; x < width; ++x) {
        picture.pixels[row * width + x] = static_cast<std::uint8_t>(unpacked(from, x, info.bits));
      }
    } else {
      place_masked_row(from, width, info, picture.pixels.data() + 3 * row * width, alpha);
    }
  }
  return !(alpha.some_set && alpha.some_not_opaque) ||
         unsupported(why, "transparency is not supported");
}

bool decode_bmp(const byte_view& file, std::size_t most_pixels, picture_pixels& picture,
                std::string& why) {
  bmp_info info;
  if (!read_bmp_info(file, info, why)) {
    return false;
  }
  if (too_many_pixels(static_cast<std::uint32_t>(info.width),
                      static_cast<std::uint32_t>(info.height), most_pixels)) {
    return too_large(why);
  }
  picture.width = info.width;
  picture.height = info.height;
  picture.indexed = info.form->layout != bmp_layout::masked;
  if (picture.indexed && !read_colour_table(file, info, picture, why)) {
    return false;
  }
  picture.pixels.resize(static_cast<std::size_t>(info.width) *
                        static_cast<std::size_t>(info.height) * (picture.indexed ? 1 : 3));
  if (info.form->layout == bmp_layout::runs) {
    return expand_runs({rest_from(file, info.pixel_offset), info.bits}, picture, why);
  }
  return read_bmp_rows(file, info, picture, why);
}

// ---- PNG ----------------------------------------------------------------------------------

constexpr std::uint8_t png_signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
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
