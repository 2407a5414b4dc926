#include <cstdint>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define OFB2BMP_EXPAND_WITH_SSE2 1
#endif
#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#define OFB2BMP_EXPAND_WITH_AVX2 1
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

#ifdef OFB2BMP_EXPAND_WITH_AVX2
// Sixteen pixels a step with byte shuffles, on processors that have AVX2 (asked once at run
// time). Each 128-bit half turns 8 words into 24 bytes: the shuffles place blue and green
// from one vector and red from another, and the two halves are stored one after the other.
// Returns the number of pixels left at the start of the buffer.
__attribute__((target("avx2"))) std::size_t expand_words_avx2(std::uint8_t* pixels, std::size_t i) {
  const __m256i swap = _mm256_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14, //
                                        1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
  const __m256i low_channel = _mm256_set1_epi16(0x00F8);
  const __m256i high_channel = _mm256_set1_epi16(static_cast<short>(0xF800));
  const __m256i blue_green_first =
      _mm256_setr_epi8(0, 1, -1, 2, 3, -1, 4, 5, -1, 6, 7, -1, 8, 9, -1, 10, //
                       0, 1, -1, 2, 3, -1, 4, 5, -1, 6, 7, -1, 8, 9, -1, 10);
  const __m256i red_first =
      _mm256_setr_epi8(-1, -1, 0, -1, -1, 2, -1, -1, 4, -1, -1, 6, -1, -1, 8, -1, //
                       -1, -1, 0, -1, -1, 2, -1, -1, 4, -1, -1, 6, -1, -1, 8, -1);
  const __m256i blue_green_last =
      _mm256_setr_epi8(11, -1, 12, 13, -1, 14, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1, //
                       11, -1, 12, 13, -1, 14, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m256i red_last =
      _mm256_setr_epi8(-1, 10, -1, -1, 12, -1, -1, 14, -1, -1, -1, -1, -1, -1, -1, -1, //
                       -1, 10, -1, -1, 12, -1, -1, 14, -1, -1, -1, -1, -1, -1, -1, -1);
  for (; i >= 16; i -= 16) {
    const __m256i bytes =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pixels + 2 * (i - 16)));
    const __m256i words = _mm256_shuffle_epi8(bytes, swap);
    const __m256i blue_green =
        _mm256_or_si256(_mm256_and_si256(_mm256_srli_epi16(words, 7), low_channel),
                        _mm256_and_si256(_mm256_slli_epi16(words, 6), high_channel));
    const __m256i red = _mm256_and_si256(_mm256_slli_epi16(words, 3), low_channel);
    const __m256i first = _mm256_or_si256(_mm256_shuffle_epi8(blue_green, blue_green_first),
                                          _mm256_shuffle_epi8(red, red_first));
    const __m256i last = _mm256_or_si256(_mm256_shuffle_epi8(blue_green, blue_green_last),
                                         _mm256_shuffle_epi8(red, red_last));
    std::uint8_t* target = pixels + 3 * (i - 16);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(target), _mm256_castsi256_si128(first));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(target + 16), _mm256_castsi256_si128(last));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(target + 24), _mm256_extracti128_si256(first, 1));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(target + 40), _mm256_extracti128_si256(last, 1));
  }
  return i;
}

bool has_avx2() {
  static const bool present = __builtin_cpu_supports("avx2");
  return present;
}
#endif

} // namespace

// Going from the end, the bytes written for pixel i and above lie at or after 3 * i, past
// every word still unread (below 2 * i), so one buffer suffices.
void expand_colour_words(std::uint8_t* pixels, std::size_t pixel_count) {
  std::size_t i = pixel_count;
#ifdef OFB2BMP_EXPAND_WITH_AVX2
  if (has_avx2()) {
    i = expand_words_avx2(pixels, i);
  }
#endif
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
