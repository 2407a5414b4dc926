#include "targets.hpp"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string_view>
#include <vector>

#include "archive/archive.hpp"
#include "archive/record_writing.hpp"
#include "damage_oracle.hpp"
#include "driver/driver.hpp"
#include "driver/paths.hpp"
#include "fuzz_support.hpp"
#include "pictures/picture_names.hpp"
#include "pictures/picture_reader.hpp"
#include "pictures/sinks.hpp"
#include "test_support.hpp"

namespace {

// Run-length expansion a packet at a time, byte by byte, into `out` from its start, clipped at
// its end: false when the stream ends where more is needed.
bool expand_reference(const std::uint8_t* at, std::size_t size, byte_vector& out,
                      std::size_t& produced) {
  produced = 0;
  std::size_t read = 8;
  if (size < read) {
    return false;
  }
  const std::size_t wanted = u24be(at + 5);
  while (produced < wanted && produced < out.size()) {
    const bool literal = read < size && at[read] >= 0x80;
    const std::size_t count = read >= size ? 0 : literal ? 256 - at[read] : at[read] + 2u;
    if (read >= size || size - read - 1 < (literal ? count : 1)) {
      return false;
    }
    for (std::size_t i = 0; i < count && produced < out.size(); ++i) {
      out[produced++] = at[read + 1 + (literal ? i : 0)];
    }
    read += 1 + (literal ? count : 1);
  }
  return true;
}

// A picture as a small reference decoder reads the archive, apart from the tool's decoders:
// its name, whether it is broken, and the red, green and blue of its pixels, top row first.
struct expected_picture {
  std::string name;
  bool broken = false;
  std::int32_t width = 0, height = 0;
  byte_vector rgb = {};
};

// The frames of one record (`readable` false when its head or tables cannot be read), each
// numbered on from `counter`; screens expand into `screen`, which carries over between records.
std::vector<expected_picture> decode_reference(std::int64_t index_size, const byte_vector& record,
                                               std::uint32_t length, std::int32_t& counter,
                                               byte_vector& screen, bool& readable) {
  const bool direct = index_size == direct_index_size;
  const bool screens = index_size == screen_bank_index_size;
  std::vector<expected_picture> frames;
  const auto add = [&](std::uint32_t width, std::uint32_t height, bool fits) {
    frames.push_back({"P" + (direct ? direct_suffix(counter) : indexed_suffix(counter)), !fits,
                      std::int32_t(width), std::int32_t(height)});
    ++counter;
    return !fits;
  };
  readable = !screens || length <= longest_skipped_screen_bank || length <= INT32_MAX;
  if (direct) {
    readable = record.size() >= direct_pixels_at;
    counter += readable ? 0 : 1; // a direct frame takes its entry's number whatever is broken
    const std::uint32_t width = readable ? u16be(&record[2]) : 0;
    const std::uint32_t height = readable ? u16be(&record[4]) : 0;
    const std::uint64_t pixels = std::uint64_t{width} * height;
    if (readable &&
        !add(width, height, 6 + 2 * pixels <= record.size() && 3 * pixels <= pixel_buffer_size)) {
      frames.back().rgb = rgb_of(words_of(record.data() + 6, pixels));
    }
    return frames;
  }
  if ((screens && length <= longest_skipped_screen_bank) || !readable) {
    return frames;
  }
  readable = record.size() >= palette_head_size;
  const std::uint32_t count = readable ? u16be(&record[palette_head_size - 2]) : 0;
  const std::size_t area = palette_head_size + (screens ? 4 : 8) * std::size_t{count};
  if (!readable || area > record.size()) {
    readable = false;
    counter += static_cast<std::int32_t>(count);
    return frames;
  }
  const colour_words palette = words_of(record.data(), 256);
  const auto shown = [&](const std::uint8_t* indices, std::size_t size) {
    colour_words words(size);
    for (std::size_t i = 0; i < size; ++i) {
      words[i] = palette[indices[i]];
    }
    return rgb_of(words);
  };
  for (std::uint32_t k = 0; k < count; ++k) {
    const std::size_t offset = area + u24be(&record[palette_head_size + 4 * k + 1]);
    if (screens) {
      std::size_t produced = 0;
      const bool whole =
          offset < record.size() &&
          expand_reference(&record[offset], record.size() - offset, screen, produced);
      if (!add(screen_width, screen_height, whole)) {
        frames.back().rgb = shown(screen.data(), screen_bytes);
      }
      continue;
    }
    const std::uint32_t width = u16be(&record[palette_head_size + 4 * (count + k)]);
    const std::uint32_t height = u16be(&record[palette_head_size + 4 * (count + k) + 2]);
    const std::uint64_t pixels = std::uint64_t{width} * height;
    if (!add(width, height, offset + pixels <= record.size() && pixels <= pixel_buffer_size)) {
      frames.back().rgb = shown(record.data() + offset, pixels);
    }
  }
  return frames;
}

// Every entry's record read as the walk reads it (from its sector, at most record_buffer) and
// decoded by the reference: what is broken is named once; every other frame is written as the
// reference shows it (but for a PNG without pixels); the run is incomplete when anything broke.
void require_every_frame(const extraction_state& state, std::int64_t index_size,
                         const byte_view& index, const byte_view& archive,
                         const damage_report& damage,
                         const std::map<std::string, picture_pixels>& written) {
  const bool png = state.files.format == output_format::png;
  const std::string extension = png ? ".PNG" : ".BMP";
  std::size_t due = 0;    // pictures to be written
  std::size_t broken = 0; // messages to be given
  std::int32_t counter = 0;
  byte_vector screen(pixel_buffer_size, 0);
  for (std::int32_t entry = 0; entry < index_size / 8; ++entry) {
    std::uint32_t sector = 0, length = 0;
    read_index_entry(index, entry, sector, length);
    const std::uint64_t start = std::min<std::uint64_t>(sector * sector_size, archive.size);
    const std::size_t size =
        std::min<std::uint64_t>({archive.size - start, length, record_buffer_size});
    const byte_vector record(archive.bytes + start, archive.bytes + start + size);
    bool readable = false;
    const std::vector<expected_picture> frames =
        decode_reference(index_size, record, length, counter, screen, readable);
    require(damage.broken_records.count(entry) == (readable ? 0u : 1u),
            "a record is named broken exactly when its head or tables cannot be read");
    broken += readable ? 0 : 1;
    for (const expected_picture& frame : frames) {
      const std::string name = frame.name + extension;
      require(damage.broken_frames.count(name) == (frame.broken ? 1u : 0u),
              name + " is named broken exactly when the reference cannot decode it");
      broken += frame.broken ? 1 : 0;
      const auto file = written.find(name);
      const bool given = !frame.broken && (!png || !frame.rgb.empty());
      require((file != written.end()) == given, name + (given ? " not written" : " written"));
      due += given ? 1 : 0;
      if (!given) {
        continue;
      }
      picture_pixels shown = file->second;
      if (shown.indexed) {
        byte_vector rgb;
        for (const std::uint8_t i : shown.pixels) {
          rgb.insert(rgb.end(), &shown.palette.at(3 * i), &shown.palette.at(3 * i) + 3);
        }
        shown.pixels = rgb;
      }
      require(shown.width == frame.width && shown.height == frame.height &&
                  shown.pixels == frame.rgb,
              name + " does not show what the reference decodes");
    }
  }
  require(written.size() == due, "a picture written that the reference does not give");
  require(damage.messages == broken && damage.other_lines == 0,
          "a message about nothing broken, or repeated");
  require(state.incomplete == (broken != 0), "incomplete otherwise than something is broken");
}

} // namespace

// A whole index walk. The first byte picks the index size (frame, screen or direct colour, or
// unknown) and the format; then the index (zero where the input ends early) and the archive.
int fuzz_extract_pair(const std::uint8_t* data, std::size_t size) {
  static const std::int64_t index_sizes[] = {frame_bank_index_size, screen_bank_index_size,
                                             direct_index_size, index_entry_size};
  if (size < 1) {
    return -1;
  }
  const std::int64_t index_size = index_sizes[data[0] % 4];
  const std::size_t index_bytes = std::min<std::size_t>(size - 1, index_size);
  test_state run(empty_scratch_folder());
  extraction_state& state = run.state;
  state.files.format = data[0] / 4 % 2 != 0 ? output_format::png : output_format::bmp;
  std::memset(state.index_buffer.get(), 0, index_size);
  std::memcpy(state.index_buffer.get(), data + 1, index_bytes);
  const byte_view archive{data + 1 + index_bytes, size - 1 - index_bytes};
  state.archive.size = static_cast<std::int64_t>(archive.size);
  state.archive.read_at = [archive](std::uint64_t offset, std::uint8_t* into, std::size_t count) {
    const std::size_t from = std::min<std::uint64_t>(offset, archive.size);
    const std::size_t got = std::min(count, archive.size - from);
    std::memcpy(into, archive.bytes + from, got);
    return got;
  };
  extract_pair(state, {"P", "", "A.BIN"}, index_size); // a fatal error throws: a finding
  const std::string console = run.console_text();
  const std::map<std::string, picture_pixels> written = take_pictures(state.files.folder);
  const damage_report damage = read_damage(console, state.files.folder, "A.BIN");
  if (index_size == index_entry_size) {
    require(console.empty(), "an index of unknown size yields nothing");
    return 0;
  }
  require(console.ends_with("\ncompleted.\n"), "the walk ends with its completion line");
  require(std::count(console.begin(), console.end(), '\r') == index_size / 8,
          "one countdown step per entry");
  const byte_view index{state.index_buffer.get(), std::size_t(index_size)};
  require_every_frame(state, index_size, index, archive, damage, written);
  // A record --only passes over is counted from its head alone, as decoding it counts.
  byte_vector scratch(pixel_buffer_size);
  walk_pair_in(
      state, index_size, false, [](const picture&) {},
      [&](const walked_entry& walked) {
        std::uint32_t sector = 0, length = 0;
        read_index_entry(index, walked.entry, sector, length);
        const byte_view head{walked.record.bytes, std::min(walked.record.size, palette_head_size)};
        require(record_counters(index_size, head, length) ==
                    walked.next_counter - walked.first_counter,
                "a record's head gives the number of frames its decoder counts");
        if (index_size != screen_bank_index_size) {
          return;
        }
        const byte_vector record(walked.record.bytes, walked.record.bytes + walked.record.size);
        const std::uint32_t count = record.size() >= palette_head_size ? u16be(&record[514]) : 0;
        const bool tables = count != 0 && palette_head_size + 4 * count <= record.size();
        const std::size_t at = palette_head_size + 4 * count + (tables ? u24be(&record[517]) : 0);
        std::fill(scratch.begin(), scratch.end(), 0);
        std::size_t produced = 0;
        const bool covers = tables && !screens_never_decoded(length) && at < record.size() &&
                            (expand_reference(&record[at], record.size() - at, scratch, produced),
                             produced >= screen_bytes);
        require(first_screen_covers_all(walked.record, length, scratch.data()) == covers,
                "the first screen covers the screen otherwise than the reference says");
      });
  return 0;
}

// expand_runs alone: the first 3 bytes choose the destination size (up to pixel_buffer's), the
// rest is the stream. Both are allocations of exactly their sizes, for AddressSanitizer; the
// destination past what was produced is left as it was.
int fuzz_expand_runs(const std::uint8_t* data, std::size_t size) {
  constexpr std::uint8_t untouched = 0xA5;
  if (size < 3) {
    return -1;
  }
  const std::size_t destination_size = u24be(data) % (pixel_buffer_size + 1);
  const std::vector<std::uint8_t> source(data + 3, data + size);
  std::vector<std::uint8_t> destination(destination_size, untouched);
  const run_expansion result =
      expand_runs({source.data(), source.size()}, destination.data(), destination.size());
  byte_vector expected(destination_size, untouched);
  std::size_t produced = 0;
  const bool complete = expand_reference(source.data(), source.size(), expected, produced);
  require(result.produced == produced && result.complete == complete,
          "produced or completed otherwise than the reference");
  require(destination == expected, "bytes written otherwise than the reference writes them");
  return 0;
}

namespace {

// True when the last byte of `text` starts a double-byte character, whose second byte would
// then be the next byte appended: such an input is cut in the middle of a character.
bool ends_in_lead_byte(std::string_view text, const path_syntax& syntax) {
  bool lead = false;
  for (const char c : text) {
    lead = !lead && syntax.is_lead_byte != nullptr &&
           syntax.is_lead_byte(static_cast<unsigned char>(c));
  }
  return lead;
}

void check_path_rules(std::string_view input, const path_syntax& syntax) {
  const path_marks marks = scan_path(input, syntax);
  require(marks.name_start == 0 ||
              std::strchr(syntax.separators, input.at(marks.name_start - 1)) != nullptr,
          "name start not after a separator");
  require(marks.last_dot == std::string_view::npos ||
              (marks.last_dot >= marks.name_start && input.at(marks.last_dot) == '.'),
          "last dot not a dot of the last component");
  const std::string prefix = folder_prefix(input, syntax);
  require(prefix == input.substr(0, marks.name_start), "folder prefix is not the input's start");
  const std::string pattern = search_pattern(input, syntax);
  require(pattern.starts_with(prefix) && pattern.ends_with(".OFB") &&
              input.starts_with(std::string_view(pattern).substr(0, pattern.size() - 4)),
          "search pattern is not the input's start and .OFB");
  const std::string base = base_name(input, syntax);
  require(input.starts_with(base) && base.size() >= prefix.size(),
          "base name is not the input's start");
  const std::string archive = archive_name(input, syntax);
  require(archive.ends_with("BIN"), "archive name without BIN");
  if (ends_in_lead_byte(input, syntax)) {
    return; // appending ".OFB" would complete the cut character; nothing more holds
  }
  // What the driver relies on: the files found by the pattern are in the input's folder, the
  // archive beside its index and under the same name, and the pattern finds itself again.
  require(folder_prefix(pattern, syntax) == prefix, "pattern and input in different folders");
  require(folder_prefix(archive, syntax) == prefix, "archive and index in different folders");
  require(base_name(archive, syntax) == base, "archive and index under different names");
  require(search_pattern(pattern, syntax) == pattern, "search pattern is not stable");
  require(search_pattern(archive, syntax) == pattern, "the archive name leads to another index");
}

} // namespace

// The path rules on arbitrary bytes, with both path syntaxes: every result is made of the
// input's own bytes, and the rules agree with each other the way the driver relies on.
int fuzz_paths(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  check_path_rules(input, posix_path_syntax);
  check_path_rules(input, shift_jis_path_syntax);
  return 0;
}

namespace {

// A PNG of `input`: IHDR of its first 13 bytes, a chunk of `type` (PLTE or tRNS) of the next
// `length` bytes unless `length` is 0, the rest deflated as one IDAT, and IEND.
byte_vector framed_png(const byte_vector& input, const char* type, std::size_t length) {
  const auto head = input.begin() + std::min<std::ptrdiff_t>(std::ssize(input), 13);
  const auto plte = head + std::min<std::ptrdiff_t>(input.end() - head, std::ptrdiff_t(length));
  std::vector<png_chunk> chunks = {{"IHDR", {input.begin(), head}}};
  if (length != 0) {
    chunks.push_back({type, {head, plte}});
  }
  chunks.push_back(deflated({plte, input.end()}));
  chunks.push_back({"IEND", {}});
  return png_of(chunks);
}

} // namespace

// Decodes the input after its first byte as a picture file: as it is for a first byte of 0,
// else framed as a PNG with a PLTE of (first byte - 1) colours, or from 129 on a tRNS of (first
// byte - 129) bytes. A decoded picture is as large as it says and within the limit; a refusal
// says why.
int fuzz_picture_reader(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  const byte_vector input(data + 1, data + size);
  const byte_vector prepared = data[0] == 0     ? input
                               : data[0] <= 128 ? framed_png(input, "PLTE", 3 * (data[0] - 1u))
                                                : framed_png(input, "tRNS", data[0] - 129u);
  const byte_vector file(prepared.begin(), prepared.end()); // an allocation of exactly its size
  picture_pixels picture;
  std::string why;
  if (!decode_picture({file.data(), file.size()}, pixel_buffer_size, picture, why)) {
    require(!why.empty(), "a refusal without a reason");
    return 0;
  }
  const auto pixels = static_cast<std::uint64_t>(picture.width) * picture.height;
  require(picture.width >= 0 && picture.height >= 0, "a negative size");
  require(pixels <= pixel_buffer_size, "more pixels than allowed");
  require(picture.pixels.size() == pixels * (picture.indexed ? 1 : 3), "pixels of another size");
  require(picture.palette.size() % 3 == 0 && picture.palette.size() <= 768, "a bad palette");
  require(picture.indexed || picture.palette.empty(), "a palette for direct colour");
  return 0;
}
