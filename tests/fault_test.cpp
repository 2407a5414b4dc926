// Damaged archives, failing disks and hostile names: what is lost is always named, and nothing
// else is lost or changed.
#include <algorithm>
#include <map>
#include <random>

#include "archive/archive.hpp"
#include "bitmap/bitmap_file.hpp"
#include "common/big_endian.hpp"
#include "driver/driver.hpp"
#include "end_to_end_fixture.hpp"

namespace {

using bitmap_set = std::map<std::string, byte_vector>;

// One small pair per kind. Its few records are shared by many index entries, so the archive
// stays small enough to be cut at (nearly) every length, and every entry yields frames.
struct fault_pair {
  std::string name;
  archive_pair pair;
  std::vector<std::vector<std::int32_t>> counters_by_entry; // frames of each entry
  bool indexed;
};

// Entries past the records repeat the last record's entry (or stay zero: skipped screen-bank
// records). No entry points back at a record before another's, so after an unreadable head
// (which counts no frames) every later entry is unreadable too and no bitmap is renamed.
archive_pair shared_records(const std::vector<byte_vector>& records, std::size_t entries,
                            bool repeat_last) {
  archive_pair pair = lay_out_pair(records);
  const byte_vector last(pair.index.end() - 8, pair.index.end());
  while (repeat_last && pair.index.size() < entries * 8) {
    pair.index.insert(pair.index.end(), last.begin(), last.end());
  }
  pair.index.resize(entries * 8);
  return pair;
}

void number_frames(fault_pair& fault, const std::vector<int>& frames_by_entry) {
  std::int32_t counter = 0;
  for (const int frames : frames_by_entry) {
    fault.counters_by_entry.emplace_back();
    for (int k = 0; k < frames; ++k) {
      fault.counters_by_entry.back().push_back(counter++);
    }
  }
}

fault_pair direct_fault_pair() {
  fault_pair fault{"PICS", {}, {}, false};
  fault.pair = shared_records({make_direct_record(5, 3, gradient_frame(0, 5, 3)),
                               make_direct_record(2, 2, gradient_frame(1, 2, 2)),
                               make_direct_record(7, 1, gradient_frame(2, 7, 1))},
                              381, true);
  number_frames(fault, std::vector<int>(381, 1));
  return fault;
}

fault_pair frame_bank_fault_pair() {
  fault_pair fault{"BFIL", {}, {}, true};
  const colour_words palette = sample_palette(2);
  fault.pair = shared_records(
      {make_frame_bank(palette, {colour_bar_frame(1, 5, 3), colour_bar_frame(2, 1, 1),
                                 colour_bar_frame(3, 4, 2)}),
       make_frame_bank(sample_palette(7), {colour_bar_frame(4, 3, 3), colour_bar_frame(5, 2, 6)})},
      17, true);
  std::vector<int> frames(17, 2);
  frames[0] = 3;
  number_frames(fault, frames);
  return fault;
}

// A full screen of bands with a few noisy rows: both packet kinds, a short stream.
byte_vector banded_screen(unsigned seed) {
  byte_vector screen(352 * 240);
  for (std::size_t i = 0; i < screen.size(); ++i) {
    const std::size_t row = i / 352;
    screen[i] =
        static_cast<std::uint8_t>(row >= 100 && row < 102 ? (i * 7 + seed) % 251 : row / 30 + seed);
  }
  return screen;
}

fault_pair screen_bank_fault_pair() {
  fault_pair fault{"GFIL", {}, {}, true};
  fault.pair =
      shared_records({make_screen_bank(sample_palette(3), {make_run_stream(banded_screen(1)),
                                                           make_run_stream(banded_screen(2))}),
                      make_screen_bank(sample_palette(4), {make_run_stream(banded_screen(3))})},
                     147, false);
  std::vector<int> frames(147, 0);
  frames[0] = 2;
  frames[1] = 1;
  number_frames(fault, frames);
  return fault;
}

std::vector<fault_pair> fault_pairs() {
  return {direct_fault_pair(), frame_bank_fault_pair(), screen_bank_fault_pair()};
}

struct extraction {
  bool incomplete;
  std::string console;
  bitmap_set bitmaps;
};

bitmap_set bitmaps_in(const fs::path& folder) {
  bitmap_set bitmaps;
  for (const auto& entry : fs::directory_iterator(folder)) {
    bitmaps[entry.path().filename().string()] = read_whole_file(entry.path());
  }
  return bitmaps;
}

// Extracts data/<name>.OFB in this process through the driver, into an emptied `out`.
extraction extract_in_process(const fs::path& data, const std::string& name, const fs::path& out) {
  fs::remove_all(out);
  fs::create_directories(out);
  test_state run(out);
  process_index_file(run.state, (data / (name + ".OFB")).string(), name + ".OFB");
  return {run.state.incomplete, run.console_text(), bitmaps_in(out)};
}

std::string bitmap_name(const fault_pair& fault, std::int32_t counter) {
  return fault.name + (fault.indexed ? indexed_suffix(counter) : direct_suffix(counter)) + ".BMP";
}

// Every bitmap written is the intact archive's bitmap; every one missing is named by exactly
// one message, for itself or for its record; no message names anything else; status 1 exactly
// when something is missing.
void expect_loss_accounted(const fault_pair& fault, const extraction& whole, const extraction& cut,
                           const fs::path& out, const std::string& archive_path) {
  for (const auto& [name, bytes] : cut.bitmaps) {
    const auto intact = whole.bitmaps.find(name);
    ASSERT_NE(intact, whole.bitmaps.end()) << name << " is not a bitmap of the intact archive";
    EXPECT_EQ(bytes, intact->second) << name << " differs from the intact archive's";
  }
  bool missing = false;
  std::size_t messages = 0;
  for (std::size_t e = 0; e < fault.counters_by_entry.size(); ++e) {
    const std::size_t record_messages =
        count_of(cut.console, "broken record![" + archive_path + ":" + std::to_string(e) + "]\n");
    ASSERT_LE(record_messages, 1u) << "entry " << e;
    messages += record_messages;
    for (const std::int32_t counter : fault.counters_by_entry[e]) {
      const std::string name = bitmap_name(fault, counter);
      const bool written = cut.bitmaps.count(name) != 0;
      const std::size_t frame_messages =
          count_of(cut.console, "broken frame![" + (out / name).string() + "]\n");
      messages += frame_messages;
      missing = missing || !written;
      ASSERT_EQ(frame_messages + record_messages, written ? 0u : 1u)
          << name << (written ? " written but reported" : " missing and not reported once");
    }
  }
  EXPECT_EQ(count_of(cut.console, "broken "), messages) << "a message about nothing missing";
  EXPECT_EQ(cut.incomplete, missing);
}

// Thousands of small bitmaps: memory-backed storage where there is some.
fs::path fast_storage() {
  return fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
}

TEST(DamagedArchives, CutAtEveryLengthLoseOnlyWhatIsGoneAndSayWhat) {
  scratch_folder folder(fast_storage());
  const fs::path data = folder.path / "data";
  const fs::path out = folder.path / "out";
  fs::create_directories(data);
  for (const fault_pair& fault : fault_pairs()) {
    write_pair(data, fault.name, fault.pair);
    const std::string archive_path = (data / (fault.name + ".BIN")).string();
    const extraction whole = extract_in_process(data, fault.name, out);
    ASSERT_FALSE(whole.incomplete) << fault.name;
    std::size_t frames = 0;
    for (const auto& counters : fault.counters_by_entry) {
      frames += counters.size();
    }
    ASSERT_EQ(whole.bitmaps.size(), frames) << fault.name;

    // Every length where something changes (a record's first bytes, its head's end and
    // tables, its last bytes); a sample elsewhere.
    const byte_vector& archive = fault.pair.archive;
    const auto worth_cutting_at = [&](std::size_t length) {
      for (std::size_t e = 0; e < 3; ++e) {
        const std::size_t start = 2048 * std::size_t{u24be(fault.pair.index.data() + 8 * e + 1)};
        const std::size_t end = start + u32be(fault.pair.index.data() + 8 * e + 4);
        if (length < start || length > end) {
          continue;
        }
        const std::size_t into = length - start;
        return into < 8 || (into >= 500 && into < 560) || end - length < 140 || into % 37 == 0;
      }
      return length % 512 == 0;
    };
    for (std::size_t length = 0; length < archive.size(); ++length) {
      if (!worth_cutting_at(length)) {
        continue;
      }
      write_file(data / (fault.name + ".BIN"),
                 byte_vector(archive.begin(), archive.begin() + length));
      const extraction cut = extract_in_process(data, fault.name, out);
      SCOPED_TRACE(fault.name + " cut at " + std::to_string(length));
      expect_loss_accounted(fault, whole, cut, out, archive_path);
      ASSERT_TRUE(cut.incomplete) << "every cut loses something";
      if (::testing::Test::HasFatalFailure()) {
        return;
      }
    }
    fs::remove(data / (fault.name + ".OFB"));
    fs::remove(data / (fault.name + ".BIN"));
  }
}

// The counter a bitmap name stands for: base 36, then one (direct) or two hexadecimal digits.
std::int64_t counter_of(const fault_pair& fault, const std::string& name) {
  const std::string suffix = name.substr(fault.name.size(), name.size() - fault.name.size() - 4);
  const auto digit = [](char c) { return c <= '9' ? c - '0' : c - 'A' + 10; };
  const std::size_t low_digits = fault.indexed ? 2 : 1;
  std::int64_t high = 0;
  for (std::size_t i = 0; i + low_digits < suffix.size(); ++i) {
    high = high * 36 + digit(suffix[i]);
  }
  std::int64_t low = 0;
  for (std::size_t i = suffix.size() - low_digits; i < suffix.size(); ++i) {
    low = low * 16 + digit(suffix[i]);
  }
  return high << (4 * low_digits) | low;
}

bool well_formed_bitmap(const byte_vector& bytes) {
  if (bytes.size() < 54 || bytes[0] != 'B' || bytes[1] != 'M' || le32(bytes, 2) != bytes.size()) {
    return false;
  }
  const std::uint64_t bits = le16(bytes, 28);
  const std::uint64_t row = (le32(bytes, 18) * bits / 8 + 3) / 4 * 4;
  return le32(bytes, 10) + row * le32(bytes, 22) == bytes.size();
}

void corrupt(byte_vector& bytes, std::mt19937& random) {
  if (bytes.empty()) {
    return;
  }
  const std::size_t at = random() % bytes.size();
  switch (random() % 3) {
  case 0:
    bytes[at] ^= static_cast<std::uint8_t>(1u << (random() % 8));
    break;
  case 1:
    bytes[at] = static_cast<std::uint8_t>(random());
    break;
  default:
    bytes[at] = (random() % 2) ? 0xFF : 0x00; // the extremes of counts and sizes
  }
}

TEST(DamagedArchives, RandomCorruptionEndsCleanlyAndNamesEveryLostFrame) {
  scratch_folder folder(fast_storage());
  const fs::path data = folder.path / "data";
  const fs::path out = folder.path / "out";
  fs::create_directories(data);
  std::mt19937 random(20261206);
  for (const fault_pair& fault : fault_pairs()) {
    for (int round = 0; round < 150; ++round) {
      archive_pair damaged = fault.pair;
      for (unsigned flips = 1 + random() % 6; flips-- > 0;) {
        corrupt(random() % 5 == 0 ? damaged.index : damaged.archive, random);
      }
      write_pair(data, fault.name, damaged);
      const extraction run = extract_in_process(data, fault.name, out);
      SCOPED_TRACE(fault.name + " round " + std::to_string(round));
      ASSERT_GE(run.console.size(), 12u);
      EXPECT_EQ(run.console.substr(run.console.size() - 12), "\ncompleted.\n");
      const std::size_t broken_frames = count_of(run.console, "broken frame![");
      const std::size_t broken_records = count_of(run.console, "broken record![");
      EXPECT_EQ(run.incomplete, broken_frames + broken_records != 0);

      std::vector<std::int64_t> counters;
      for (const auto& [name, bytes] : run.bitmaps) {
        EXPECT_TRUE(well_formed_bitmap(bytes)) << name;
        counters.push_back(counter_of(fault, name));
      }
      for (std::size_t at = run.console.find("broken frame!["); at != std::string::npos;
           at = run.console.find("broken frame![", at + 1)) {
        const std::size_t end = run.console.find("]\n", at);
        const std::string name = fs::path(run.console.substr(at + 14, end - at - 14)).filename();
        EXPECT_EQ(run.bitmaps.count(name), 0u) << name << " reported broken but written";
        counters.push_back(counter_of(fault, name));
      }
      // Without a broken record, the frames written and reported are exactly 0 ... n-1.
      if (broken_records == 0) {
        std::sort(counters.begin(), counters.end());
        for (std::size_t i = 0; i < counters.size(); ++i) {
          ASSERT_EQ(counters[i], static_cast<std::int64_t>(i)) << "a frame lost without a word";
        }
      }
    }
  }
}

// ---- the real program: damaged input, failing disks, hostile names ------------------------

class Faults : public EndToEnd {
protected:
  // The bitmaps of the program folder, by name.
  bitmap_set written() {
    bitmap_set bitmaps;
    for (const auto& [name, bytes] : bitmaps_in(bin)) {
      if (name.size() > 4 && name.substr(name.size() - 4) == ".BMP") {
        bitmaps[name] = bytes;
      }
    }
    return bitmaps;
  }

  // What an undisturbed run writes for the pairs in data (then removed again).
  bitmap_set reference(const std::string& arguments) {
    EXPECT_EQ(run(arguments).status, 0);
    bitmap_set bitmaps = written();
    for (const auto& entry : bitmaps) {
      fs::remove(bin / entry.first);
    }
    return bitmaps;
  }

  // Every bitmap on disk is byte for byte the undisturbed run's.
  void expect_intact(const bitmap_set& on_disk, const bitmap_set& intact) {
    for (const auto& [name, bytes] : on_disk) {
      ASSERT_EQ(intact.count(name), 1u) << name;
      EXPECT_EQ(bytes, intact.at(name)) << name;
    }
  }

  // Whether this system lets us mount in a private namespace of our own (unshare -rm).
  bool mount_namespace_available() { return shell("unshare -rm true >/dev/null 2>&1") == 0; }
};

TEST_F(Faults, CorruptedArchivesEndTheProgramWithStatusZeroOrOne) {
  std::mt19937 random(7);
  for (fault_pair& fault : fault_pairs()) {
    for (int round = 0; round < 8; ++round) {
      archive_pair damaged = fault.pair;
      for (int flips = 0; flips < 6; ++flips) {
        corrupt(round % 2 ? damaged.index : damaged.archive, random);
      }
      write_pair(data, fault.name, damaged);
      const tool_run result = run("data/" + fault.name);
      EXPECT_TRUE(result.status == 0 || result.status == 1) << result.status;
      EXPECT_EQ(read_text(folder.path / "stderr"), "") << "a sanitizer or other report";
      EXPECT_EQ(result.status == 1, result.output.find("broken ") != std::string::npos);
    }
  }
}

TEST_F(Faults, AFullDeviceRemovesTheCutBitmapAndKeepsTheEarlierOnes) {
  write_pair(data, "PICS", direct_sample(4, 4));
  const bitmap_set intact = reference("data/PICS");
  // A device that accepts no byte stands where the sixth bitmap goes.
  fs::create_symlink("/dev/full", bin / "PICS05.BMP");
  const tool_run result = run("data/PICS");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.output, "data/PICS.OFB\n380\r379\r378\r377\r376\r375\rfile write error![" +
                               bitmap("PICS05.BMP") + "]\n");
  EXPECT_FALSE(fs::exists(fs::symlink_status(bin / "PICS05.BMP")));
  EXPECT_EQ(written().size(), 5u);
  expect_intact(written(), intact);
}

TEST_F(Faults, AFileSizeLimitKeepsEveryEarlierBitmapIntact) {
  write_pair(data, "BFIL", frame_bank_sample(3, 8, 60));
  const bitmap_set intact = reference("data/BFIL");
  const tool_run result = run("data/BFIL", "trap '' XFSZ; ulimit -f 3;"); // 1 KiB blocks
  EXPECT_EQ(result.status, 1);
  ASSERT_NE(result.output.find("file write error!["), std::string::npos) << result.output;
  const bitmap_set kept = written();
  EXPECT_FALSE(kept.empty());
  EXPECT_LT(kept.size(), intact.size());
  expect_intact(kept, intact);
  for (const auto& [name, bytes] : kept) {
    EXPECT_LE(bytes.size(), 3072u) << name;
  }
}

TEST_F(Faults, ASmallFullFileSystemAndAReadOnlyOneEndTheRun) {
  if (!mount_namespace_available()) {
    GTEST_SKIP() << "no private mount namespace here (unshare -rm); covered by the /dev/full test";
  }
  write_pair(data, "PICS", direct_sample(4, 4));
  write_pair(data, "GFIL", screen_bank_sample(1));
  const bitmap_set intact = reference("data/PICS data/GFIL");
  // The program folder becomes a file system of the program's size plus 16 pages, so the
  // seventeenth small bitmap finds no room; the bitmaps are copied out before it goes away.
  const std::uintmax_t pages = (fs::file_size(OFB2BMP_EXE) + 4095) / 4096 + 16;
  const auto in_namespace = [&](const std::string& after_mount) {
    fs::remove_all(folder.path / "kept");
    fs::create_directories(folder.path / "kept");
    shell("cd '" + folder.path.string() + "' && (unshare -rm sh -c 'mount -t tmpfs -o size=" +
          std::to_string(pages * 4) + "k tmpfs bin && cp \"" OFB2BMP_EXE "\" bin/ofb2bmp && " +
          after_mount + " bin/ofb2bmp data/PICS data/GFIL 2>stderr </dev/null; echo $? >status; " +
          "cp bin/*.BMP kept/ 2>/dev/null; true') | cat >stdout");
    return tool_run{std::stoi(read_text(folder.path / "status")),
                    read_text(folder.path / "stdout")};
  };

  tool_run result = in_namespace("");
  EXPECT_EQ(result.status, 1);
  const std::size_t at = result.output.find("file write error![" + bitmap("PICS"));
  ASSERT_NE(at, std::string::npos) << result.output;
  EXPECT_EQ(result.output.substr(result.output.size() - 2), "]\n");
  const bitmap_set kept = bitmaps_in(folder.path / "kept");
  EXPECT_GE(kept.size(), 10u);
  EXPECT_LT(kept.size(), 20u);
  expect_intact(kept, intact);
  const std::string failed =
      fs::path(result.output.substr(at + 18, result.output.size() - at - 20)).filename();
  EXPECT_EQ(kept.count(failed), 0u) << "the cut bitmap is removed";
  EXPECT_EQ(failed, "PICS" + direct_suffix(static_cast<std::int32_t>(kept.size())) + ".BMP");

  result = in_namespace("mount -o remount,ro bin &&");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.output,
            "data/PICS.OFB\n380\rfile create error![" + bitmap("PICS00.BMP") + "]\n");
  EXPECT_TRUE(bitmaps_in(folder.path / "kept").empty());
}

TEST_F(Faults, HostileNamesAreKeptByteForByte) {
  const archive_pair pair = frame_bank_sample(1, 2, 3);
  const std::vector<std::string> names = {"with blank",
                                          "it's \"quoted\"",
                                          "\x83\x5C\x83\x74\x83\x67",
                                          "\xE7\x94\xBB\xE5\x83\x8F",
                                          std::string(240, 'L'),
                                          "semi;colon $(x) `y`"};
  for (const std::string& name : names) {
    write_pair(data, name, pair);
  }
  const tool_run result = run("'data/*'");
  EXPECT_EQ(result.status, 0) << result.output;
  for (const std::string& name : names) {
    EXPECT_NE(result.output.find("data/" + name + ".OFB\n" + walk_text(16)), std::string::npos)
        << name;
    EXPECT_TRUE(fs::exists(bin / (name + "000.BMP"))) << name;
    EXPECT_EQ(read_whole_file(bin / (name + "010.BMP")),
              read_whole_file(bin / (names.front() + "010.BMP")));
  }
}

TEST_F(Faults, NamesTooLongForTheSystemAreRefusedWithAMessage) {
  // The index name fits (254 bytes), its bitmaps' names do not.
  const std::string name(250, 'N');
  write_pair(data, name, frame_bank_sample(1, 2, 3));
  tool_run result = run("data/" + name);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.output,
            "data/" + name + ".OFB\n 16\rfile create errror.[" + bitmap(name + "000.BMP") + "]\n");

  // An input path over 4 KiB finds nothing, as the system can open nothing by it.
  std::string dots;
  while (dots.size() < 5000) {
    dots += "./";
  }
  result = run("data/" + dots + name);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.output, "");
}

TEST_F(Faults, AProgramFolderBeyondTheSystemsPathLimitWritesNothingElsewhere) {
  // 21 folders of 200 bytes: the program's own path is longer than the system will tell.
  write_pair(data, "PICS", direct_sample(2, 2));
  const std::string component(200, 'd');
  std::string down;
  std::string up;
  for (int i = 0; i < 20; ++i) {
    down += "mkdir " + component + " && cd " + component + " && ";
    up += "../";
  }
  const int status =
      shell("cd '" + folder.path.string() + "' && " + down + "mkdir " + component + " && cp \"" +
            OFB2BMP_EXE "\" " + component + "/ofb2bmp && (" + component + "/ofb2bmp " + up +
            "data/PICS </dev/null; echo $? >" + up + "status) | cat >" + up + "stdout");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(read_text(folder.path / "status"), "1\n");
  EXPECT_EQ(read_text(folder.path / "stdout"), "file create error![" + component + "/ofb2bmp]\n");
  EXPECT_EQ(shell("cd '" + folder.path.string() + "' && test -z \"$(find . -name '*.BMP')\""), 0)
      << "bitmaps written somewhere else";
  shell("rm -rf '" + (folder.path / component).string() + "'");
}

} // namespace
