#include "pictures/png_file.hpp"

#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/colour.hpp"
#include "pictures/colour_expansion.hpp"
#include "pictures/output_file.hpp"
#include "pictures/picture_names.hpp"

namespace {

constexpr std::uint8_t png_signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::size_t chunk_head_size = 8;                    // length and type
constexpr std::size_t chunk_frame_size = chunk_head_size + 4; // and the CRC after the data
constexpr std::size_t header_data_size = 13;
constexpr std::size_t palette_data_size = 256 * 3;
constexpr std::uint8_t palette_colour_type = 3;
constexpr std::uint8_t rgb_colour_type = 2;
constexpr std::uint8_t no_filter = 0;
constexpr std::uint8_t paeth_filter = 4;

// Chosen by measurement (docs/performance.md): palette rows compress best unfiltered, and
// level 3 costs no more time than level 1; RGB rows need the Paeth filter and level 6 to come
// near other encoders' sizes on drawn pictures. Noise-like RGB pictures gain nothing from
// matching: once their first rows deflate to more than half their size, the rest is only
// Huffman-coded, which takes a fraction of the time for the same size.
constexpr int palette_level = 3;
constexpr int rgb_level = 6;
constexpr int rgb_strategy = Z_FILTERED;
constexpr std::size_t rows_before_guessing = 16;
constexpr int window_bits = 15;
constexpr int memory_level = 8;

void put_u32be(std::uint8_t* at, std::uint32_t value) {
  at[0] = static_cast<std::uint8_t>(value >> 24);
  at[1] = static_cast<std::uint8_t>(value >> 16);
  at[2] = static_cast<std::uint8_t>(value >> 8);
  at[3] = static_cast<std::uint8_t>(value);
}

// Frames `data_size` bytes at chunk + 8 as a chunk of `type`: length and type before, CRC
// after. Returns the chunk's whole size.
std::size_t frame_chunk(std::uint8_t* chunk, const char* type, std::size_t data_size) {
  put_u32be(chunk, static_cast<std::uint32_t>(data_size));
  std::memcpy(chunk + 4, type, 4);
  const uLong crc = crc32(0, chunk + 4, static_cast<uInt>(data_size + 4));
  put_u32be(chunk + chunk_head_size + data_size, static_cast<std::uint32_t>(crc));
  return data_size + chunk_frame_size;
}

// Signature, IHDR and (for palette pictures) PLTE; returns their size.
std::size_t put_png_head(std::uint8_t* at, const picture& shown, std::uint8_t colour_type) {
  std::memcpy(at, png_signature, sizeof png_signature);
  std::uint8_t* header = at + sizeof png_signature;
  put_u32be(header + chunk_head_size, static_cast<std::uint32_t>(shown.width));
  put_u32be(header + chunk_head_size + 4, static_cast<std::uint32_t>(shown.height));
  const std::uint8_t rest[] = {8, colour_type, 0, 0,
                               0}; // depth, type, deflate, filters, no interlace
  std::memcpy(header + chunk_head_size + 8, rest, sizeof rest);
  std::size_t size = sizeof png_signature + frame_chunk(header, "IHDR", header_data_size);
  if (colour_type == palette_colour_type) {
    std::uint8_t* plte = at + size;
    for (std::size_t i = 0; i < 256; ++i) {
      const std::uint8_t* palette = shown.palette.bytes;
      const std::uint32_t word =
          static_cast<std::uint32_t>(palette[2 * i]) << 8 | palette[2 * i + 1];
      std::uint8_t* entry = plte + chunk_head_size + 3 * i;
      entry[0] = colour_red(word);
      entry[1] = colour_green(word);
      entry[2] = colour_blue(word);
    }
    size += frame_chunk(plte, "PLTE", palette_data_size);
  }
  return size;
}

constexpr std::size_t largest_head =
    sizeof png_signature + 2 * chunk_frame_size + header_data_size + palette_data_size;

// One picture on its way out: its head goes with the first IDAT chunk, and the IEND chunk with
// the last, so a small picture takes one write.
struct png_output {
  const std::string& path;
  std::uint8_t head[largest_head];
  std::size_t head_size;
};

} // namespace

// The deflate stream, set up once and reset for every picture; the row being deflated with its
// filter byte, and for RGB pictures the unfiltered rows it is made from.
struct png_deflater {
  z_stream stream{};
  std::vector<std::uint8_t> row;
  std::vector<std::uint8_t> above;
  std::vector<std::uint8_t> current;
};

void png_deflater_deleter::operator()(png_deflater* deflater) const {
  deflateEnd(&deflater->stream);
  delete deflater;
}

namespace {

png_deflater& deflater_of(picture_output& output, int level, int strategy) {
  if (!output.deflater) {
    auto made = std::make_unique<png_deflater>();
    if (deflateInit2(&made->stream, level, Z_DEFLATED, window_bits, memory_level, strategy) !=
        Z_OK) {
      throw std::bad_alloc();
    }
    output.deflater.reset(made.release());
  }
  // A reset keeps the previous picture's parameters.
  deflateReset(&output.deflater->stream);
  deflateParams(&output.deflater->stream, level, strategy);
  return *output.deflater;
}

// Paeth prediction from the pixel to the left (a), above (b) and above left (c).
std::uint8_t paeth(int a, int b, int c) {
  const int p = a + b - c;
  const int to_a = std::abs(p - a);
  const int to_b = std::abs(p - b);
  const int to_c = std::abs(p - c);
  return static_cast<std::uint8_t>(to_a <= to_b && to_a <= to_c ? a : to_b <= to_c ? b : c);
}

// Filters `current` (3-byte pixels) against `above` into `filtered`, behind the filter byte.
void paeth_filter_row(const std::vector<std::uint8_t>& above,
                      const std::vector<std::uint8_t>& current, std::uint8_t* filtered) {
  filtered[0] = paeth_filter;
  for (std::size_t i = 0; i < current.size(); ++i) {
    const int left = i >= 3 ? current[i - 3] : 0;
    const int upper_left = i >= 3 ? above[i - 3] : 0;
    filtered[1 + i] = static_cast<std::uint8_t>(current[i] - paeth(left, above[i], upper_left));
  }
}

constexpr std::size_t idat_capacity = output_buffer_size - chunk_frame_size;

// IDAT data is deflated into output_buffer, behind room for the chunk's length and type.
void start_idat(picture_output& output, z_stream& stream) {
  stream.next_out = output.buffer.get() + chunk_head_size;
  stream.avail_out = static_cast<uInt>(idat_capacity);
}

// Writes what has been deflated as one IDAT chunk (after the head, when it is still due, and
// before the IEND chunk when this is the last).
void write_idat(picture_output& output, png_output& png, z_stream& stream, bool last) {
  static const std::uint8_t end_chunk[chunk_frame_size] = {0,   0,   0,    0,    'I',  'E',
                                                           'N', 'D', 0xAE, 0x42, 0x60, 0x82};
  const std::size_t data_size = idat_capacity - stream.avail_out;
  const byte_piece pieces[] = {
      {png.head, png.head_size},
      {output.buffer.get(), frame_chunk(output.buffer.get(), "IDAT", data_size)},
      {end_chunk, last ? sizeof end_chunk : 0}};
  write_output(output, png.path, pieces, 3);
  png.head_size = 0;
  start_idat(output, stream);
}

// Codes the rest of the picture with Huffman codes alone. The change may need room for output
// that is still due.
void set_huffman_only(picture_output& output, png_output& png, z_stream& stream) {
  while (deflateParams(&stream, rgb_level, Z_HUFFMAN_ONLY) == Z_BUF_ERROR) {
    write_idat(output, png, stream, false);
  }
}

void deflate_bytes(picture_output& output, png_output& png, z_stream& stream, std::uint8_t* bytes,
                   std::size_t size, int flush) {
  stream.next_in = bytes;
  stream.avail_in = static_cast<uInt>(size);
  for (;;) {
    if (deflate(&stream, flush) == Z_STREAM_END) {
      return;
    }
    if (stream.avail_out == 0) {
      write_idat(output, png, stream, false);
    } else if (flush != Z_FINISH && stream.avail_in == 0) {
      return;
    }
  }
}

// Writes the picture's rows, each behind its filter byte, top row first: palette indices as
// they are, or colour words expanded to red, green and blue.
void write_png(const output_options& files, picture_output& output, const std::string& path,
               text create_error, const picture& shown, bool colour_words) {
  const auto width = static_cast<std::size_t>(shown.width);
  const auto height = static_cast<std::size_t>(shown.height);
  const std::uint8_t* pixels = shown.pixels.bytes;
  if (width == 0 || height == 0) {
    return;
  }
  png_output png{path, {}, 0};
  png.head_size =
      put_png_head(png.head, shown, colour_words ? rgb_colour_type : palette_colour_type);
  png_deflater& deflater = colour_words ? deflater_of(output, rgb_level, rgb_strategy)
                                        : deflater_of(output, palette_level, Z_DEFAULT_STRATEGY);
  z_stream& stream = deflater.stream;
  const std::size_t row_bytes = colour_words ? 3 * width : width;
  deflater.row.resize(1 + row_bytes);
  deflater.row[0] = no_filter;
  deflater.above.assign(colour_words ? row_bytes : 0, 0); // the row above the first is zero
  deflater.current.resize(colour_words ? row_bytes : 0);
  if (!open_output(output, path, create_error, files.keep_existing)) {
    return;
  }
  start_idat(output, stream);
  for (std::size_t row = 0; row < height; ++row) {
    if (colour_words) {
      expand_colour_words(pixels + row * width * colour_word_size, width, deflater.current.data(),
                          channel_order::red_green_blue);
      paeth_filter_row(deflater.above, deflater.current, deflater.row.data());
      deflater.above.swap(deflater.current);
    } else {
      std::memcpy(deflater.row.data() + 1, pixels + row * width, width);
    }
    deflate_bytes(output, png, stream, deflater.row.data(), deflater.row.size(), Z_NO_FLUSH);
    if (colour_words && row + 1 == rows_before_guessing && row + 1 < height) {
      deflate_bytes(output, png, stream, nullptr, 0, Z_BLOCK);
      if (stream.total_out > rows_before_guessing * deflater.row.size() / 2) {
        set_huffman_only(output, png, stream);
      }
    }
  }
  deflate_bytes(output, png, stream, nullptr, 0, Z_FINISH);
  write_idat(output, png, stream, true);
  close_output(output, path);
}

} // namespace

void write_direct_png(const output_options& files, picture_output& output,
                      const std::string& base_name, const picture& shown) {
  write_png(files, output,
            output_path(files, base_name, direct_suffix(shown.place.counter), ".PNG"),
            text::file_create_error, shown, true);
}

void write_indexed_png(const output_options& files, picture_output& output,
                       const std::string& base_name, const picture& shown) {
  write_png(files, output,
            output_path(files, base_name, indexed_suffix(shown.place.counter), ".PNG"),
            text::file_create_errror, shown, false);
}
