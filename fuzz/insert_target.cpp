// Insertion on arbitrary pairs: extracted, perhaps with one picture edited, and put back.
#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

#include "archive/archive.hpp"
#include "driver/driver.hpp"
#include "fuzz_support.hpp"
#include "pictures/picture_reader.hpp"
#include "sample_writer.hpp"
#include "targets.hpp"
#include "test_support.hpp"

namespace {

// Every picture in the folder, decoded, by name without its extension.
std::map<std::string, picture_pixels> pictures_in(const fs::path& folder) {
  std::map<std::string, picture_pixels> found;
  for (const auto& entry : fs::directory_iterator(folder)) {
    std::string why;
    picture_pixels& picture = found[entry.path().stem().string()];
    require(read_picture_file(entry.path().string(), pixel_buffer_size, picture, why),
            "a picture the tool wrote does not read back: " + why);
  }
  return found;
}

// Changes one picture as `how` and `value` say: one pixel, its size, or one palette colour.
void edit(picture_pixels& picture, std::uint8_t how, std::uint8_t value) {
  const std::size_t channels = picture.indexed ? 1 : 3;
  if (how % 3 == 1 || picture.pixels.empty()) {
    picture.width = 1 + (picture.width + value % 7) % 400;
    picture.height = 1 + (picture.height + value / 7) % 300;
    picture.pixels.resize(std::size_t(picture.width) * std::size_t(picture.height) * channels,
                          value);
  } else if (how % 3 == 2 && picture.indexed) {
    picture.palette.resize(3 * 256, 0);
    picture.palette[3 * value] ^= 0x40;
  } else {
    picture.pixels[value * 97u % picture.pixels.size()] ^= value | 1;
  }
}

// What a picture shows once its channels keep their top five bits, as the new pair shows it:
// its size, then red, green and blue of each pixel. Colours decide, not palette indices.
std::vector<std::uint32_t> shown_colours(const picture_pixels& picture) {
  std::vector<std::uint32_t> shown = {std::uint32_t(picture.width), std::uint32_t(picture.height)};
  const std::size_t count = picture.pixels.size() / (picture.indexed ? 1 : 3);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* colour =
        picture.indexed ? &picture.palette.at(3 * picture.pixels[i]) : &picture.pixels[3 * i];
    shown.push_back(std::uint32_t(colour[0] & 0xF8) << 16 | (colour[1] & 0xF8) << 8 |
                    (colour[2] & 0xF8));
  }
  return shown;
}

// At most how many pictures the pair gives: each record's count, bounded by the offset-table
// entries its bytes can hold. Each is extracted, decoded, put back and extracted again, so a
// pair of thousands of screens takes longer than a unit may.
std::int64_t most_pictures(const byte_vector& index, const byte_view& archive) {
  const auto index_size = std::int64_t(index.size());
  std::int64_t count = 0;
  for (std::int32_t entry = 0; entry < std::int32_t(index.size() / index_entry_size); ++entry) {
    std::uint32_t sector = 0;
    std::uint32_t length = 0;
    read_index_entry({index.data(), index.size()}, entry, sector, length);
    byte_view record =
        rest_from(archive, std::min<std::uint64_t>(sector * sector_size, archive.size));
    record.size = std::min<std::size_t>(record.size, length);
    const std::int64_t counters = record_counters(index_size, record, length);
    const std::size_t table = record.size > palette_head_size ? record.size - palette_head_size : 0;
    count += index_size == direct_index_size
                 ? counters
                 : std::min<std::int64_t>(counters, table / table_entry_size);
  }
  return count;
}

} // namespace

// The first byte picks the index size and the pictures' format; the second which picture to
// edit (0 for none), the next two how; then index and archive as for extract_pair, of at most
// 512 pictures. Unedited, the new pair is the input pair byte for byte. Edited, insertion either
// names what it cannot put back and leaves no pair, or writes a pair that extracts to every
// picture as given.
int fuzz_insert_pair(const std::uint8_t* data, std::size_t size) {
  static const std::int64_t index_sizes[] = {frame_bank_index_size, screen_bank_index_size,
                                             direct_index_size, index_entry_size};
  if (size < 4) {
    return -1;
  }
  const std::int64_t index_size = index_sizes[data[0] % 4];
  const output_format format = data[0] / 4 % 2 != 0 ? output_format::png : output_format::bmp;
  const std::size_t index_bytes = std::min<std::size_t>(size - 4, index_size);
  byte_vector index(data + 4, data + 4 + index_bytes);
  index.resize(static_cast<std::size_t>(index_size), 0);
  if (most_pictures(index, {data + 4 + index_bytes, size - 4 - index_bytes}) > 512) {
    return -1;
  }
  const fs::path root = empty_scratch_folder();
  for (const char* folder : {"data", "pictures", "out", "check"}) {
    fs::create_directories(root / folder);
  }
  write_pair(root / "data", "P", {index, byte_vector(data + 4 + index_bytes, data + size)});
  extract_quietly(root / "data" / "P.OFB", root / "pictures", format);

  std::map<std::string, picture_pixels> given = pictures_in(root / "pictures");
  if (data[1] != 0 && !given.empty()) {
    auto edited = std::next(given.begin(), (data[1] - 1) % given.size());
    edit(edited->second, data[2], data[3]);
    for (const char* extension : {".BMP", ".PNG"}) {
      fs::remove(root / "pictures" / (edited->first + extension));
    }
    const picture_pixels& picture = edited->second;
    write_file(root / "pictures" / (edited->first + ".BMP"),
               bitmap_file(picture.width, picture.height, picture.pixels, picture.palette));
  }
  test_state insertion(root / "out");
  insertion.state.quiet = true;
  // Two threads: the picture read ahead, and the new pair read back while it is written.
  require(insert_pictures_of(insertion.state, (root / "pictures").string(),
                             {(root / "data" / "P.OFB").string()}, false, 2) == 0,
          "the new pair is not the input");
  const std::string console = insertion.console_text();
  if (!known_index_size(index_size)) {
    require(console.empty() && fs::is_empty(root / "out"),
            "an index file of no known size is passed over");
  } else if (data[1] == 0 || given.empty()) {
    require(console.empty() && !insertion.state.incomplete,
            "unchanged pictures refused: " + console);
    require(read_whole_file(root / "out" / "P.OFB") == index &&
                read_whole_file(root / "out" / "P.BIN") ==
                    byte_vector(data + 4 + index_bytes, data + size),
            "unchanged pictures do not give the pair back");
  } else if (insertion.state.incomplete) {
    require(console.rfind("insert error![", 0) == 0 && fs::is_empty(root / "out"),
            "a refusal must name the picture and leave no pair: " + console);
    require(console.find("(a fault of ofb2bmp)") == std::string::npos,
            "the new pair failed its own check: " + console);
  } else {
    extract_quietly(root / "out" / "P.OFB", root / "check", format);
    const std::map<std::string, picture_pixels> extracted = pictures_in(root / "check");
    require(extracted.size() == given.size(), "the new pair gives other pictures");
    for (const auto& [name, picture] : given) {
      require(extracted.count(name) != 0 &&
                  shown_colours(extracted.at(name)) == shown_colours(picture),
              "the new pair does not give " + name + " as given");
    }
  }
  return 0;
}
