#include <cstdint>

#include "common/colour.hpp"
#include "pictures/bitmap_writers.hpp"
#include "pictures/bmp_layout.hpp"
#include "pictures/output_file.hpp"
#include "pictures/picture_names.hpp"

namespace {

constexpr std::size_t colour_table_size = 256 * 4;

void put_colour_table(std::uint8_t* at, const std::uint8_t* palette) {
  for (std::size_t i = 0; i < 256; ++i) {
    const std::uint32_t word = static_cast<std::uint32_t>(palette[2 * i]) << 8 | palette[2 * i + 1];
    at[4 * i] = colour_blue(word);
    at[4 * i + 1] = colour_green(word);
    at[4 * i + 2] = colour_red(word);
    at[4 * i + 3] = 0;
  }
}

} // namespace

void write_indexed_bitmap(const output_options& files, picture_output& output,
                          const std::string& base_name, const picture& shown,
                          bool rows_as_in_file) {
  const std::string path =
      output_path(files, base_name, indexed_suffix(shown.place.counter), ".BMP");
  const auto row_bytes = static_cast<std::size_t>(shown.width);
  const auto height = static_cast<std::size_t>(shown.height);

  std::uint8_t head[bitmap_header_size + colour_table_size];
  put_bitmap_header(
      head,
      {static_cast<std::uint32_t>(
           colour_table_size + (row_bytes + row_padding(row_bytes)) * height + bitmap_header_size),
       colour_table_size + bitmap_header_size, shown.width, shown.height, 8, 256});
  put_colour_table(head + bitmap_header_size, shown.palette.bytes);

  if (!open_output(output, path, text::file_create_errror, files.keep_existing)) {
    return;
  }
  if (rows_as_in_file) {
    const byte_piece pieces[] = {
        {head, sizeof head}, {shown.pixels.bytes, (row_bytes + row_padding(row_bytes)) * height}};
    write_output(output, path, pieces, 2);
  } else {
    write_rows_bottom_up(output, path, {head, sizeof head}, shown.pixels.bytes, row_bytes,
                         shown.height);
  }
  close_output(output, path);
}
