// Without a name, the tool asks on the terminal. These tests give it a pseudo-terminal as
// standard input and standard error, and a plain file as standard output.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include "sample_writer.hpp"
#include "test_support.hpp"

namespace fs = std::filesystem;

namespace {

struct prompted_run {
  int status;
  std::string output;   // standard output
  std::string terminal; // what the terminal showed: the prompt, echoed answers, refusals
};

prompted_run run_with_terminal(const fs::path& folder, const std::string& answers) {
  int master = -1;
  int slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
    return {-1, "", "openpty failed"};
  }
  const fs::path output = folder / "stdout";
  const pid_t child = fork();
  if (child == 0) {
    const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (chdir(folder.c_str()) != 0 || out < 0) {
      _exit(99);
    }
    dup2(slave, STDIN_FILENO);
    dup2(slave, STDERR_FILENO);
    dup2(out, STDOUT_FILENO);
    close(master);
    execl("bin/ofb2bmp", "ofb2bmp", static_cast<char*>(nullptr));
    _exit(98);
  }
  close(slave);
  if (!answers.empty() && write(master, answers.data(), answers.size()) < 0) {
    return {-1, "", "write failed"};
  }
  std::string terminal;
  char chunk[4096];
  ssize_t got = 0;
  while ((got = read(master, chunk, sizeof chunk)) > 0) { // ends when the child has closed it
    terminal.append(chunk, static_cast<std::size_t>(got));
  }
  int status = 0;
  waitpid(child, &status, 0);
  close(master);
  const byte_vector bytes = read_whole_file(output);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, std::string(bytes.begin(), bytes.end()),
          terminal};
}

class Prompt : public ::testing::Test {
protected:
  scratch_folder folder;

  void SetUp() override {
    fs::create_directories(folder.path / "bin");
    fs::create_directories(folder.path / "data");
    fs::copy_file(OFB2BMP_EXE, folder.path / "bin" / "ofb2bmp");
    write_pair(folder.path / "data", "BFIL", frame_bank_sample(1, 2, 2));
  }
};

TEST_F(Prompt, AsksAgainUntilTheFolderExistsThenExtracts) {
  const prompted_run run = run_with_terminal(folder.path, "nosuch/BFIL\ndata/BFIL\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, "data/BFIL.OFB\n" + walk_text(16)) << "the prompt never reaches stdout";
  EXPECT_NE(run.terminal.find("\xEF\xBC\xAF\xEF\xBC\xB2\xEF\xBC\xB6\xEF\xBC\xA1"),
            std::string::npos)
      << "the filter's description, converted to UTF-8: " << run.terminal;
  EXPECT_NE(run.terminal.find("(BFIL.OFB;GFIL.OFB)"), std::string::npos);
  EXPECT_NE(run.terminal.find("No such folder: nosuch/"), std::string::npos);
  EXPECT_TRUE(fs::exists(folder.path / "bin" / "BFIL000.BMP"));
}

TEST_F(Prompt, AnEmptyLineOrTheEndOfInputCancels) {
  for (const std::string answers : {"\n", "\x04", "nosuch/X\n\x04"}) {
    const prompted_run run = run_with_terminal(folder.path, answers);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, "");
  }
}

TEST_F(Prompt, ANameThatMatchesNothingEndsQuietly) {
  const prompted_run run = run_with_terminal(folder.path, "data/NONE.OFB\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, "");
}

} // namespace
