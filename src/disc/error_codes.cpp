#include "disc/error_codes.hpp"

#include <array>
#include <cstring>

namespace {

// The EDC polynomial with its bits reversed, for a code computed least significant bit first.
constexpr std::uint32_t edc_polynomial = 0xD8018001;
constexpr unsigned field_polynomial = 0x11D;

struct tables {
  std::array<std::uint32_t, 256> edc{};
  std::array<std::uint8_t, 256> exp{}; // a^i
  std::array<std::uint8_t, 256> log{}; // i for a^i
};

const tables& the_tables() {
  static const tables made = [] {
    tables t;
    for (std::uint32_t byte = 0; byte < 256; ++byte) {
      std::uint32_t code = byte;
      for (int bit = 0; bit < 8; ++bit) {
        code = code & 1 ? code >> 1 ^ edc_polynomial : code >> 1;
      }
      t.edc[byte] = code;
    }
    unsigned power = 1;
    for (unsigned i = 0; i < 255; ++i) {
      t.exp[i] = static_cast<std::uint8_t>(power);
      t.log[power] = static_cast<std::uint8_t>(i);
      power <<= 1;
      if (power & 0x100) {
        power ^= field_polynomial;
      }
    }
    t.exp[255] = t.exp[0];
    return t;
  }();
  return made;
}

// Parity bytes for a codeword whose data bytes sum to `sum` and weigh `weighted` (each data byte
// c[i] times a^(n-1-i)): p0 at a^1 and p1 at a^0 make both syndromes zero, p0 (a + 1) =
// sum + weighted and p1 = sum + p0.
void set_parity(std::uint8_t sum, std::uint8_t weighted, std::uint8_t& p0, std::uint8_t& p1) {
  const tables& t = the_tables();
  const std::uint8_t both = sum ^ weighted;
  // 1 / (a + 1) = a^(255 - log(a + 1))
  p0 = both == 0 ? 0 : t.exp[(t.log[both] + 255 - t.log[3]) % 255];
  p1 = sum ^ p0;
}

std::size_t edc_at(sector_format format) {
  return format == sector_format::raw_mode1 ? mode1_edc_at : mode2_edc_at;
}
std::size_t edc_from(sector_format format) {
  return format == sector_format::raw_mode1 ? 0 : subheader_at;
}

// The P or Q parity of the sector's words (`word` gives the byte offset of word k's half
// `half`, 0 for the most significant byte), written after its data bytes.
template <typename Position>
void encode(std::uint8_t* stored, std::size_t codewords, std::size_t length, Position position) {
  const tables& t = the_tables();
  for (std::size_t c = 0; c < codewords; ++c) {
    std::uint8_t sum = 0;
    std::uint8_t weighted = 0;
    for (std::size_t i = 0; i + 2 < length; ++i) {
      const std::uint8_t byte = stored[position(c, i)];
      sum ^= byte;
      weighted ^= byte == 0 ? 0 : t.exp[(t.log[byte] + length - 1 - i) % 255];
    }
    set_parity(sum, weighted, stored[position(c, length - 2)], stored[position(c, length - 1)]);
  }
}

} // namespace

std::uint32_t edc_of(const std::uint8_t* bytes, std::size_t size) {
  const tables& t = the_tables();
  std::uint32_t code = 0;
  for (std::size_t i = 0; i < size; ++i) {
    code = code >> 8 ^ t.edc[(code ^ bytes[i]) & 0xFF];
  }
  return code;
}

bool edc_matches(const std::uint8_t* stored, sector_format format) {
  const std::size_t at = edc_at(format);
  const std::uint32_t code = edc_of(stored + edc_from(format), at - edc_from(format));
  for (std::size_t i = 0; i < 4; ++i) {
    if (stored[at + i] != static_cast<std::uint8_t>(code >> 8 * i)) {
      return false;
    }
  }
  return true;
}

void recompute_error_codes(std::uint8_t* stored, sector_format format) {
  const std::size_t at = edc_at(format);
  const std::uint32_t code = edc_of(stored + edc_from(format), at - edc_from(format));
  for (std::size_t i = 0; i < 4; ++i) {
    stored[at + i] = static_cast<std::uint8_t>(code >> 8 * i);
  }
  if (format == sector_format::raw_mode1) {
    std::memset(stored + mode1_edc_at + 4, 0, ecc_p_at - mode1_edc_at - 4);
  }
  std::uint8_t header[header_size];
  std::memcpy(header, stored + address_at, header_size);
  if (format == sector_format::raw_mode2_form1) {
    std::memset(stored + address_at, 0, header_size);
  }
  // Byte offset of half h (0: most significant) of word k.
  const auto byte_of = [](std::size_t word, std::size_t half) {
    return ecc_words_at + 2 * word + half;
  };
  encode(stored, 2 * p_columns, p_length,
         [&](std::size_t c, std::size_t i) { return byte_of(p_columns * i + c / 2, c % 2); });
  encode(stored, 2 * q_diagonals, q_length, [&](std::size_t c, std::size_t i) {
    const std::size_t n = c / 2;
    const std::size_t word = i < q_length - 2
                                 ? ((p_columns + 1) * i + p_columns * n) % q_covered_words
                                 : q_covered_words + (i - (q_length - 2)) * q_diagonals + n;
    return byte_of(word, c % 2);
  });
  std::memcpy(stored + address_at, header, header_size);
}
