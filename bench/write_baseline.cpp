// write_baseline <list> <folder>: for each "size name" line of the list, creates folder/name
// and writes `size` bytes into it with one write. The floor that the extractor is timed against.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: write_baseline <list> <folder>\n");
    return 1;
  }
  std::ifstream list(argv[1]);
  const std::string folder = std::string(argv[2]) + "/";
  std::vector<char> bytes;
  std::size_t size = 0;
  std::string name;
  while (list >> size >> name) {
    if (bytes.size() < size) {
      bytes.resize(size, 'x');
    }
    const int file = open((folder + name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (file < 0 || write(file, bytes.data(), size) != static_cast<ssize_t>(size) ||
        close(file) != 0) {
      std::perror(name.c_str());
      return 1;
    }
  }
  return 0;
}
