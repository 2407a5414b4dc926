#include "sample_writer.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <fstream>
#include <stdexcept>
#include <string>

#include "archive/archive.hpp"

namespace {

constexpr std::uint32_t max_u24 = 0xFFFFFF;

constexpr int direct_count = direct_index_size / index_entry_size;
constexpr int frame_bank_count = frame_bank_index_size / index_entry_size;
constexpr int screen_bank_count = screen_bank_index_size / index_entry_size;

void require(bool ok, const char* what) {
  if (!ok) {
    throw std::invalid_argument(what);
  }
}

std::uint16_t checked_side(int side) {
  require(side >= 1 && side <= 0xFFFF, "picture side out of range");
  return static_cast<std::uint16_t>(side);
}

std::uint16_t checked_count(std::size_t count) {
  require(count <= 0xFFFF, "too many frames for one bank");
  return static_cast<std::uint16_t>(count);
}

// Per-record offset table: a zero byte, then the u24be offset into the area that follows.
void append_offsets(byte_vector& out, const std::vector<std::size_t>& sizes) {
  std::size_t offset = 0;
  for (std::size_t size : sizes) {
    require(offset <= max_u24, "bank too large for 24-bit offsets");
    out.resize(out.size() + frame_offset_at, 0);
    append_u24be(out, static_cast<std::uint32_t>(offset));
    offset += size;
  }
}

// 3x5 digits, one row per byte, bit 2 is the left column.
constexpr std::array<std::array<std::uint8_t, 5>, 10> digit_font = {{
    {7, 5, 5, 5, 7},
    {2, 6, 2, 2, 7},
    {7, 1, 7, 4, 7},
    {7, 1, 7, 1, 7},
    {5, 5, 7, 1, 1},
    {7, 4, 7, 1, 7},
    {7, 4, 7, 5, 7},
    {7, 1, 1, 1, 1},
    {7, 5, 7, 5, 7},
    {7, 5, 7, 1, 7},
}};

template <typename Pixel>
void draw_digits(std::vector<Pixel>& pixels, int width, int height, int x, int y, unsigned number,
                 Pixel value, int scale) {
  require(width >= 0 && height >= 0 &&
              pixels.size() == static_cast<std::size_t>(width) * static_cast<std::size_t>(height),
          "pixel buffer does not match its size");
  scale = std::max(scale, 1);
  const std::string digits = std::to_string(number);
  for (std::size_t d = 0; d < digits.size(); ++d) {
    const auto& glyph = digit_font[static_cast<std::size_t>(digits[d] - '0')];
    const int left = x + static_cast<int>(d) * 4 * scale;
    for (int row = 0; row < 5 * scale; ++row) {
      for (int col = 0; col < 3 * scale; ++col) {
        const int px = left + col;
        const int py = y + row;
        const bool lit = (glyph[static_cast<std::size_t>(row / scale)] >> (2 - col / scale)) & 1;
        if (lit && px >= 0 && px < width && py >= 0 && py < height) {
          pixels[static_cast<std::size_t>(py) * static_cast<std::size_t>(width) +
                 static_cast<std::size_t>(px)] = value;
        }
      }
    }
  }
}

// 0..31 across `span` steps.
unsigned ramp(int position, int span) {
  return span > 1 ? static_cast<unsigned>(position * 31 / (span - 1)) : 0;
}

// A fully saturated hue; `hue` runs from 0 to period-1 round the colour wheel.
std::uint16_t hue_word(unsigned hue, unsigned period) {
  const unsigned scaled = hue * 186 / period; // six 31-step segments
  const unsigned f = scaled % 31;
  switch (scaled / 31) {
  case 0:
    return colour_word(31, f, 0);
  case 1:
    return colour_word(31 - f, 31, 0);
  case 2:
    return colour_word(0, 31, f);
  case 3:
    return colour_word(0, 31 - f, 31);
  case 4:
    return colour_word(f, 0, 31);
  default:
    return colour_word(31, 0, 31 - f);
  }
}

} // namespace

std::uint16_t colour_word(unsigned red5, unsigned green5, unsigned blue5) {
  return static_cast<std::uint16_t>((blue5 & 31) << 10 | (green5 & 31) << 5 | (red5 & 31));
}

byte_vector make_run_stream(const byte_vector& pixels) {
  require(pixels.size() <= max_u24, "too many pixels for one run-length stream");
  const std::uint8_t head[run_length_at] = {};
  byte_vector out;
  append_run_stream(out, head, pixels.data(), pixels.size());
  return out;
}

byte_vector make_direct_record(std::uint16_t width, std::uint16_t height,
                               const colour_words& pixels) {
  require(pixels.size() == std::size_t{width} * height, "pixel count does not match the size");
  byte_vector out(direct_width_at, 0);
  append_u16be(out, width);
  append_u16be(out, height);
  for (std::uint16_t word : pixels) {
    append_u16be(out, word);
  }
  return out;
}

byte_vector make_palette_head(const colour_words& palette, std::uint16_t frame_count) {
  require(palette.size() * colour_word_size == palette_size, "a palette has 256 entries");
  byte_vector out;
  for (std::uint16_t word : palette) {
    append_u16be(out, word);
  }
  out.resize(frame_count_at, 0);
  append_u16be(out, frame_count);
  return out;
}

byte_vector make_frame_bank(const colour_words& palette, const std::vector<indexed_frame>& frames) {
  byte_vector out = make_palette_head(palette, checked_count(frames.size()));
  std::vector<std::size_t> sizes;
  for (const indexed_frame& frame : frames) {
    require(frame.pixels.size() == std::size_t{frame.width} * frame.height,
            "frame pixel count does not match its size");
    sizes.push_back(frame.pixels.size());
  }
  append_offsets(out, sizes);
  for (const indexed_frame& frame : frames) {
    append_u16be(out, frame.width);
    append_u16be(out, frame.height);
  }
  for (const indexed_frame& frame : frames) {
    out.insert(out.end(), frame.pixels.begin(), frame.pixels.end());
  }
  return out;
}

byte_vector make_screen_bank(const colour_words& palette, const std::vector<byte_vector>& streams) {
  byte_vector out = make_palette_head(palette, checked_count(streams.size()));
  std::vector<std::size_t> sizes;
  for (const byte_vector& stream : streams) {
    sizes.push_back(stream.size());
  }
  append_offsets(out, sizes);
  for (const byte_vector& stream : streams) {
    out.insert(out.end(), stream.begin(), stream.end());
  }
  return out;
}

archive_pair lay_out_pair(const std::vector<byte_vector>& records) {
  archive_pair pair;
  for (const byte_vector& record : records) {
    pair.archive.resize((pair.archive.size() + sector_size - 1) / sector_size * sector_size, 0);
    const std::size_t sector = pair.archive.size() / sector_size;
    require(sector <= max_u24, "archive too large for 24-bit sectors");
    require(std::uint64_t{record.size()} <= 0xFFFFFFFF, "record too large for a 32-bit length");
    pair.index.resize(pair.index.size() + entry_sector_at, 0);
    append_u24be(pair.index, static_cast<std::uint32_t>(sector));
    append_u32be(pair.index, static_cast<std::uint32_t>(record.size()));
    pair.archive.insert(pair.archive.end(), record.begin(), record.end());
  }
  return pair;
}

void write_file(const std::filesystem::path& path, const byte_vector& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) {
    throw std::runtime_error("cannot create " + path.string());
  }
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  file.close();
  if (!file) {
    throw std::runtime_error("cannot write " + path.string());
  }
}

void write_pair(const std::filesystem::path& folder, const std::string& name,
                const archive_pair& pair) {
  write_file(folder / (name + ".OFB"), pair.index);
  write_file(folder / (name + ".BIN"), pair.archive);
}

void draw_number(byte_vector& pixels, int width, int height, int x, int y, unsigned number,
                 std::uint8_t value, int scale) {
  draw_digits(pixels, width, height, x, y, number, value, scale);
}

void draw_number(colour_words& pixels, int width, int height, int x, int y, unsigned number,
                 std::uint16_t value, int scale) {
  draw_digits(pixels, width, height, x, y, number, value, scale);
}

colour_words gradient_frame(unsigned number, int width, int height) {
  checked_side(width);
  checked_side(height);
  colour_words pixels;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const unsigned unused_bit = (x + y) % 2 ? 0x8000u : 0u;
      pixels.push_back(
          static_cast<std::uint16_t>(colour_word(ramp(x, width), ramp(y, height), 0) | unused_bit));
    }
  }
  const int scale = std::max(1, std::min(width, height) / 20);
  draw_number(pixels, width, height, scale, scale, number, colour_word(31, 31, 31), scale);
  return pixels;
}

colour_words sample_palette(unsigned seed) {
  colour_words palette(256, 0);
  for (unsigned i = 1; i < 255; ++i) {
    palette[i] = hue_word((i - 1 + seed * 41) % 254, 254);
  }
  palette[255] = colour_word(31, 31, 31);
  return palette;
}

indexed_frame colour_bar_frame(unsigned number, int width, int height) {
  indexed_frame frame{checked_side(width), checked_side(height), {}};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      frame.pixels.push_back(static_cast<std::uint8_t>(1 + x * 8 / width * 36));
    }
  }
  const int scale = std::max(1, std::min(width, height) / 24);
  draw_number(frame.pixels, width, height, scale, scale, number, 255, scale);
  return frame;
}

byte_vector sample_screen(unsigned number) {
  byte_vector pixels;
  std::uint32_t noise = number * 2654435761u + 1;
  for (int y = 0; y < screen_height; ++y) {
    const bool noisy = y >= 120 && y < 136;
    const auto band =
        static_cast<std::uint8_t>(1 + (static_cast<unsigned>(y / 30) * 31 + number) % 254);
    for (int x = 0; x < screen_width; ++x) {
      noise = noise * 1103515245u + 12345u;
      pixels.push_back(noisy ? static_cast<std::uint8_t>(noise >> 16) : band);
    }
  }
  draw_number(pixels, screen_width, screen_height, 16, 16, number, 255, 8);
  return pixels;
}

colour_words noise_frame(unsigned number, int width, int height) {
  colour_words pixels;
  std::uint32_t state = number * 2654435761u + 1;
  for (int i = 0; i < width * height; ++i) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    pixels.push_back(static_cast<std::uint16_t>(state));
  }
  return pixels;
}

archive_pair direct_sample(int width, int height, bool noise) {
  const std::uint16_t w = checked_side(width);
  const std::uint16_t h = checked_side(height);
  std::vector<byte_vector> records;
  for (int n = 0; n < direct_count; ++n) {
    const auto number = static_cast<unsigned>(n);
    records.push_back(
        make_direct_record(w, h, noise ? noise_frame(number, w, h) : gradient_frame(number, w, h)));
  }
  return lay_out_pair(records);
}

archive_pair frame_bank_sample(int frames_per_bank, int min_side, int max_side) {
  require(frames_per_bank >= 0, "negative frame count");
  require(min_side >= 1 && min_side <= max_side && max_side <= 0xFFFF, "bad side range");
  const int range = max_side - min_side + 1;
  std::vector<byte_vector> records;
  for (int b = 0; b < frame_bank_count; ++b) {
    std::vector<indexed_frame> frames;
    for (int k = 0; k < frames_per_bank; ++k) {
      const int width = min_side + (k * 7 + b * 3) % range;
      const int height = min_side + (k * 5 + b * 11 + 3) % range;
      frames.push_back(colour_bar_frame(static_cast<unsigned>(b * 100 + k), width, height));
    }
    records.push_back(make_frame_bank(sample_palette(static_cast<unsigned>(b)), frames));
  }
  return lay_out_pair(records);
}

archive_pair screen_bank_sample(int screens_per_bank) {
  require(screens_per_bank >= 0, "negative screen count");
  std::vector<byte_vector> records;
  for (int b = 0; b < screen_bank_count; ++b) {
    std::vector<byte_vector> streams;
    for (int s = 0; s < screens_per_bank; ++s) {
      streams.push_back(make_run_stream(sample_screen(static_cast<unsigned>(b * 100 + s))));
    }
    records.push_back(make_screen_bank(sample_palette(static_cast<unsigned>(b)), streams));
  }
  return lay_out_pair(records);
}
