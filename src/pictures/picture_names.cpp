#include "pictures/picture_names.hpp"

char counter_digit(std::uint32_t value) {
  char digit = static_cast<char>('0' + value);
  if (digit > '9') {
    digit = static_cast<char>(digit + 7);
  }
  return digit;
}

std::string base36_text(std::uint32_t value) {
  std::string text;
  do {
    text.insert(text.begin(), counter_digit(value % 36));
    value /= 36;
  } while (value != 0);
  return text;
}

std::string direct_suffix(std::int32_t frame_counter) {
  const auto counter = static_cast<std::uint32_t>(frame_counter);
  return base36_text(counter / 16) + counter_digit(counter % 16);
}

std::string indexed_suffix(std::int32_t frame_counter) {
  const auto counter = static_cast<std::uint32_t>(frame_counter);
  return base36_text(counter >> 8) + counter_digit((counter >> 4) & 15) +
         counter_digit(counter & 15);
}

std::string output_path(const output_options& files, const std::string& base_name,
                        const std::string& suffix, const char* extension) {
  return files.folder + base_name + suffix + extension;
}

std::string picture_name(const output_options& files, const std::string& base_name,
                         const picture_place& place) {
  return base_name +
         (place.kind == picture_kind::direct ? direct_suffix(place.counter)
                                             : indexed_suffix(place.counter)) +
         (files.format == output_format::png ? ".PNG" : ".BMP");
}
