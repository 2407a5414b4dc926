#include <gtest/gtest.h>
#include <sys/stat.h>

#include "common/files_in_progress.hpp"
#include "pictures/bitmap_writers.hpp"
#include "pictures/colour_expansion.hpp"
#include "pictures/output_file.hpp"
#include "pictures/picture_names.hpp"
#include "test_support.hpp"

namespace {

struct suffix_case {
  std::int32_t counter;
  const char* direct;
  const char* indexed;
};

TEST(BitmapNames, SuffixesFollowTheDigitRuleAndGrowPastZ) {
  const suffix_case cases[] = {{0, "00", "000"},
                               {10, "0A", "00A"},
                               {16, "10", "010"},
                               {26, "1A", "01A"},
                               {169, "A9", "0A9"},
                               {255, "FF", "0FF"},
                               {256, "G0", "100"},
                               {380, "NC", "17C"},
                               {35 * 16 + 15, "ZF", "23F"},
                               {36 * 16, "100", "240"},
                               {35 * 256 + 255, "FZF", "ZFF"},
                               {36 * 256, "G00", "1000"},
                               {9'633'645, "CWL2D", "T1B6D"}};
  for (const suffix_case& c : cases) {
    EXPECT_EQ(direct_suffix(c.counter), c.direct) << c.counter;
    EXPECT_EQ(indexed_suffix(c.counter), c.indexed) << c.counter;
  }
}

// Every path must give what the word-by-word path gives for every count around the vector
// widths, and write nothing past the last pixel. (What the paths give is checked against words
// turned into bytes by the tests themselves, through the writers, in the picture reader test.)
TEST(ColourWords, EveryPathMatchesTheWordByWordPathAtEveryCount) {
  for (std::size_t count = 0; count <= 70; ++count) {
    byte_vector words(2 * count);
    for (std::size_t i = 0; i < words.size(); ++i) {
      words[i] = static_cast<std::uint8_t>(i * 151 + (i >> 5) + count);
    }
    for (const channel_order order :
         {channel_order::blue_green_red, channel_order::red_green_blue}) {
      byte_vector expected(3 * count + 16, 0xEE);
      expand_colour_words(words.data(), count, expected.data(), order, expansion_path::scalar);
      for (const expansion_path path : {expansion_path::sse2, expansion_path::avx2}) {
        if (!expansion_path_available(path)) {
          continue;
        }
        byte_vector pixels(3 * count + 16, 0xEE);
        expand_colour_words(words.data(), count, pixels.data(), order, path);
        EXPECT_EQ(pixels, expected) << count << " pixels, path " << static_cast<int>(path);
      }
    }
  }
}

// A picture's file takes the mode any new file of the user's takes, written anew or over an
// earlier one.
TEST(OutputFile, TakesTheUsualModeNewOrReplacing) {
  scratch_folder folder;
  const std::string path = (folder.path / "P00.BMP").string();
  const mode_t mask = umask(022);
  for (int again = 0; again < 2; ++again) {
    picture_output output;
    ASSERT_TRUE(open_output(output, path, text::file_create_error, false));
    EXPECT_EQ(output.replacing, again == 1);
    close_output(output, path);
    struct stat status {};
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0644u);
  }
  umask(mask);
  EXPECT_FALSE(fs::exists(path + ".part"));
}

// Each file being written has a slot of its own (the new pair's two, the main thread's picture
// and each writer thread's): an interruption removes every path still noted, once.
TEST(FilesInProgress, EachSlotKeepsItsOwnPathUntilItEnds) {
  static std::multiset<std::string> removed;
  EXPECT_EXIT(
      {
        note_written_ahead(nullptr);
        std::multiset<std::string> noted = {"archive"};
        begin_writing(file_slot::new_index, "index");
        begin_writing(file_slot::new_archive, "archive");
        end_writing(file_slot::new_index);
        for (int writer = 0; writer <= most_picture_writers; ++writer) {
          begin_writing(file_slot::picture, std::to_string(writer), writer);
          const bool created = writer != 1; // writer 1 finds the name taken
          file_created(file_slot::picture, writer, created);
          if (created) {
            noted.insert(std::to_string(writer));
          }
        }
        remove_files_being_written([](const char* path) { removed.insert(path); });
        std::_Exit(removed == noted ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

// A failure that shows only when the file is closed (the system kept the bytes and finds no
// room for them then) is a write failure: the file is removed and the run ends with its name.
TEST(OutputFile, AFailureAtCloseIsAWriteFailure) {
  scratch_folder folder;
  const std::string path = (folder.path / "P00.BMP").string();
  for (const int close_result : {0, -1}) {
    write_file(path, {'B', 'M'});
    const cookie_io_functions_t closing_fails = {
        nullptr, [](void*, const char*, std::size_t size) { return ssize_t(size); }, nullptr,
        [](void* result) { return *static_cast<const int*>(result); }};
    int result = close_result;
    picture_output output;
    output.stream = fopencookie(&result, "wb", closing_fails);
    std::fputs("pixels", output.stream); // held in the stream's buffer
    try {
      close_output(output, path);
      EXPECT_EQ(close_result, 0);
      EXPECT_TRUE(fs::exists(path));
    } catch (const fatal_error& failure) {
      EXPECT_EQ(close_result, -1);
      EXPECT_EQ(failure.message, text::file_write_error);
      EXPECT_EQ(failure.name, path);
      EXPECT_FALSE(fs::exists(path));
    }
    EXPECT_EQ(output.stream, nullptr);
  }
}

} // namespace
