// write_baseline <list> <folder> [file...]: for each "size name" line of the list, creates
// folder/name and writes `size` bytes into it with one write. The floor that the extractor is
// timed against. Files named after the folder are read through first, in 512 KiB pieces: with
// the archives named there, it shows how much of the extractor's time reading alone explains.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: write_baseline <list> <folder> [file...]\n");
    return 1;
  }
  std::vector<char> piece(0x80000);
  for (int i = 3; i < argc; ++i) {
    const int file = open(argv[i], O_RDONLY);
    while (file >= 0 && read(file, piece.data(), piece.size()) > 0) {
    }
    if (file < 0 || close(file) != 0) {
      std::perror(argv[i]);
      return 1;
    }
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
