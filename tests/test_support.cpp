#include "test_support.hpp"

#include <sys/resource.h>
#include <sys/wait.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

#include "archive/record_writing.hpp"
#include "driver/driver.hpp"

namespace {

// No test writes a file over 1 GiB: a writer caught in a loop (a fault under test) ends its
// process with SIGXFSZ instead of filling memory-backed storage. The programs the tests start
// inherit the limit.
const bool file_size_limited = [] {
  rlimit limit{};
  getrlimit(RLIMIT_FSIZE, &limit);
  limit.rlim_cur = std::min<rlim_t>(limit.rlim_cur, rlim_t{1} << 30);
  return setrlimit(RLIMIT_FSIZE, &limit) == 0;
}();

} // namespace

scratch_folder::scratch_folder(const fs::path& base) {
  std::random_device seed;
  do {
    path = base / ("ofb2bmp-test-" + std::to_string(seed()));
  } while (!fs::create_directory(path));
}

scratch_folder::~scratch_folder() {
  std::error_code ignored;
  fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(path, ignored);
}

fs::path fast_storage() {
  return fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
}

// One read of the whole file: a byte at a time through a stream buffer is slow under the
// sanitizers, and the fuzz targets' oracles read every picture written.
byte_vector read_whole_file(const fs::path& path) {
  std::error_code not_regular;
  if (!fs::is_regular_file(path, not_regular)) { // a device or a folder: what a read gives
    std::ifstream stream(path, std::ios::binary);
    return byte_vector(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
  }
  std::ifstream file(path, std::ios::binary | std::ios::ate);
  byte_vector bytes(file ? static_cast<std::size_t>(file.tellg()) : 0);
  file.seekg(0);
  file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<std::size_t>(file.gcount()));
  return bytes;
}

std::string read_text(const fs::path& path) {
  const byte_vector bytes = read_whole_file(path);
  return std::string(bytes.begin(), bytes.end());
}

std::uint32_t le32(const byte_vector& bytes, std::size_t at) {
  return bytes.at(at) | bytes.at(at + 1) << 8 | bytes.at(at + 2) << 16 |
         static_cast<std::uint32_t>(bytes.at(at + 3)) << 24;
}

int shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string countdown(int from) {
  std::string text;
  for (int n = from; n >= 0; --n) {
    char step[16];
    std::snprintf(step, sizeof step, "%3d\r", n);
    text += step;
  }
  return text;
}

std::string walk_text(int from) {
  return countdown(from) + "\ncompleted.\n";
}

test_state::test_state(const fs::path& folder) {
  allocate_working_buffers(state);
  state.files.folder = folder.string() + "/";
  state.console = open_memstream(&console_bytes, &console_size);
}

test_state::~test_state() {
  std::fclose(state.console);
  std::free(console_bytes);
}

std::string test_state::console_text() {
  std::fflush(state.console);
  return std::string(console_bytes, console_size);
}

std::string extract_quietly(const fs::path& index, const fs::path& folder, output_format format,
                            bool* incomplete) {
  test_state run(folder);
  run.state.files.format = format;
  run.state.quiet = true;
  process_index_file(run.state, index.string(), index.filename().string());
  if (incomplete != nullptr) {
    *incomplete = run.state.incomplete;
  }
  return run.console_text();
}

std::map<std::string, byte_vector> files_in(const fs::path& folder) {
  std::map<std::string, byte_vector> files;
  for (const auto& entry : fs::directory_iterator(folder)) {
    files[entry.path().filename().string()] = read_whole_file(entry.path());
  }
  return files;
}

byte_vector rgb_of(const colour_words& words) {
  byte_vector rgb;
  for (const std::uint16_t word : words) {
    for (const int shift : {0, 5, 10}) {
      rgb.push_back(static_cast<std::uint8_t>((word >> shift & 0x1F) << 3));
    }
  }
  return rgb;
}

colour_words words_of(const std::uint8_t* bytes, std::size_t count) {
  colour_words words(count);
  for (std::size_t i = 0; i < count; ++i) {
    words[i] = static_cast<std::uint16_t>(u16be(bytes + 2 * i));
  }
  return words;
}

byte_vector bitmap_of(std::uint32_t header_size, std::int32_t width, std::int32_t height, int bits,
                      const byte_vector& table, const byte_vector& rows) {
  byte_vector file(14 + header_size, 0);
  file.insert(file.end(), table.begin(), table.end());
  file.insert(file.end(), rows.begin(), rows.end());
  for (const auto& [at, value] : {std::pair<std::size_t, std::uint32_t>{2, file.size()},
                                  {10, 14 + header_size + table.size()},
                                  {14, header_size},
                                  {18, width},
                                  {22, height},
                                  {26, 1 | bits << 16},
                                  {46, table.size() / 4}}) {
    for (int i = 0; i < 4; ++i) {
      file[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
  }
  file[0] = 'B';
  file[1] = 'M';
  return file;
}

byte_vector bitmap_file(int width, int height, const byte_vector& pixels,
                        const byte_vector& colours) {
  const int bytes_per_pixel = colours.empty() ? 3 : 1;
  const std::size_t row = static_cast<std::size_t>(width * bytes_per_pixel);
  const std::size_t padded = (row + 3) / 4 * 4;
  byte_vector table;
  for (std::size_t i = 0; i + 2 < colours.size(); i += 3) {
    table.insert(table.end(), {colours[i + 2], colours[i + 1], colours[i], 0});
  }
  byte_vector rows(padded * static_cast<std::size_t>(height), 0);
  for (int y = 0; y < height; ++y) {
    for (std::size_t x = 0; x < row; ++x) {
      const std::size_t from = static_cast<std::size_t>(y) * row + x;
      // 24-bit pixels are given red, green, blue; the file holds blue, green, red.
      rows[static_cast<std::size_t>(height - 1 - y) * padded + x] =
          bytes_per_pixel == 1 ? pixels[from] : pixels[from - x % 3 + 2 - x % 3];
    }
  }
  return bitmap_of(40, width, height, 8 * bytes_per_pixel, table, rows);
}

byte_vector png_of(const std::vector<png_chunk>& chunks) {
  byte_vector file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  for (const auto& [type, data] : chunks) {
    append_u32be(file, static_cast<std::uint32_t>(data.size()));
    file.insert(file.end(), type.begin(), type.end());
    file.insert(file.end(), data.begin(), data.end());
    append_u32be(file, crc32(0, &file[file.size() - data.size() - 4], uInt(data.size() + 4)));
  }
  return file;
}

png_chunk deflated(const byte_vector& rows) {
  uLongf size = compressBound(static_cast<uLong>(rows.size()));
  byte_vector data(size);
  compress(data.data(), &size, rows.data(), static_cast<uLong>(rows.size()));
  data.resize(size);
  return {"IDAT", data};
}
