// BMP files read back: palette pictures of 1, 4 and 8 bits (8 and 4 also run-length packed),
// and 16-, 24- and 32-bit direct colour, plain or with bit fields (see picture_reader.cpp).
#include <algorithm>
#include <bit>
#include <cstring>

#include "pictures/bmp_layout.hpp"
#include "pictures/picture_decoding.hpp"

using namespace picture_decoding;

namespace {

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

} // namespace

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
