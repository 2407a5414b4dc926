#include "pictures/colour_expansion.hpp"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define OFB2BMP_EXPAND_WITH_SSE2 1
#endif
#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#define OFB2BMP_EXPAND_WITH_AVX2 1
#endif

#include "common/colour.hpp"

namespace {

void expand_words_one_by_one(const std::uint8_t* words, std::size_t count, std::uint8_t* target,
                             channel_order order) {
  const std::size_t first = order == channel_order::blue_green_red ? 0 : 2;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t word = static_cast<std::uint32_t>(words[2 * i]) << 8 | words[2 * i + 1];
    std::uint8_t* pixel = target + 3 * i;
    pixel[first] = colour_blue(word);
    pixel[1] = colour_green(word);
    pixel[2 - first] = colour_red(word);
  }
}

#ifdef OFB2BMP_EXPAND_WITH_SSE2
// Four pixels held as 32-bit lanes (three channels, 0), packed into the low 12 bytes; the
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

// Eight words a step into 24 bytes: 16 stored whole, then the last 8.
std::size_t expand_words_sse2(const std::uint8_t* words, std::size_t count, std::uint8_t* target,
                              channel_order order) {
  const __m128i channel = _mm_set1_epi16(0xF8);
  std::size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(words + 2 * i));
    const __m128i word = _mm_or_si128(_mm_slli_epi16(bytes, 8), _mm_srli_epi16(bytes, 8));
    const __m128i blue = _mm_and_si128(_mm_srli_epi16(word, 7), channel);
    const __m128i green = _mm_slli_epi16(_mm_and_si128(_mm_srli_epi16(word, 2), channel), 8);
    const __m128i red = _mm_and_si128(_mm_slli_epi16(word, 3), channel);
    const bool bgr = order == channel_order::blue_green_red;
    const __m128i first_two = _mm_or_si128(bgr ? blue : red, green);
    const __m128i third = bgr ? red : blue;
    const __m128i low = pack_four_pixels(_mm_unpacklo_epi16(first_two, third));
    const __m128i high = pack_four_pixels(_mm_unpackhi_epi16(first_two, third));
    std::uint8_t* out = target + 3 * i;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_or_si128(low, _mm_slli_si128(high, 12)));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 16), _mm_srli_si128(high, 4));
  }
  return i;
}
#endif

#ifdef OFB2BMP_EXPAND_WITH_AVX2
// Sixteen words a step with byte shuffles. Each 128-bit half turns 8 words into 24 bytes: the
// shuffles place the first two channels from one vector and the third from another, and the
// two halves are stored one after the other.
__attribute__((target("avx2"))) std::size_t expand_words_avx2(const std::uint8_t* words,
                                                              std::size_t count,
                                                              std::uint8_t* target,
                                                              channel_order order) {
  const __m256i swap = _mm256_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14, //
                                        1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
  const __m256i low_channel = _mm256_set1_epi16(0x00F8);
  const __m256i high_channel = _mm256_set1_epi16(static_cast<short>(0xF800));
  const __m256i two_first =
      _mm256_setr_epi8(0, 1, -1, 2, 3, -1, 4, 5, -1, 6, 7, -1, 8, 9, -1, 10, //
                       0, 1, -1, 2, 3, -1, 4, 5, -1, 6, 7, -1, 8, 9, -1, 10);
  const __m256i third_first =
      _mm256_setr_epi8(-1, -1, 0, -1, -1, 2, -1, -1, 4, -1, -1, 6, -1, -1, 8, -1, //
                       -1, -1, 0, -1, -1, 2, -1, -1, 4, -1, -1, 6, -1, -1, 8, -1);
  const __m256i two_last =
      _mm256_setr_epi8(11, -1, 12, 13, -1, 14, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1, //
                       11, -1, 12, 13, -1, 14, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m256i third_last =
      _mm256_setr_epi8(-1, 10, -1, -1, 12, -1, -1, 14, -1, -1, -1, -1, -1, -1, -1, -1, //
                       -1, 10, -1, -1, 12, -1, -1, 14, -1, -1, -1, -1, -1, -1, -1, -1);
  const bool bgr = order == channel_order::blue_green_red;
  std::size_t i = 0;
  for (; i + 16 <= count; i += 16) {
    const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(words + 2 * i));
    const __m256i word = _mm256_shuffle_epi8(bytes, swap);
    const __m256i blue = _mm256_and_si256(_mm256_srli_epi16(word, 7), low_channel);
    const __m256i green = _mm256_and_si256(_mm256_slli_epi16(word, 6), high_channel);
    const __m256i red = _mm256_and_si256(_mm256_slli_epi16(word, 3), low_channel);
    const __m256i first_two = _mm256_or_si256(bgr ? blue : red, green);
    const __m256i third = bgr ? red : blue;
    const __m256i first = _mm256_or_si256(_mm256_shuffle_epi8(first_two, two_first),
                                          _mm256_shuffle_epi8(third, third_first));
    const __m256i last = _mm256_or_si256(_mm256_shuffle_epi8(first_two, two_last),
                                         _mm256_shuffle_epi8(third, third_last));
    std::uint8_t* out = target + 3 * i;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(first));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 16), _mm256_castsi256_si128(last));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 24), _mm256_extracti128_si256(first, 1));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 40), _mm256_extracti128_si256(last, 1));
  }
  return i;
}
#endif

} // namespace

bool expansion_path_available(expansion_path path) {
  switch (path) {
  case expansion_path::scalar:
    return true;
  case expansion_path::sse2:
#ifdef OFB2BMP_EXPAND_WITH_SSE2
    return true;
#else
    return false;
#endif
  case expansion_path::avx2:
#ifdef OFB2BMP_EXPAND_WITH_AVX2
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
  }
  return false;
}

expansion_path best_expansion_path() {
  static const expansion_path best =
      expansion_path_available(expansion_path::avx2)   ? expansion_path::avx2
      : expansion_path_available(expansion_path::sse2) ? expansion_path::sse2
                                                       : expansion_path::scalar;
  return best;
}

void expand_colour_words(const std::uint8_t* words, std::size_t count, std::uint8_t* target,
                         channel_order order, expansion_path path) {
  std::size_t done = 0;
#ifdef OFB2BMP_EXPAND_WITH_AVX2
  if (path == expansion_path::avx2) {
    done = expand_words_avx2(words, count, target, order);
  }
#endif
#ifdef OFB2BMP_EXPAND_WITH_SSE2
  if (path != expansion_path::scalar) {
    done += expand_words_sse2(words + 2 * done, count - done, target + 3 * done, order);
  }
#endif
  expand_words_one_by_one(words + 2 * done, count - done, target + 3 * done, order);
}
