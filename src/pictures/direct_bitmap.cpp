#include <cstring>

#include "common/colour.hpp"
#include "pictures/bitmap_writers.hpp"
#include "pictures/bmp_layout.hpp"
#include "pictures/colour_expansion.hpp"
#include "pictures/output_file.hpp"
#include "pictures/picture_names.hpp"

// The colour words are expanded straight into output_buffer, bottom row first, and go to the
// file from there: each pixel is moved once.
void write_direct_bitmap(const output_options& files, picture_output& output,
                         const std::string& base_name, const picture& shown) {
  const std::string path =
      output_path(files, base_name, direct_suffix(shown.place.counter), ".BMP");
  const auto width = static_cast<std::size_t>(shown.width);
  const auto height = static_cast<std::size_t>(shown.height);
  const std::uint8_t* colour_words = shown.pixels.bytes;
  const std::size_t row_bytes = 3 * width;
  const std::size_t padding = row_padding(row_bytes);

  if (!open_output(output, path, text::file_create_error, files.keep_existing)) {
    return;
  }
  std::uint8_t* buffer = output.buffer.get();
  put_bitmap_header(
      buffer, {static_cast<std::uint32_t>(bitmap_header_size + (row_bytes + padding) * height),
               bitmap_header_size, shown.width, shown.height, 24, 0});
  std::size_t used = bitmap_header_size;
  for (std::size_t row = height; row-- > 0;) {
    if (used + row_bytes + padding > output_buffer_size) {
      const byte_piece full{buffer, used};
      write_output(output, path, &full, 1);
      used = 0;
    }
    expand_colour_words(colour_words + row * width * colour_word_size, width, buffer + used,
                        channel_order::blue_green_red);
    std::memset(buffer + used + row_bytes, 0, padding);
    used += row_bytes + padding;
  }
  const byte_piece rest{buffer, used};
  write_output(output, path, &rest, 1);
  close_output(output, path);
}
