// Without a name, the tool asks on the terminal: here a pseudo-terminal as standard input and
// standard error, and a plain file as standard output. Standard error on a terminal also gets
// a last line saying where the files went.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include "sample_writer.hpp"
#include "tool_runs.hpp"

namespace {

struct prompted_run {
  int status;
  std::string output;   // standard output
  std::string terminal; // the prompt, the echoed answers, the refusals
};

prompted_run run_with_terminal(const fs::path& tree, const std::string& answers,
                               const std::vector<std::string>& arguments = {}) {
  int terminal = -1;
  int child_side = -1;
  if (openpty(&terminal, &child_side, nullptr, nullptr, nullptr) != 0) {
    return {-1, "", "openpty failed"};
  }
  const pid_t child = fork();
  if (child == 0) {
    const int out = open((tree / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (chdir(tree.c_str()) != 0 || out < 0) {
      _exit(99);
    }
    dup2(child_side, STDIN_FILENO);
    dup2(child_side, STDERR_FILENO);
    dup2(out, STDOUT_FILENO);
    close(terminal);
    std::vector<char*> argv{const_cast<char*>("ofb2bmp")};
    for (const std::string& argument : arguments) {
      argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    execv("bin/ofb2bmp", argv.data());
    _exit(98);
  }
  close(child_side);
  if (write(terminal, answers.data(), answers.size()) < 0) {
    return {-1, "", "write failed"};
  }
  std::string shown;
  char chunk[4096];
  for (ssize_t got = 0; (got = read(terminal, chunk, sizeof chunk)) > 0;) { // until the child ends
    shown.append(chunk, static_cast<std::size_t>(got));
  }
  int status = 0;
  waitpid(child, &status, 0);
  close(terminal);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_text(tree / "stdout"), shown};
}

struct prompt_case {
  const char* answers;
  int status;
  std::string output;
};

TEST(Prompt, AsksUntilTheFolderExistsAndCancelsOnAnEmptyLineOrTheEnd) {
  tool_trees trees;
  trees.prepare(runner::native);
  const fs::path tree = trees.tree(runner::native);
  write_pair(tree / "data", "BFIL", frame_bank_sample(1, 2, 2));
  const prompt_case cases[] = {{"nosuch/BFIL\ndata/BFIL\n", 0, "data/BFIL.OFB\n" + walk_text(16)},
                               {"data/NONE.OFB\n", 1, ""},
                               {"\n", 1, ""},
                               {"\x04", 1, ""},
                               {"nosuch/X\n\x04", 1, ""}};
  for (const prompt_case& c : cases) {
    const prompted_run run = run_with_terminal(tree, c.answers);
    EXPECT_EQ(run.status, c.status) << c.answers;
    EXPECT_EQ(run.output, c.output) << c.answers << ": the prompt never reaches stdout";
  }
  const prompted_run run = run_with_terminal(tree, "nosuch/BFIL\ndata/BFIL\n");
  // What is asked for, in plain words: any of the three kinds.
  EXPECT_NE(run.terminal.find("Name an index file (NAME.OFB of 136, 1,176 or 3,048 bytes)"),
            std::string::npos)
      << run.terminal;
  EXPECT_NE(run.terminal.find("No such folder: nosuch/"), std::string::npos);
  EXPECT_TRUE(fs::exists(tree / "bin" / "BFIL010.BMP"));
}

// The last line names the folder from the root, and the gallery's page; none with -q, for a
// listing or a preview, which write nothing.
TEST(Terminal, ALastLineSaysWhereTheFilesWent) {
  tool_trees trees;
  trees.prepare(runner::native);
  const fs::path tree = fs::canonical(trees.tree(runner::native));
  write_pair(tree / "data", "BFIL", frame_bank_sample(1, 2, 2));
  const std::string root = tree.string() + "/";
  const struct {
    std::vector<std::string> arguments;
    std::string last_line; // empty: no line says where
  } cases[] = {
      {{"data/BFIL"}, "ofb2bmp: 17 pictures saved in " + root + "bin/"},
      {{"-o", "out", "data/BFIL"}, "ofb2bmp: 17 pictures saved in " + root + "out/"},
      {{"--gallery", "-o", "out/", "--only", "BFIL00?", "data/BFIL"},
       "ofb2bmp: 16 pictures saved in " + root + "out/, shown in " + root + "out/index.html"},
      {{"--insert", "out", "-o", "pairs", "data/BFIL"},
       "ofb2bmp: 1 new pair written in " + root + "pairs/"},
      {{"-q", "-o", "out", "data/BFIL"}, ""},
      {{"-l", "data/BFIL"}, ""},
      {{"-l", "--insert", "out", "data/BFIL"}, ""},
  };
  for (const auto& c : cases) {
    const prompted_run run = run_with_terminal(tree, "", c.arguments);
    EXPECT_EQ(run.status, 0) << c.arguments.front();
    if (c.last_line.empty()) {
      EXPECT_EQ(run.terminal.find(" in /"), std::string::npos) << run.terminal;
    } else { // the terminal turns the line end into CR LF
      EXPECT_TRUE(run.terminal.ends_with(c.last_line + "\r\n")) << run.terminal;
    }
  }
}

} // namespace
