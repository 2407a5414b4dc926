// The disc room: error codes against a decoder written apart, sector formats, cue sheets, and
// images made by genisoimage read, damaged and patched, checked by iso-read and bchunk.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <tuple>
#include <utility>

#include "disc/cue_sheet.hpp"
#include "disc/disc_reader.hpp"
#include "disc/error_codes.hpp"
#include "disc/patched_copy.hpp"
#include "driver/driver.hpp"
#include "sample_writer.hpp"
#include "test_support.hpp"
#include "tool_runs.hpp"

namespace {

// The oracle: the EDC bit by bit, with the product (x^16 + x^15 + x^2 + 1)(x^16 + x^2 + x + 1)
// as its polynomial, reflected; the check value of "123456789" pins it.
std::uint32_t edc_bitwise(const std::uint8_t* bytes, std::size_t size) {
  std::uint32_t code = 0;
  for (std::size_t i = 0; i < size; ++i) {
    for (int bit = 0; bit < 8; ++bit) {
      const bool low = ((code ^ bytes[i] >> bit) & 1) != 0;
      code = low ? code >> 1 ^ 0xD8018001u : code >> 1;
    }
  }
  return code;
}

// Empty when the raw sector's EDC is the bitwise one and both syndromes of every P and Q
// codeword are zero; else what fails.
std::string code_fault(const std::uint8_t* stored, sector_format format) {
  const bool mode1 = format == sector_format::raw_mode1;
  const std::size_t from = mode1 ? 0 : 16;
  const std::size_t at = mode1 ? 2064 : 2072;
  byte_vector sector(stored, stored + raw_sector_size);
  if (le32(sector, at) != edc_bitwise(stored + from, at - from)) {
    return "EDC";
  }
  if (!mode1) {
    std::fill_n(sector.begin() + 12, 4, 0);
  }
  const auto word_byte = [&](std::size_t word, int half) { return sector[12 + 2 * word + half]; };
  const auto syndromes_zero = [&](std::size_t length, auto word_of) {
    for (int half = 0; half < 2; ++half) {
      std::uint8_t s0 = 0;
      std::uint8_t s1 = 0;
      for (std::size_t i = 0; i < length; ++i) { // Horner's rule: s1 = sum c[i] a^(n-1-i),
        const std::uint8_t c = word_byte(word_of(i), half); // a = x mod x^8+x^4+x^3+x^2+1
        s0 ^= c;
        s1 = static_cast<std::uint8_t>(s1 << 1 ^ (s1 & 0x80 ? 0x1D : 0) ^ c);
      }
      if (s0 != 0 || s1 != 0) {
        return false;
      }
    }
    return true;
  };
  for (std::size_t n = 0; n < 43; ++n) {
    if (!syndromes_zero(26, [n](std::size_t m) { return 43 * m + n; })) {
      return "P column " + std::to_string(n);
    }
  }
  for (std::size_t n = 0; n < 26; ++n) {
    if (!syndromes_zero(45, [n](std::size_t m) {
          return m < 43 ? (44 * m + 43 * n) % 1118 : 1118 + 26 * (m - 43) + n;
        })) {
      return "Q diagonal " + std::to_string(n);
    }
  }
  return {};
}

byte_vector random_bytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  byte_vector bytes(size);
  std::ranges::generate(bytes, [&random] { return static_cast<std::uint8_t>(random()); });
  return bytes;
}

} // namespace

// The EDC has its check value and is the bitwise one. Every written sector decodes, and the
// oracle catches one flipped byte anywhere; its address, mode and subheader are as laid out.
TEST(DiscSectors, WrittenSectorsDecodeAndFormatsAreToldByTheirMarks) {
  const std::string check = "123456789";
  EXPECT_EQ(edc_of(reinterpret_cast<const std::uint8_t*>(check.data()), check.size()), 0x6EC2EDC4u);
  const byte_vector bytes = random_bytes(2071, 1);
  EXPECT_EQ(edc_of(bytes.data(), bytes.size()), edc_bitwise(bytes.data(), bytes.size()));
  for (const sector_format format : {sector_format::raw_mode1, sector_format::raw_mode2_form1}) {
    for (const auto& [sector, msf] :
         std::map<std::uint64_t, std::string>{{0, "000200"}, {16, "000216"}, {269850, "600000"}}) {
      SCOPED_TRACE(format_name(format) + " sector " + std::to_string(sector));
      const byte_vector data = random_bytes(user_data_size, static_cast<unsigned>(sector));
      byte_vector stored(raw_sector_size);
      make_raw_sector(format, sector, data.data(), stored.data());
      ASSERT_EQ(code_fault(stored.data(), format), "");
      const bool mode1 = format == sector_format::raw_mode1;
      char header[9]; // the address and the mode
      std::snprintf(header, sizeof header, "%02x%02x%02x%02x", stored[12], stored[13], stored[14],
                    stored[15]);
      EXPECT_EQ(header, msf + (mode1 ? "01" : "02"));
      EXPECT_EQ(check_raw_sector(stored.data(), format, sector), "");
      EXPECT_EQ(std::memcmp(&stored[user_data_at(format)], data.data(), user_data_size), 0);
      const byte_vector after_header =
          mode1 ? byte_vector(8, 0) : byte_vector{0, 0, 8, 0, 0, 0, 8, 0};
      EXPECT_EQ(byte_vector(&stored[mode1 ? 2068 : 16], &stored[mode1 ? 2076 : 24]), after_header);
      for (const std::size_t flipped : {std::size_t{20}, std::size_t{2070}, std::size_t{2351}}) {
        byte_vector broken = stored;
        broken[flipped] ^= 0x40;
        EXPECT_NE(code_fault(broken.data(), format), "") << flipped;
        EXPECT_EQ(edc_matches(broken.data(), format), flipped >= (mode1 ? 2064u : 2072u));
      }
    }
  }
  // Formats told by their marks, and sectors of the wrong mode or form named.
  byte_vector iso(detection_size);
  std::memcpy(&iso[32769], "CD001", 5);
  byte_vector mode1(raw_sector_size), mode2(raw_sector_size);
  make_raw_sector(sector_format::raw_mode1, 0, iso.data(), mode1.data());
  make_raw_sector(sector_format::raw_mode2_form1, 0, iso.data(), mode2.data());
  byte_vector mode0 = mode1;
  mode0[15] = 0;
  for (const auto& [bytes, format] : std::vector<std::pair<byte_vector, std::string>>{
           {iso, "2,048-byte sectors"},
           {byte_vector(iso.begin(), iso.end() - 1), "none"},
           {mode1, "raw Mode 1 sectors"},
           {mode2, "raw Mode 2 Form 1 sectors"},
           {mode0, "none"},
           {byte_vector(mode1.begin(), mode1.end() - 1), "none"}}) {
    const auto found = detect_format({bytes.data(), bytes.size()});
    EXPECT_EQ(found ? format_name(*found) : "none", format);
  }
  EXPECT_EQ(check_raw_sector(mode1.data(), sector_format::raw_mode2_form1, 7),
            "sector 7 is Mode 1, not Mode 2");
  mode2[18] |= 0x20;
  EXPECT_EQ(check_raw_sector(mode2.data(), sector_format::raw_mode2_form1, 7),
            "sector 7 is Mode 2 Form 2, not Form 1");
}

// Each sheet gives its data track (file, start byte, format) and its files, or the reason.
TEST(CueSheet, DataTracksAndFilesOrTheReason) {
  const std::string track = "FILE a.bin BINARY\nTRACK 01 MODE1/2352\n",
                    index = "INDEX 01 00:00:00\n";
  const std::string bad_time = "line 3: an INDEX without a number and a time mm:ss:ff";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"file my game.bin binary\r\n track 1 mode2/2352\r\n index 00 00:00:00\r\n"
       " Index 01 00:02:00\r\n",
       "my game.bin at 352800, raw Mode 2 Form 1 sectors; my game.bin"},
      {"REM GENRE Game\nCATALOG 0000000000000\nFILE \"g.bin\" BINARY\nTRACK 01 AUDIO\n"
       "INDEX 01 00:00:00\nTRACK 02 MODE1/2048\nFLAGS DCP\nPREGAP 00:02:00\nINDEX 01 01:02:74\n"
       "FILE a.wav WAVE\nTRACK 03 AUDIO\nPOSTGAP 00:02:00\nINDEX 01 00:00:00",
       "g.bin at 9674752, 2,048-byte sectors; g.bin a.wav"},
      {"FILE a.bin BINARY\nTRACK 01 AUDIO\n" + index, "no data track, only audio"},
      {"FILE a.bin BINARY\nTRACK 01 MODE2/2336\n" + index,
       "track 1 is MODE2/2336, which is not read (only MODE1/2048, MODE1/2352 and MODE2/2352 are)"},
      {"FILE a.wav WAVE\nTRACK 01 MODE1/2352\n" + index,
       "track 1 is in a file of type WAVE, not BINARY"},
      {"\xEF\xBB\xBF"
       "FILE a.bin BINARY\nTRACK 01 MODE1/2048\nINDEX 01 00:00:01\n",
       "a.bin at 2048, 2,048-byte sectors; a.bin"},
      {"TRACK 01 MODE1/2352\n", "line 1: a TRACK before any FILE"},
      {track + "INDEX 01 00:60:00\n", bad_time},
      {track + "INDEX 01 00:00:75\n", bad_time},
      {track + "INDEX 01 00::00\n", bad_time},
      {"FILE \"a.bin BINARY\n", "line 1: a FILE name without its closing quote"},
      {"FILE a.bin\n", "line 1: a FILE without its type"},
      {"REM\n\x01\x02\x03", "line 2: a control character"},
      {index, "line 1: an INDEX outside a TRACK"},
      {track + "TRACK 02 AUDIO\n" + index, "line 3: track 1 without INDEX 01"},
      {track, "track 1 without INDEX 01"},
      {"", "no TRACK"},
  };
  for (const auto& [text, expected] : cases) {
    const cue_sheet sheet = parse_cue_sheet(text);
    const data_track_choice chosen = first_data_track(sheet);
    std::string got = sheet.reason.empty() ? chosen.reason : sheet.reason;
    if (got.empty()) {
      got = chosen.track->file + " at " + std::to_string(chosen.track->start_byte) + ", " +
            format_name(*chosen.track->format) + ";";
      for (const std::string& file : sheet.files) {
        got += " " + file;
      }
    }
    EXPECT_EQ(got, expected) << text;
  }
}

namespace {

// Skips the test when a tool is missing, unless OFB2BMP_REQUIRE_DISC_TOOLS is set.
#define SKIP_WITHOUT_DISC_TOOLS()                                                                  \
  if (shell("for t in genisoimage iso-read bchunk; do command -v $t >/dev/null || "                \
            "exit 1; done") != 0) {                                                                \
    ASSERT_EQ(std::getenv("OFB2BMP_REQUIRE_DISC_TOOLS"), nullptr) << "disc tools needed";          \
    GTEST_SKIP() << "genisoimage, libcdio-utils or bchunk is not installed";                       \
  }

// The files genisoimage puts on the sample disc, by their path on it.
std::map<std::string, byte_vector> sample_files() {
  return {{"/DATA/PICS.BIN", random_bytes(5000, 2)},
          {"/DATA/PICS.OFB", random_bytes(136, 3)},
          {"/A/B/NOEXT", random_bytes(3, 4)},
          {"/BIG.BIN", random_bytes(70001, 5)}};
}

// An image of 2,048-byte sectors of these files, made by genisoimage with these options.
byte_vector made_iso(const fs::path& folder, const std::map<std::string, byte_vector>& files,
                     const std::string& options = "") {
  for (const auto& [path, bytes] : files) {
    fs::create_directories(folder / ("tree" + path.substr(0, path.rfind('/'))));
    write_file(folder / ("tree" + path), bytes);
  }
  EXPECT_EQ(shell("genisoimage -quiet " + options + " -o '" + (folder / "made.iso").string() +
                  "' '" + (folder / "tree").string() + "'"),
            0);
  return read_whole_file(folder / "made.iso");
}

// Writes the disc in one of the forms read: "iso", "mode1" or "mode2" (a .bin and its cue
// sheet; Mode 1 with an audio track in a file of its own), "raw" (a .bin alone); returns the
// path to open.
std::string write_disc(const fs::path& folder, const std::string& form, const byte_vector& iso) {
  if (form == "iso") {
    write_file(folder / "game.iso", iso);
    return (folder / "game.iso").string();
  }
  const bool mode1 = form != "mode2";
  byte_vector raw(iso.size() / user_data_size * raw_sector_size);
  for (std::size_t s = 0; s < iso.size() / user_data_size; ++s) {
    make_raw_sector(mode1 ? sector_format::raw_mode1 : sector_format::raw_mode2_form1, s,
                    &iso[s * user_data_size], &raw[s * raw_sector_size]);
  }
  write_file(folder / "game.bin", raw);
  if (form == "raw") {
    return (folder / "game.bin").string();
  }
  if (mode1) {
    write_file(folder / "music.bin", random_bytes(4 * raw_sector_size, 6));
  }
  std::ofstream(folder / "game.cue")
      << "FILE \"game.bin\" BINARY\r\n  TRACK 01 " << (mode1 ? "MODE1" : "MODE2")
      << "/2352\r\n    INDEX 01 00:00:00\r\n"
      << (mode1 ? "FILE \"music.bin\" BINARY\r\n  TRACK 02 AUDIO\r\n    INDEX 01 00:00:00\r\n"
                : "");
  return (folder / "game.cue").string();
}

// What bchunk makes of the raw image game.bin of a form ("mode1", "mode2") in `folder`: the
// path of its image of 2,048-byte sectors. (bchunk reads one file a sheet.)
fs::path bchunk_image(const fs::path& folder, const std::string& form) {
  std::ofstream(folder / "one.cue")
      << "FILE \"game.bin\" BINARY\n TRACK 01 " << form << "/2352\n  INDEX 01 00:00:00\n";
  EXPECT_EQ(shell("cd '" + folder.string() + "' && bchunk game.bin one.cue back >/dev/null"), 0);
  return folder / "back01.iso";
}

// Each form lists the files put on it and reads them, whole and in slices across sectors and
// reads; bchunk turns the raw images back into the image genisoimage made. Its patched copy:
// the files replaced read back with their new bytes, here and through iso-read (of the image,
// or of what bchunk makes of it); only their sectors and their folder's change; every raw
// sector decodes; the other files are copied; refusals write nothing.
TEST(DiscImage, ReadsPatchesAndNamesTheDamageOfWhatGenisoimageMakes) {
  SKIP_WITHOUT_DISC_TOOLS();
  scratch_folder folder;
  const byte_vector iso = made_iso(folder.path, sample_files());
  const byte_vector unchanged = sample_files()["/DATA/PICS.BIN"];
  const std::vector<replacement> changes = {{"/DATA/PICS.BIN", random_bytes(6000, 7)},
                                            {"/DATA/PICS.OFB", random_bytes(100, 8)}};
  for (const std::string form : {"iso", "mode1", "mode2"}) {
    SCOPED_TRACE(form);
    scratch_folder here;
    const fs::path in = here.path / "in";
    const fs::path out = here.path / "out";
    fs::create_directories(in);
    fs::create_directories(out);
    const disc_opening opened = open_disc(write_disc(in, form, iso));
    const disc_image& disc = opened.disc;
    ASSERT_EQ(opened.reason + disc.listing.reason, "");
    ASSERT_EQ(disc.listing.files.size(), sample_files().size());
    for (const auto& [path, bytes] : sample_files()) {
      ASSERT_NE(find_disc_file(disc, path), nullptr) << path;
      const iso_file& file = *find_disc_file(disc, path);
      for (const auto& [offset, size] : std::vector<std::pair<std::size_t, std::size_t>>{
               {0, 80000}, {2047, 2}, {100, 70000}, {4000, 9000}, {bytes.size() - 1, 5}}) {
        byte_vector slice(size);
        const file_read read = read_disc_file(disc, file, offset, slice.data(), size);
        const std::size_t there = offset < bytes.size() ? std::min(size, bytes.size() - offset) : 0;
        ASSERT_EQ(read.size, there) << path << " " << offset;
        EXPECT_TRUE(std::equal(slice.begin(), slice.begin() + there, bytes.begin() + offset));
      }
    }
    const auto refusal = [&](const std::vector<replacement>& given, const std::string& to,
                             const copy_check& check) {
      const copy_result result = write_patched_copy(disc, given, to, check);
      EXPECT_FALSE(result.written);
      EXPECT_TRUE(fs::is_empty(out));
      return result.reason;
    };
    if (form == "mode2") {
      EXPECT_EQ(refusal({{"/DATA/PICS.BIN", byte_vector(3 * 2048 + 1)}}, out.string(), {}),
                "/DATA/PICS.BIN: needs 4 sectors, the disc has 3 for it");
      EXPECT_EQ(refusal({{"/DATA/NONE.BIN", {}}}, out.string(), {}),
                "/DATA/NONE.BIN: not a file of " + disc.path);
      const std::string track = (in / "game.bin").string(); // named by a path of its own
      std::ofstream(in / "other.cue")
          << "FILE \"" << track << "\" BINARY\nTRACK 1 MODE2/2352\nINDEX 1 0:0:0";
      EXPECT_EQ(
          write_patched_copy(open_disc((in / "other.cue").string()).disc, {}, out.string()).reason,
          (in / "other.cue").string() + " names " + track + ", outside its folder");
      fs::remove(in / "other.cue");
      EXPECT_EQ(
          refusal({{"/DATA/PICS.BIN", unchanged}, {"/data/pics.bin", unchanged}}, out.string(), {}),
          "/data/pics.bin: given twice");
      EXPECT_EQ(refusal({{"/DATA/PICS.BIN", unchanged}}, (in / ".").string(), {}),
                (in / ".").string() + ": the image's own folder; the copy goes into another");
      EXPECT_EQ(refusal({{"/DATA/PICS.BIN", byte_vector(3 * 2048)}}, out.string(),
                        [](const disc_image& copy) {
                          return copy.listing.files.size() == 4 ? "checked" : "";
                        }),
                "checked");
    }
    const copy_result result = write_patched_copy(disc, changes, out.string());
    ASSERT_TRUE(result.written) << result.reason;
    auto before = files_in(in), after = files_in(out);
    const std::string track = form == "iso" ? "game.iso" : "game.bin";
    const byte_vector& old_track = before[track];
    const byte_vector new_track = std::exchange(after[track], old_track);
    EXPECT_TRUE(after == before); // the sheet and the other files, as they are
    const std::size_t stored = form == "iso" ? 2048 : 2352;
    ASSERT_EQ(new_track.size(), old_track.size());
    std::set<std::uint64_t> changed;
    for (std::uint64_t s = 0; s < old_track.size() / stored; ++s) {
      if (!std::equal(&old_track[s * stored], &old_track[s * stored] + stored,
                      &new_track[s * stored])) {
        changed.insert(s);
      }
      if (form != "iso") {
        ASSERT_EQ(code_fault(&new_track[s * stored], disc.format), "") << s;
      }
    }
    const iso_file& pictures = *find_disc_file(disc, "/DATA/PICS.BIN");
    const std::uint64_t first = pictures.first_sector;
    EXPECT_EQ(changed,
              (std::set<std::uint64_t>{first, first + 1, first + 2, pictures.record_sector,
                                       find_disc_file(disc, "/DATA/PICS.OFB")->first_sector}));
    const disc_opening copy = open_disc((out / (form == "iso" ? track : "game.cue")).string());
    ASSERT_EQ(copy.disc.listing.reason, "");
    std::uint8_t last[2048];
    ASSERT_EQ(read_disc_sector(copy.disc, first + 2, last), "");
    EXPECT_EQ(std::count(last + 6000 - 4096, last + 2048, 0), 2048 - (6000 - 4096));
    const fs::path image = form == "iso" ? out / track : bchunk_image(out, form);
    for (const replacement& change : changes) {
      const fs::path got = here.path / "got";
      ASSERT_EQ(shell("iso-read -e '" + change.path + ";1' -o '" + got.string() + "' -i '" +
                      image.string() + "'"),
                0);
      EXPECT_TRUE(read_whole_file(got) == change.bytes) << change.path;
    }
    if (form != "iso") {
      EXPECT_TRUE(read_whole_file(bchunk_image(in, form)) == iso);
    }
  }
  // Damaged images: the reason names the damage, and every file that can still be found is
  // listed. Each case damages the data track of the sample disc, as an .iso or raw Mode 1.
  const disc_image intact = open_disc(write_disc(folder.path, "iso", iso)).disc;
  const auto file = [&](const std::string& path) { return *find_disc_file(intact, path); };
  const std::string data_folder = std::to_string(file("/DATA/PICS.BIN").record_sector);
  const std::uint32_t root = le32(iso, 16 * 2048 + 156 + 2);
  const std::string sectors = std::to_string(iso.size() / 2048);
  std::size_t stored = 0; // of the case's form
  // The byte `at` of a file's directory record, or of a sector (user data at 16 in raw ones).
  const auto record = [&](const std::string& path, std::size_t at) {
    return file(path).record_sector * stored + (stored == 2048 ? 0 : 16) + file(path).record_at +
           at;
  };
  const auto set_both = [](byte_vector& track, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
      track[at + i] = track[at + 7 - i] = static_cast<std::uint8_t>(value >> 8 * i);
    }
  };
  using damage = std::function<void(byte_vector&)>;
  const std::vector<std::tuple<std::string, damage, std::string, std::string>> cases = {
      {"iso", [&](byte_vector& t) { t.resize(63 * 2048); },
       "the image is cut short: 63 sectors of the volume's " + sectors, "/A/B/NOEXT /BIG.BIN"},
      {"mode1", [&](byte_vector& t) { t.resize(17 * stored); },
       "the image ends before its volume descriptors do", ""},
      {"iso", [&](byte_vector& t) { set_both(t, record("/DATA/PICS.OFB", 2), 0xFFFFFF); },
       "file /DATA/PICS.OFB lies past the image's end (sectors 16777215 to 16777215 of " + sectors +
           ")",
       "/A/B/NOEXT /BIG.BIN /DATA/PICS.BIN"},
      {"iso", [&](byte_vector& t) { t[record("/DATA/PICS.BIN", 17)] ^= 1; },
       "directory /DATA: the record at byte " + std::to_string(file("/DATA/PICS.BIN").record_at) +
           " of sector " + data_folder +
           ": its extent or length differs between its two byte orders",
       "/A/B/NOEXT /BIG.BIN /DATA/PICS.OFB"},
      {"mode1", [&](byte_vector& t) { t[record("/DATA/PICS.OFB", 0)] = 33; },
       "directory /DATA: the record at byte " + std::to_string(file("/DATA/PICS.OFB").record_at) +
           " of sector " + data_folder + " is too short",
       "/A/B/NOEXT /BIG.BIN /DATA/PICS.BIN"},
      {"iso", // /A/B/NOEXT made a directory: the root
       [&](byte_vector& t) {
         t[record("/A/B/NOEXT", 25)] |= 2;
         set_both(t, record("/A/B/NOEXT", 2), root);
       },
       "directory /A/B/NOEXT takes sector " + std::to_string(root) +
           ", which another directory has: a loop",
       "/BIG.BIN /DATA/PICS.BIN /DATA/PICS.OFB"},
      {"mode1", [&](byte_vector& t) { t[std::stoul(data_folder) * stored + 5] = 0; },
       "directory /DATA: sector " + data_folder + " has no sync", "/A/B/NOEXT /BIG.BIN"},
      {"iso", // neither damage nor listed
       [&](byte_vector& t) {
         t[record("/DATA/PICS.OFB", 25)] |= 0x80;
         t[record("/A/B/NOEXT", 26)] = 1;
       },
       "",
       "/BIG.BIN /DATA/PICS.BIN; passed over: /A/B/NOEXT: interleaved, /DATA/PICS.OFB: in several "
       "extents"},
      {"iso", [&](byte_vector& t) { t[16 * 2048] = 0; }, "no primary volume descriptor", ""},
      {"iso", [&](byte_vector& t) { t[16 * 2048 + 129] = t[16 * 2048 + 130] = 2; }, // 512 bytes
       "the volume's sectors are not of 2,048 bytes", ""},
      {"mode1", [&](byte_vector& t) { t[17 * stored + 17] = 'X'; },
       "sector 17 holds no volume descriptor", "/A/B/NOEXT /BIG.BIN /DATA/PICS.BIN /DATA/PICS.OFB"},
  };
  for (const auto& [form, make, reason, expected] : cases) {
    SCOPED_TRACE(reason);
    scratch_folder here;
    const std::string path = write_disc(here.path, form, iso);
    const fs::path track = form == "iso" ? fs::path(path) : here.path / "game.bin";
    byte_vector bytes = read_whole_file(track);
    stored = form == "iso" ? 2048 : 2352;
    make(bytes);
    write_file(track, bytes);
    const disc_opening opened = open_disc(path);
    ASSERT_EQ(opened.reason, "");
    EXPECT_EQ(opened.disc.listing.reason, reason);
    std::string listed;
    for (const iso_file& found : opened.disc.listing.files) {
      listed += (listed.empty() ? "" : " ") + found.path;
    }
    for (const std::string& passed : opened.disc.listing.passed_over) {
      listed += (listed.find(';') == std::string::npos ? "; passed over: " : ", ") + passed;
    }
    EXPECT_EQ(listed, expected);
  }

  // Paths that name no readable disc.
  std::ofstream(folder.path / "gone.cue")
      << "FILE gone.bin BINARY\nTRACK 1 MODE1/2352\nINDEX 1 0:0:0\n";
  std::ofstream(folder.path / "bad.cue") << "TRACK 01 MODE1/2352\n";
  std::ofstream(folder.path / "notes.iso") << "notes";
  std::ofstream(folder.path / "late.cue")
      << "FILE made.iso BINARY\nTRACK 1 MODE1/2048\nINDEX 1 9:0:0";
  const std::string at = folder.path.string() + "/";
  for (const auto& [name, reason] : std::map<std::string, std::string>{
           {"gone.cue", "gone.cue names gone.bin, which is missing"},
           {"bad.cue", "bad.cue, line 1: a TRACK before any FILE"},
           {"late.cue", "made.iso: the data track starts past the file's end"},
           {"notes.iso", "notes.iso: not a disc image (neither CD001 at byte 32,769 nor a sync of "
                         "raw sectors of Mode 1 or 2 at byte 0)"},
           {"none.iso", "none.iso: No such file or directory"}}) {
    EXPECT_EQ(open_disc(at + name).reason, at + reason);
  }
}

// Folders are read down to 64 levels below the root, and no further; a record may end at its
// sector's end, and not one byte after it.
TEST(DiscImage, FoldersDeeperThanTheLimitAndRecordsPastTheirSectorAreNamed) {
  SKIP_WITHOUT_DISC_TOOLS();
  std::string allowed, deeper;
  for (int level = 1; level <= 65; ++level) {
    allowed += level <= 64 ? "/D" : "";
    deeper += "/E";
  }
  scratch_folder folder;
  made_iso(folder.path, {{allowed + "/F", {1}}, {deeper + "/G", {1}}}, "-D");
  const disc_image deep = open_disc((folder.path / "made.iso").string()).disc;
  EXPECT_EQ(deep.listing.reason, "directory " + deeper + " lies deeper than 64 levels");
  ASSERT_EQ(deep.listing.files.size(), 1u);
  EXPECT_EQ(deep.listing.files[0].path, allowed + "/F");

  std::map<std::string, byte_vector> files;
  for (int n = 10; n < 70; ++n) { // two sectors of records
    files["/W/F" + std::to_string(n)] = {1};
  }
  scratch_folder wide;
  byte_vector iso = made_iso(wide.path, files);
  const disc_image intact = open_disc(write_disc(wide.path, "iso", iso)).disc;
  const iso_file* last = &intact.listing.files[0]; // the last record of the folder's first sector
  for (const iso_file& file : intact.listing.files) {
    last = file.record_sector == last->record_sector && file.record_at > last->record_at ? &file
                                                                                         : last;
  }
  ASSERT_GE(last->record_at, 2048u - 255); // a length byte can reach past the sector
  const std::string where = "directory /W: the record at byte " + std::to_string(last->record_at) +
                            " of sector " + std::to_string(last->record_sector);
  for (const std::size_t beyond : {0, 1}) {
    iso[last->record_sector * 2048 + last->record_at] =
        static_cast<std::uint8_t>(2048 - last->record_at + beyond);
    write_file(wide.path / "game.iso", iso);
    const disc_image disc = open_disc((wide.path / "game.iso").string()).disc;
    EXPECT_EQ(disc.listing.reason, beyond ? where + " runs past its sector" : "");
    EXPECT_EQ(disc.listing.files.size(), 60 - beyond);
  }
}

// ---- discs as the tool's inputs ----------------------------------------------------------------

// The console text, the status and the pictures of a run over these inputs into `folder`.
struct disc_run {
  std::string console, errors;
  bool incomplete;
  std::map<std::string, byte_vector> pictures;
};
disc_run run_inputs(const std::vector<std::string>& inputs, const fs::path& folder) {
  fs::remove_all(folder);
  fs::create_directories(folder);
  test_state run(folder);
  std::set<std::string> done;
  testing::internal::CaptureStderr();
  for (const std::string& input : inputs) {
    process_input(run.state, input, done);
  }
  return {run.console_text(), testing::internal::GetCapturedStderr(), run.state.incomplete,
          files_in(folder)};
}

// Each form of a disc holding a pair of direct-colour frames in /DATA and a frame bank in /MORE
// gives what its pairs copied out of it give, in path order: the same pictures, console text
// (paths shown as the image and the path in it) and status. Pictures put back unchanged give
// the image (and every file of its sheet) back byte for byte, and an edited one comes back.
TEST(DiscInputs, EachFormGivesWhatItsPairsCopiedOutGiveAndTakesThemBack) {
  SKIP_WITHOUT_DISC_TOOLS();
  scratch_folder folder;
  const archive_pair pics = direct_sample(4, 3);
  const archive_pair bfil = frame_bank_sample(2, 1, 5);
  const byte_vector iso = made_iso(folder.path, {{"/DATA/PICS.OFB", pics.index},
                                                 {"/DATA/PICS.BIN", pics.archive},
                                                 {"/MORE/BFIL.OFB", bfil.index},
                                                 {"/MORE/BFIL.BIN", bfil.archive}});
  const fs::path tree = folder.path / "tree";
  const disc_run copied = run_inputs(
      {(tree / "DATA/PICS.OFB").string(), (tree / "MORE/BFIL.OFB").string()}, folder.path / "want");
  ASSERT_EQ(copied.pictures.size(), 381u + 34u);
  const fs::path out = folder.path / "out";
  const fs::path pictures = folder.path / "got";
  const auto insert = [&](const std::string& image) {
    fs::remove_all(out);
    fs::create_directories(out);
    test_state run(out);
    run.state.quiet = true;
    insert_pictures_of(run.state, pictures.string(), {image});
    return run.console_text() + (run.state.incomplete ? "1" : "0");
  };
  for (const std::string form : {"iso", "mode1", "mode2", "raw"}) {
    SCOPED_TRACE(form);
    const std::string image = write_disc(folder.path, form, iso);
    const disc_run got = run_inputs({image}, pictures);
    std::string console = copied.console;
    replace_all(console, tree.string(), image + ":");
    EXPECT_EQ(got.console, console);
    EXPECT_EQ(got.errors, "");
    EXPECT_EQ(got.incomplete, copied.incomplete);
    EXPECT_TRUE(got.pictures == copied.pictures);
    if (form != "iso" && form != "mode2") {
      continue;
    }
    EXPECT_EQ(insert(image), "0");
    for (const auto& [name, bytes] : files_in(out)) { // the image, or its sheet and track
      EXPECT_EQ(bytes, read_whole_file(folder.path / name)) << name;
    }
    // One pixel of PICS05 edited: the copy gives it back, and every other picture as it was.
    byte_vector bytes = read_whole_file(pictures / "PICS05.BMP");
    bytes[bytes[10]] ^= 0x80;
    write_file(pictures / "PICS05.BMP", bytes);
    EXPECT_EQ(insert(image), "0");
    const disc_run again =
        run_inputs({(out / fs::path(image).filename()).string()}, folder.path / "again");
    EXPECT_TRUE(again.pictures == files_in(pictures)); // PICS05 as edited
    // A frame grown to 40 x 40, all black (a colour of the bank), makes its bank too long for
    // the sectors the archive has.
    write_file(pictures / "BFIL000.BMP", bitmap_file(40, 40, byte_vector(40 * 40 * 3, 0)));
    const std::string refused = insert(image);
    EXPECT_EQ(refused.rfind("insert error![" + image + ":/MORE/BFIL.BIN: needs ", 0), 0u)
        << refused;
    EXPECT_EQ(refused.back(), '1');
    EXPECT_TRUE(fs::is_empty(out));
  }
  // Two sectors of the archive in the raw image with a wrong EDC: their bytes stand, and they
  // are counted and the first named.
  const std::string bin = (folder.path / "game.bin").string();
  byte_vector raw = read_whole_file(bin);
  const disc_image disc = open_disc(bin).disc;
  const iso_file* archive = find_disc_file(disc, "/DATA/PICS.BIN");
  ASSERT_NE(archive, nullptr);
  const std::uint64_t sector = archive->first_sector + 2;
  raw[(sector - 1) * raw_sector_size + mode1_edc_at + 3] ^= 1; // the EDC's last byte
  raw[sector * raw_sector_size + mode1_edc_at] ^= 1;           // and its first
  write_file(bin, raw);
  const disc_run bad = run_inputs({bin}, folder.path / "got");
  EXPECT_EQ(bad.errors, "ofb2bmp: " + bin + ": 2 sectors of /DATA/PICS.BIN fail their error " +
                            "check (sector " + std::to_string(sector - 1) +
                            " first): the image may be a bad copy\n");
  EXPECT_FALSE(bad.incomplete);
  EXPECT_TRUE(bad.pictures == copied.pictures);
  // A sector of that archive without its sync: named, and the other pair is read whole.
  raw[sector * raw_sector_size + 1] = 0;
  write_file(bin, raw);
  const disc_run damaged = run_inputs({bin}, folder.path / "got");
  EXPECT_TRUE(damaged.errors.starts_with("ofb2bmp: " + bin + ": sector " + std::to_string(sector)))
      << damaged.errors;
  EXPECT_TRUE(damaged.incomplete);
  for (const auto& [name, bytes] : copied.pictures) {
    if (name.starts_with("BFIL")) {
      EXPECT_EQ(damaged.pictures.at(name), bytes) << name;
    }
  }
  // A sheet naming a file that is not there.
  const std::string lost = (folder.path / "lost.cue").string();
  std::ofstream(lost) << "FILE \"lost.bin\" BINARY\n TRACK 01 MODE1/2352\n INDEX 01 00:00:00\n";
  const disc_run missing = run_inputs({lost}, folder.path / "got");
  EXPECT_EQ(missing.errors.rfind("ofb2bmp: " + lost + ": ", 0), 0u) << missing.errors;
  EXPECT_TRUE(missing.incomplete);
  EXPECT_TRUE(missing.pictures.empty());
  // An index file whose archive is not on the disc ends the run as a missing file does.
  const std::string half = (folder.path / "half.iso").string();
  write_file(half, made_iso(folder.path / "half", {{"/DATA/PICS.OFB", pics.index}}));
  try { // standard error stays captured by run_inputs
    run_inputs({half}, folder.path / "got");
    ADD_FAILURE() << "the run went on";
  } catch (const fatal_error& failure) {
    EXPECT_EQ(failure.message, text::file_open_error);
    EXPECT_EQ(failure.name, half + ":/DATA/PICS.BIN");
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ofb2bmp: " + half + ":/DATA/PICS.BIN: not on the disc\n");
}

} // namespace
