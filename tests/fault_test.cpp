// Failing disks, an unnamable program folder, interruptions and running out of memory: what
// is lost is always named, and nothing else is lost or changed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <new>
#include <thread>

#include "archive/archive.hpp"
#include "driver/driver.hpp"
#include "pictures/read_ahead.hpp"
#include "sample_writer.hpp"
#include "tool_runs.hpp"

namespace {

using picture_set = std::map<std::string, byte_vector>;

struct disk_case {
  const char* name;
  const char* arguments;
  std::string before;   // shell text before the program (after the mount, with own_mount)
  std::string message;  // the message that ends the run
  std::size_t at_least; // pictures kept
  bool own_mount;       // bin/ is a small file system of its own (needs unshare -rm)
  bool over_earlier;    // bin/ holds an earlier run's pictures under the same names
  std::string reason;   // the system's text, on standard error
};

// An earlier run's pictures under the same names: short files of other bytes.
picture_set earlier_versions(const picture_set& pictures) {
  picture_set earlier;
  for (const auto& [name, bytes] : pictures) {
    byte_vector& old = earlier[name];
    old.assign(bytes.begin(), bytes.begin() + std::min<std::size_t>(bytes.size(), 54));
    old.push_back('o');
  }
  return earlier;
}

// What one writer leaves when a run ends early over an earlier run's pictures: exactly their
// names, the first few in `order` as `now`, every later one as `before`. "" or what differs;
// `taken` is how many are new.
std::string new_then_earlier(const picture_set& left, const std::vector<std::string>& order,
                             const picture_set& now, const picture_set& before,
                             std::size_t& taken) {
  if (left.size() != order.size()) {
    return std::to_string(left.size()) + " files for " + std::to_string(order.size());
  }
  taken = 0;
  while (taken < order.size() && left.count(order[taken]) != 0 &&
         left.at(order[taken]) == now.at(order[taken]) &&
         now.at(order[taken]) != before.at(order[taken])) {
    ++taken;
  }
  for (std::size_t k = taken; k < order.size(); ++k) {
    if (left.count(order[k]) == 0 || left.at(order[k]) != before.at(order[k])) {
      return order[k] + " is not as it was, after " + std::to_string(taken) + " new";
    }
  }
  return "";
}

// Each failure ends the run with its message and status 1; the picture it was writing is
// removed, and every picture before it is byte for byte that of an undisturbed run. Over an
// earlier run's pictures, with any number of writers, the pictures before the failing one are
// new and that one and every later one are as they were.
TEST(FailingDisks, EndTheRunAndKeepEveryEarlierPictureIntact) {
  const std::string full = "No space left on device";
  const std::string copy_earlier = "cp old/* bin/ &&";
  const disk_case cases[] = {
      {"a full device", "data/PICS", "ln -s /dev/full bin/PICS05.BMP;", "file write error![", 5,
       false, false, full},
      {"a file-size limit", "data/BFIL", "trap '' XFSZ; ulimit -f 3;", "file write error![", 1,
       false, false, "File too large"},
      {"a full file system", "-j 1 data/PICS data/GFIL", "", "file write error![", 10, true, false,
       full},
      {"over an earlier run", "-j 1 data/PICS data/GFIL", copy_earlier, "file write error![", 0,
       true, true, full},
      {"over an earlier run, 2 writers", "-j 2 data/PICS data/GFIL", copy_earlier,
       "file write error![", 0, true, true, full},
      {"over an earlier run, 8 writers", "-j 8 data/PICS data/GFIL", copy_earlier,
       "file write error![", 0, true, true, full},
  };
  for (const disk_case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.own_mount && shell("unshare -rm true >/dev/null 2>&1") != 0) {
      std::cout << "no private mount namespace here (unshare -rm): " << c.name << " skipped\n";
      continue;
    }
    tool_trees trees;
    trees.prepare(runner::native);
    const fs::path tree = trees.tree(runner::native);
    write_pair(tree / "data", "PICS", direct_sample(4, 4));
    write_pair(tree / "data", "BFIL", frame_bank_sample(3, 8, 60));
    write_pair(tree / "data", "GFIL", screen_bank_sample(1));
    ASSERT_EQ(trees.run(runner::native, std::string("-o intact ") + c.arguments).status, 0);
    const picture_set intact = trees.pictures(runner::native, "intact");
    const picture_set earlier = c.over_earlier ? earlier_versions(intact) : picture_set{};
    fs::create_directories(tree / "old");
    for (const auto& [name, bytes] : earlier) {
      write_file(tree / "old" / name, bytes);
    }
    tool_run result;
    if (c.own_mount) {
      // Inside the namespace, and copied out before the mount goes away with it: bin/ becomes
      // a file system of the program's size plus a page for each earlier picture and 16 more,
      // which hold about one screen beside them (the seventeenth small bitmap finds no room).
      const std::uintmax_t pages = (fs::file_size(OFB2BMP_EXE) + 4095) / 4096 + 16 + earlier.size();
      fs::create_directories(tree / "kept");
      shell("cd '" + tree.string() + "' && (unshare -rm sh -c 'mount -t tmpfs -o size=" +
            std::to_string(pages * 4) + "k tmpfs bin && cp \"" OFB2BMP_EXE "\" bin/ofb2bmp && " +
            c.before + " bin/ofb2bmp " + c.arguments +
            " 2>stderr </dev/null; echo $? >status; ls -a bin >names; cp bin/*.BMP kept/ " +
            "2>/dev/null; true') | cat >stdout");
      result = {std::stoi(read_text(tree / "status")), read_text(tree / "stdout"),
                read_text(tree / "stderr")};
      EXPECT_EQ(read_text(tree / "names").find(".part"), std::string::npos) << "a file left";
    } else {
      result = trees.run(runner::native, c.arguments, c.before);
    }
    const picture_set kept = trees.pictures(runner::native, c.own_mount ? "kept" : "bin");
    EXPECT_EQ(result.status, 1);
    const std::size_t at = result.output.find(c.message);
    ASSERT_NE(at, std::string::npos) << result.output;
    EXPECT_EQ(result.output.substr(result.output.size() - 2), "]\n") << "the last line";
    const std::string failed_path = result.output.substr(
        at + c.message.size(), result.output.size() - at - c.message.size() - 2);
    EXPECT_EQ(result.errors, "ofb2bmp: " + failed_path + ": " + c.reason + "\n");
    const std::string failed = fs::path(failed_path).filename();
    if (c.over_earlier) {
      std::vector<std::string> order; // PICS first, as given: by name, GFIL comes first
      for (const auto& entry : intact) {
        order.push_back(entry.first);
      }
      std::rotate(order.begin(),
                  std::find_if(order.begin(), order.end(),
                               [](const std::string& n) { return n.starts_with("PICS"); }),
                  order.end());
      std::size_t taken = 0;
      EXPECT_EQ(new_then_earlier(kept, order, intact, earlier, taken), "");
      ASSERT_LT(taken, order.size());
      EXPECT_EQ(order[taken], failed);
      continue;
    }
    EXPECT_EQ(kept.count(failed), 0u) << "the cut picture is removed";
    EXPECT_FALSE(fs::exists(fs::symlink_status(tree / "bin" / failed)));
    EXPECT_GE(kept.size(), c.at_least);
    EXPECT_LT(kept.size(), intact.size());
    for (const auto& [name, bytes] : kept) {
      ASSERT_EQ(intact.count(name), 1u) << name;
      EXPECT_EQ(bytes, intact.at(name)) << name;
    }
  }
}

TEST(ProgramFolder, BeyondTheSystemsPathLimitNothingIsWrittenElsewhere) {
  // 21 folders of 200 bytes: the program's own path is longer than the system will tell.
  tool_trees trees;
  trees.prepare(runner::native);
  const fs::path tree = trees.tree(runner::native);
  write_pair(tree / "data", "PICS", direct_sample(2, 2));
  const std::string component(200, 'd');
  std::string down, up;
  for (int i = 0; i < 20; ++i) {
    down += "mkdir " + component + " && cd " + component + " && ";
    up += "../";
  }
  EXPECT_EQ(shell("cd '" + tree.string() + "' && " + down + "mkdir " + component + " && cp \"" +
                  OFB2BMP_EXE "\" " + component + "/ofb2bmp && (" + component + "/ofb2bmp " + up +
                  "data/PICS </dev/null; echo $? >" + up + "status; " + component +
                  "/ofb2bmp </dev/null; echo $? >>" + up + "status) | cat >" + up + "stdout"),
            0);
  // With a name, and without one: the program's folder is settled before anyone is asked.
  EXPECT_EQ(read_text(tree / "status"), "1\n1\n");
  const std::string message = "file create error![" + component + "/ofb2bmp]\n";
  EXPECT_EQ(read_text(tree / "stdout"), message + message);
  EXPECT_EQ(shell("cd '" + tree.string() + "' && test -z \"$(find . -name '*.BMP')\""), 0)
      << "pictures written somewhere else";
  shell("rm -rf '" + (tree / component).string() + "'");
}

// Starts bin/ofb2bmp in `tree` with standard input from /dev/null, standard output and error on
// these descriptors (-1: /dev/null), and `signal_number` at its default as from a terminal, even
// where the tests run in background.
pid_t start_program(const fs::path& tree, std::vector<std::string> arguments, int out, int errors,
                    int signal_number) {
  std::vector<char*> argv{const_cast<char*>("bin/ofb2bmp")};
  for (std::string& argument : arguments) {
    argv.push_back(argument.data());
  }
  argv.push_back(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    const int null = open("/dev/null", O_RDWR);
    if (chdir(tree.c_str()) != 0 || null < 0) {
      _exit(99);
    }
    dup2(null, STDIN_FILENO);
    dup2(out < 0 ? null : out, STDOUT_FILENO);
    dup2(errors < 0 ? null : errors, STDERR_FILENO);
    signal(signal_number, SIG_DFL);
    execv(argv[0], argv.data());
    _exit(98);
  }
  return child;
}

// Sends the child `signal_number` (0: none) and waits for it. The status as a shell shows it:
// 128 + the signal when the signal ended the run.
int stop_program(pid_t child, int signal_number) {
  kill(child, signal_number);
  int status = 0;
  waitpid(child, &status, 0);
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

// Hundreds of pictures as bitmaps and PNG files, and new pairs, each run interrupted at many
// moments spread over it, every other time over an earlier run's files: every file left under
// its final name is the one an uninterrupted run writes, byte for byte, or the earlier one, the
// new ones before the earlier ones in the order written, and no .part file is left.
TEST(Interruptions, LeaveOnlyWholeFilesAndNoPartFiles) {
  tool_trees trees;
  trees.prepare(runner::native);
  const fs::path tree = trees.tree(runner::native);
  write_pair(tree / "data", "PICS", direct_sample(24, 16));
  write_pair(tree / "data", "BFIL", frame_bank_sample(6, 8, 60));
  write_pair(tree / "data", "GFIL", screen_bank_sample(1));
  const std::vector<std::vector<std::string>> runs = {
      {"-q", "-o", "out", "data/*"},
      {"-q", "-j", "8", "-f", "png", "-o", "out", "data/*"}, // eight files in progress at once
      {"-q", "--insert", "edits", "-o", "out", "data/*"},
  };
  std::vector<picture_set> whole;
  std::vector<std::chrono::microseconds> durations;
  for (const auto& arguments : runs) {
    // The shortest of three runs, so that later ones last at least as long.
    durations.push_back(std::chrono::hours(1));
    for (int again = 0; again < 3; ++again) {
      fs::remove_all(tree / "out");
      const auto start = std::chrono::steady_clock::now();
      ASSERT_EQ(stop_program(start_program(tree, arguments, -1, -1, 0), 0), 0);
      durations.back() =
          std::min(durations.back(), std::chrono::duration_cast<std::chrono::microseconds>(
                                         std::chrono::steady_clock::now() - start));
    }
    whole.push_back(files_in(tree / "out"));
    if (whole.size() == 1) { // edits for the insertion: a direct-colour frame and a screen
      fs::create_directories(tree / "edits");
      for (const char* name : {"PICS05.BMP", "GFIL003.BMP"}) {
        byte_vector picture = whole.front().at(name);
        picture[1100] = static_cast<std::uint8_t>((picture[1100] ^ 0x80) & 0xF8);
        write_file(tree / "edits" / name, picture);
      }
    }
  }
  ASSERT_EQ(whole[0].size(), 381u + 102u + 147u);
  ASSERT_EQ(whole[2].size(), 6u);
  int interrupted = 0;
  for (std::size_t run = 0; run < runs.size(); ++run) {
    const picture_set before = earlier_versions(whole[run]);
    std::vector<std::string> order; // the order written: the index files', then the names'
    for (const auto& entry : whole[run]) {
      order.push_back(entry.first);
    }
    constexpr int moments = 22;
    for (int moment = 0; moment < moments; ++moment) {
      // Mostly SIGINT; SIGTERM and SIGHUP once each, midway. Every other run replaces an
      // earlier run's files.
      const int signal_number = moment == 5 ? SIGTERM : moment == 15 ? SIGHUP : SIGINT;
      const bool over_earlier = moment % 2 == 1;
      fs::remove_all(tree / "out");
      fs::create_directories(tree / "out");
      for (const auto& [name, bytes] : over_earlier ? before : picture_set{}) {
        write_file(tree / "out" / name, bytes);
      }
      const auto start = std::chrono::steady_clock::now();
      const pid_t child = start_program(tree, runs[run], -1, -1, signal_number);
      std::this_thread::sleep_for(durations[run] * (2 * moment + 1) / (2 * moments));
      const int status = stop_program(child, signal_number);
      ASSERT_TRUE(status == 0 || status == 128 + signal_number) << status;
      interrupted += status != 0 ? 1 : 0;
      if (status == 0) { // the run was quicker than measured (less load): later moments follow
        durations[run] =
            std::min(durations[run], std::chrono::duration_cast<std::chrono::microseconds>(
                                         std::chrono::steady_clock::now() - start));
      }
      const picture_set left = files_in(tree / "out");
      for (const auto& [name, bytes] : left) {
        ASSERT_EQ(whole[run].count(name), 1u) << name << " left, run " << run << " at " << moment;
        ASSERT_TRUE(bytes == whole[run].at(name) || (over_earlier && bytes == before.at(name)))
            << name << " is not whole, run " << run << " at " << moment;
      }
      std::size_t taken = 0;
      if (over_earlier && run < 2) { // a new pair is one transaction of two renames
        ASSERT_EQ(new_then_earlier(left, order, whole[run], before, taken), "")
            << "run " << run << " at " << moment;
      }
    }
  }
  EXPECT_GE(interrupted, 50);
}

// Runs the program on data/PICS of `tree`, whose sixth picture's file is a FIFO that no one
// reads: the run waits there in the middle of its countdown until SIGINT ends it. On a terminal
// (a pseudo-terminal as standard output and error), or with standard output to a pipe and
// standard error to a file. On a terminal, the output is all it showed.
tool_run interrupt_the_countdown(const fs::path& tree, bool terminal) {
  int ends[2] = {-1, -1}; // ours to read, and the program's standard output
  if (mkfifo((tree / "bin" / "PICS05.BMP").c_str(), 0600) != 0 ||
      (terminal ? openpty(&ends[0], &ends[1], nullptr, nullptr, nullptr) : pipe(ends)) != 0) {
    return {-1, "", "no FIFO, pipe or pseudo-terminal"};
  }
  const int errors =
      terminal ? ends[1] : open((tree / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const pid_t child = start_program(tree, {"-j", "1", "data/PICS"}, ends[1], errors, SIGINT);
  close(ends[1]);
  if (!terminal) {
    close(errors);
  }
  std::string shown;
  char chunk[256];
  for (ssize_t got = 1; got > 0 && shown.find("375\r") == std::string::npos;) {
    got = read(ends[0], chunk, sizeof chunk);
    shown.append(chunk, static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
  }
  const int status = stop_program(child, SIGINT);
  for (ssize_t got = 0; (got = read(ends[0], chunk, sizeof chunk)) > 0;) {
    shown.append(chunk, static_cast<std::size_t>(got));
  }
  close(ends[0]);
  return {status, shown, terminal ? "" : read_text(tree / "stderr")};
}

// An interruption says so on standard error; on a terminal it first ends the countdown's line,
// elsewhere standard output keeps its bytes.
TEST(Interruptions, SayTheRunWasInterruptedAfterTheCountdownsLine) {
  for (const bool terminal : {false, true}) {
    tool_trees trees;
    trees.prepare(runner::native);
    const fs::path tree = trees.tree(runner::native);
    write_pair(tree / "data", "PICS", direct_sample(4, 4));
    const tool_run run = interrupt_the_countdown(tree, terminal);
    EXPECT_EQ(run.status, 130) << run.errors;
    if (terminal) { // the terminal turns each line end into CR LF
      EXPECT_TRUE(run.output.ends_with("376\r375\r\r\nofb2bmp: interrupted\r\n")) << run.output;
    } else {
      EXPECT_EQ(run.output, "data/PICS.OFB\n380\r379\r378\r377\r376\r375\r");
      EXPECT_EQ(run.errors, "ofb2bmp: interrupted\n");
    }
  }
}

} // namespace

// Allocations of this size or more fail while it is not 0.
static std::size_t failing_allocation_size = 0;

void* operator new(std::size_t size) {
  void* bytes = failing_allocation_size != 0 && size >= failing_allocation_size
                    ? nullptr
                    : std::malloc(size == 0 ? 1 : size);
  if (bytes == nullptr) {
    throw std::bad_alloc();
  }
  return bytes;
}

// Freed as allocated; the compiler cannot see that the replaced operator new used malloc.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* bytes) noexcept {
  std::free(bytes);
}

void operator delete(void* bytes, std::size_t) noexcept {
  std::free(bytes);
}
#pragma GCC diagnostic pop

namespace {

TEST(OutOfMemory, IsNamedAndEndsTheRunWithoutAPartialPair) {
  scratch_folder folder(fast_storage());
  const fs::path data = folder.path / "data";
  fs::create_directories(data);
  fs::create_directories(folder.path / "edits");
  write_pair(data, "GFIL", screen_bank_sample(1));
  extract_quietly(data / "GFIL.OFB", folder.path / "edits");
  std::string words[] = {
      "ofb2bmp",        "-q", "--insert", folder.path / "edits", "-o", folder.path / "out",
      data / "GFIL.OFB"};
  char* argv[std::size(words)];
  std::transform(std::begin(words), std::end(words), argv, [](std::string& w) { return w.data(); });
  testing::internal::CaptureStdout();
  failing_allocation_size = 64 << 10; // a screen read from its file
  const int status = run_ofb2bmp(static_cast<int>(std::size(argv)), argv);
  failing_allocation_size = 0;
  EXPECT_EQ(testing::internal::GetCapturedStdout(), text_of(text::out_of_memory));
  EXPECT_EQ(status, 1);
  EXPECT_EQ(files_in(folder.path / "out").size(), 0u) << "a partial pair left";
}

// A picture the reading thread found no memory for is read again by the thread that asks for
// it, which meets the failure itself, instead of taking it as a picture that cannot be read.
TEST(OutOfMemory, WhileReadingAheadIsMetByTheAskingThread) {
  scratch_folder folder(fast_storage());
  const std::string path = (folder.path / "GFIL000.BMP").string();
  write_file(path, bitmap_file(320, 240, byte_vector(320 * 240, 1), byte_vector(3 * 256, 2)));
  const read_ahead_threads ahead = start_read_ahead(1, pixel_buffer_size);
  failing_allocation_size = 64 << 10;
  read_ahead_of(*ahead, path);
  std::this_thread::sleep_for(std::chrono::milliseconds(100)); // mostly, the reader fails first
  picture_pixels picture;
  std::string why;
  EXPECT_THROW(read_picture_from(ahead.get(), path, pixel_buffer_size, picture, why),
               std::bad_alloc);
  failing_allocation_size = 0;
}

} // namespace
