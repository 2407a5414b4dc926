#include <cstdint>

#include "bitmap/bitmap_file.hpp"
#include "bitmap/bitmap_writers.hpp"
#include "common/colour.hpp"

void expand_colour_words(std::uint8_t* pixels, std::size_t pixel_count) {
  for (std::size_t i = pixel_count; i-- > 0;) {
    const std::uint32_t word = static_cast<std::uint32_t>(pixels[2 * i]) << 8 | pixels[2 * i + 1];
    std::uint8_t* target = pixels + 3 * i;
    target[0] = colour_blue(word);
    target[1] = colour_green(word);
    target[2] = colour_red(word);
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
