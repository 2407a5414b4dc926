#include "fuzz_support.hpp"

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::string scratch_folder() {
  static const std::string folder = [] {
    const char* base = std::getenv("OFB2BMP_FUZZ_SCRATCH");
    std::string path = std::string(base != nullptr ? base : "/dev/shm") + "/ofb2bmp-fuzz-" +
                       std::to_string(getpid());
    std::string command = "mkdir -p '" + path + "'";
    require(std::system(command.c_str()) == 0, "cannot create the scratch folder");
    return path + "/";
  }();
  static const bool removed_at_exit = std::atexit([] { rmdir(scratch_folder().c_str()); }) == 0;
  (void)removed_at_exit;
  return folder;
}

std::uint32_t le32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
         static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

// The two headers of a bitmap and the file's size; the pixels are not read, to keep it fast.
struct bitmap_head {
  std::vector<std::uint8_t> bytes;
  std::uint64_t file_size;
};

bitmap_head read_head(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  require(file != nullptr, "cannot read back a bitmap");
  bitmap_head head{std::vector<std::uint8_t>(54), 0};
  head.bytes.resize(std::fread(head.bytes.data(), 1, head.bytes.size(), file));
  std::fseek(file, 0, SEEK_END);
  head.file_size = static_cast<std::uint64_t>(std::ftell(file));
  std::fclose(file);
  return head;
}

// A bitmap as the writers make it: both headers, sizes that agree with each other and the file.
void check_bitmap(const bitmap_head& head) {
  const std::vector<std::uint8_t>& bytes = head.bytes;
  require(bytes.size() == 54 && bytes[0] == 'B' && bytes[1] == 'M', "bitmap without its header");
  require(le32(bytes, 2) == head.file_size, "bitmap file size field is wrong");
  const std::uint32_t width = le32(bytes, 18);
  const std::uint32_t height = le32(bytes, 22);
  const std::uint32_t bits = bytes[28];
  require(bits == 8 || bits == 24, "bitmap of an unknown depth");
  const std::uint64_t row = (std::uint64_t{width} * (bits / 8) + 3) / 4 * 4;
  require(le32(bytes, 10) + row * height == head.file_size, "bitmap pixel area has the wrong size");
  require(std::uint64_t{width} * height * (bits / 8) <= pixel_buffer_size,
          "bitmap larger than pixel_buffer");
}

} // namespace

void require(bool holds, const char* what) {
  if (!holds) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
  }
}

fuzz_state::fuzz_state() {
  require(allocate_working_buffers(state), "out of memory");
  state.program_folder = scratch_folder();
  state.output_folder = state.program_folder;
  state.console = open_memstream(&console_bytes, &console_size);
  require(state.console != nullptr, "no console stream");
}

fuzz_state::~fuzz_state() {
  std::fclose(state.console);
  std::free(console_bytes);
}

void fuzz_state::start_input() {
  std::fclose(state.console);
  std::free(console_bytes);
  console_bytes = nullptr;
  state.console = open_memstream(&console_bytes, &console_size);
  require(state.console != nullptr, "no console stream");
  state.incomplete = false;
}

void fuzz_state::hold_record(const std::uint8_t* bytes, std::size_t size) {
  // Exactly the record's size, so a read past it is caught; from malloc, as the state frees it.
  state.record_buffer.reset(static_cast<std::uint8_t*>(std::malloc(size == 0 ? 1 : size)));
  if (size != 0) {
    std::memcpy(state.record_buffer.get(), bytes, size);
  }
  state.record_size = size;
}

std::string fuzz_state::console_text() {
  std::fflush(state.console);
  return std::string(console_bytes, console_size);
}

std::size_t check_and_clear_bitmaps(const extraction_state& state) {
  std::size_t count = 0;
  DIR* folder = opendir(state.program_folder.c_str());
  require(folder != nullptr, "scratch folder is gone");
  while (const dirent* entry = readdir(folder)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") {
      continue;
    }
    const std::string path = state.program_folder + name;
    check_bitmap(read_head(path));
    std::remove(path.c_str());
    ++count;
  }
  closedir(folder);
  return count;
}
