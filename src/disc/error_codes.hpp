// The error codes of a raw 2,352-byte sector (offsets in sector_format.hpp).
//
// EDC: a 32-bit cyclic code with the polynomial (x^16 + x^15 + x^2 + 1)(x^16 + x^2 + x + 1),
//   bits taken least significant first, starting from zero; stored least significant byte
//   first. Over bytes 0 to 2,063 in Mode 1, bytes 16 to 2,071 in Mode 2 Form 1.
//
// ECC: Reed-Solomon codes over GF(2^8) with the field polynomial x^8 + x^4 + x^3 + x^2 + 1,
//   each codeword ending in two parity bytes so that, with a its primitive element,
//   sum c[i] = 0 and sum c[i] a^(n-1-i) = 0.
//   Bytes 12 to 2,075 (header, data, EDC) are 1,032 words of two bytes, S(0) to S(1031); the
//   P parity is S(1032) to S(1117) (bytes 2,076 to 2,247), the Q parity S(1118) to S(1169)
//   (bytes 2,248 to 2,351). The most and the least significant bytes of the words (the bytes
//   at even and odd offsets from byte 12) make separate codewords.
//   P: 43 columns of each half, Np = 0..42: S(43 Mp + Np), Mp = 0..25 (24 bytes, then its two
//      parity bytes): 86 codewords of 26 bytes.
//   Q: 26 diagonals of each half, Nq = 0..25: S((44 Mq + 43 Nq) mod 1118), Mq = 0..42, then
//      S(1118 + Nq) and S(1144 + Nq): 52 codewords of 45 bytes, over the P parity too.
//   In Mode 2 the four address and mode bytes count as zero in both.
#pragma once

#include <cstddef>
#include <cstdint>

#include "disc/sector_format.hpp"

inline constexpr std::size_t p_columns = 43;
inline constexpr std::size_t p_length = 26;
inline constexpr std::size_t q_diagonals = 26;
inline constexpr std::size_t q_length = 45;
inline constexpr std::size_t ecc_words_at = 12;
inline constexpr std::size_t q_covered_words = 1118; // the words a Q diagonal wraps around

// The EDC of `size` bytes.
std::uint32_t edc_of(const std::uint8_t* bytes, std::size_t size);

// Whether the stored EDC of a raw sector of the format matches its bytes.
bool edc_matches(const std::uint8_t* stored, sector_format format);

// Computes the EDC and both ECC of a raw sector of the format anew, in place, keeping its
// sync, header, subheader and user data (Mode 1's eight zero bytes are set to zero).
void recompute_error_codes(std::uint8_t* stored, sector_format format);
