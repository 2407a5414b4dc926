// Writers for synthetic index/archive pairs. Tests, benchmarks and fuzz seeds build their
// inputs with these. The layouts, and the constants used here, are those described at the top
// of src/archive/archive.hpp.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/record_writing.hpp"

using colour_words = std::vector<std::uint16_t>;

// 5-bit channels (higher bits dropped); bit 15 is left clear.
std::uint16_t colour_word(unsigned red5, unsigned green5, unsigned blue5);

// A whole run-length stream of the pixels, with a zero head.
byte_vector make_run_stream(const byte_vector& pixels);

// The make_* functions throw std::invalid_argument when the parts do not fit the layout.
byte_vector make_direct_record(std::uint16_t width, std::uint16_t height,
                               const colour_words& pixels);
struct indexed_frame {
  std::uint16_t width;
  std::uint16_t height;
  byte_vector pixels;
};
// palette: 256 words
byte_vector make_frame_bank(const colour_words& palette, const std::vector<indexed_frame>& frames);
// streams: complete run-length streams (as from make_run_stream), laid out back to back
byte_vector make_screen_bank(const colour_words& palette, const std::vector<byte_vector>& streams);
// The palette head with an empty offset table: palette, zero bytes, N
byte_vector make_palette_head(const colour_words& palette, std::uint16_t frame_count);

struct archive_pair {
  byte_vector index;
  byte_vector archive;
};
// One index entry per record, each record starting at the next free sector (zero padding
// between records; the last record ends the archive).
archive_pair lay_out_pair(const std::vector<byte_vector>& records);
// Writes folder/<name>.OFB and folder/<name>.BIN (name without extension). Throws
// std::runtime_error on failure.
void write_pair(const std::filesystem::path& folder, const std::string& name,
                const archive_pair& pair);
void write_file(const std::filesystem::path& path, const byte_vector& bytes);

// Pictures a person can check by eye. Digits are a 3x5 font, scaled, one scale unit apart,
// clipped at the edges; pixels must hold width*height values.
void draw_number(byte_vector& pixels, int width, int height, int x, int y, unsigned number,
                 std::uint8_t value, int scale);
void draw_number(colour_words& pixels, int width, int height, int x, int y, unsigned number,
                 std::uint16_t value, int scale);
// Red grows left to right, green top to bottom, number in white at the top left. Bit 15 is set
// in a checkerboard; it must not show in the output.
colour_words gradient_frame(unsigned number, int width, int height);
// Pseudo-random words, as in dithered or photographic frames; a different pattern per number.
colour_words noise_frame(unsigned number, int width, int height);
// 256 words: 0 black, 1-254 a hue ramp turned by seed, 255 white.
colour_words sample_palette(unsigned seed);
// Eight vertical bars (indices 1-254) with the number in index 255 at the top left.
indexed_frame colour_bar_frame(unsigned number, int width, int height);
// 352x240 indices: flat bands, a block of noisy rows and the number, so both packet types occur.
byte_vector sample_screen(unsigned number);

// Whole sample sets with the exact entry counts.
// 381 records, record n = gradient_frame(n, ...), or noise_frame(n, ...).
archive_pair direct_sample(int width, int height, bool noise = false);
// 17 banks; frame k of bank b is colour_bar_frame(b * 100 + k, ...) with sides in
// [min_side, max_side] that vary by bank and frame.
archive_pair frame_bank_sample(int frames_per_bank, int min_side, int max_side);
// 147 banks; screen s of bank b is sample_screen(b * 100 + s).
archive_pair screen_bank_sample(int screens_per_bank);
