#include <cstdint>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define OFB2BMP_EXPAND_WITH_SSE2 1
#endif

#include "bitmap/bitmap_file.hpp"
#include "bitmap/bitmap_writers.hpp"
#include "common/colour.hpp"

namespace {

void expand_one_word(std::uint8_t* pixels, std::size_t i) {
  const std::uint32_t word = static_cast<std::uint32_t>(pixels[2 * i]) << 8 | pixels[2 * i + 1];
  std::uint8_t* target = pixels + 3 * i;
  target[0] = colour_blue(word);
  target[1] = colour_green(word);
  target[2] = colour_red(word);
}

#ifdef OFB2BMP_EXPAND_WITH_SSE2
// Four pixels held as 32-bit lanes (blue, green, red, 0), packed into the low 12 bytes; the
// high 4 bytes are zero.
__m128i pack_four_pixels(__m128i lanes) {
  const __m128i low_pixel = _mm_set1_epi64x(0x0000000000FFFFFF);
  const __m128i high_pixel = _mm_set1_epi64x(0x0000FFFFFF000000);
  const __m128i pairs = _mm_or_si128(_mm_and_si128(lanes, low_pixel),
                                     _mm_and_si128(_mm_srli_epi64(lanes, 8), high_pixel));
  const __m128i first_pair = _mm_set_epi32(0, 0, 0x0000FFFF, -1);
  return _mm_or_si128(_mm_and_si128(pairs, first_pair),
                      _mm_andnot_si128(first_pair, _mm_srli_si128(pairs, 2)));
}

// Expands the eight words at pixel i into 24 bytes at 3 * i. All 16 source bytes are loaded
// before anything is stored, and the stores end exactly at 3 * (i + 8).
void expand_eight_words(std::uint8_t* pixels, std::size_t i) {
  const __m128i channel = _mm_set1_epi16(0xF8);
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + 2 * i));
  const __m128i words = _mm_or_si128(_mm_slli_epi16(bytes, 8), _mm_srli_epi16(bytes, 8));
  const __m128i blue = _mm_and_si128(_mm_srli_epi16(words, 7), channel);
  const __m128i green = _mm_and_si128(_mm_srli_epi16(words, 2), channel);
  const __m128i red = _mm_and_si128(_mm_slli_epi16(words, 3), channel);
  const __m128i blue_green = _mm_or_si128(blue, _mm_slli_epi16(green, 8));
  const __m128i first = pack_four_pixels(_mm_unpacklo_epi16(blue_green, red));
  const __m128i second = pack_four_pixels(_mm_unpackhi_epi16(blue_green, red));
  std::uint8_t* target = pixels + 3 * i;
  _mm_storeu_si128(reinterpret_cast<__m128i*>(target),
                   _mm_or_si128(first, _mm_slli_si128(second, 12)));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(target + 16), _mm_srli_si128(second, 4));
}
#endif

} // namespace

// Going from the end, the bytes written for pixel i and above lie at or after 3 * i, past
// every word still unread (below 2 * i), so one buffer suffices.
void expand_colour_words(std::uint8_t* pixels, std::size_t pixel_count) {
  std::size_t i = pixel_count;
#ifdef OFB2BMP_EXPAND_WITH_SSE2
  for (; i >= 8; i -= 8) {
    expand_eight_words(pixels, i - 8);
  }
#endif
  while (i-- > 0) {
    expand_one_word(pixels, i);
  }
}

bool direct_frame_fits(std::int64_t width, std::int64_t height) {
  return width >= 0 && height >= 0 &&
         width * height * 3 <= static_cast<std::int64_t>(pixel_buffer_size);
}

void write_direct_bitmap(extraction_state& state, const std::string& base_name,
                         std::int32_t frame_counter) {
  const std::string path = bitmap_path(state, base_name, direct_suffix(frame_counter));
  const auto width = static_cast<std::size_t>(state.image_width);
  const auto height = static_cast<std::size_t>(state.image_height);
  expand_colour_words(state.pixel_buffer.get(), width * height);

  const std::size_t row_bytes = 3 * width;
  std::uint8_t header[bitmap_header_size];
  put_bitmap_header(header,
                    {static_cast<std::uint32_t>(bitmap_header_size +
                                                (row_bytes + row_padding(row_bytes)) * height),
                     bitmap_header_size, state.image_width, state.image_height, 24, 0});

  open_bitmap(state, path, "file create error![%s]\n");
  write_bitmap_bytes(state, path, header, sizeof header);
  write_bitmap_rows(state, path, state.pixel_buffer.get(), row_bytes, state.image_height);
  close_bitmap(state, path);
}
