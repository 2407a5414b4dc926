#include "driver/driver.hpp"

#include <cstdio>
#include <filesystem>

#include "archive/archive.hpp"
#include "driver/platform.hpp"
#include "driver/texts.hpp"

namespace {

constexpr char usage_text[] =
    "usage: ofb2bmp [INDEX.OFB | PATTERN]...\n"
    "Writes every picture of an index file (.OFB) and its archive (.BIN) as a bitmap (.BMP)\n"
    "into the folder that holds ofb2bmp itself. Wildcards (* and ?) in the last part of a\n"
    "name select several index files; any extension of the name is replaced by .OFB.\n"
    "Without a name, asks for one. Exit status: 0 when every bitmap was written, 1 otherwise.\n";

bool is_help_option(const std::string& argument) {
#ifdef _WIN32
  if (argument == "/?") {
    return true;
  }
#endif
  return argument == "-h" || argument == "--help";
}

// Names the same index file the same way however it was spelled.
std::string identity_of(const std::string& path) {
  try {
    std::error_code ignored;
    const std::filesystem::path canonical = std::filesystem::weakly_canonical(path, ignored);
    return canonical.empty() ? path : canonical.string();
  } catch (...) {
    return path;
  }
}

std::int64_t read_index_file(extraction_state& state, const std::string& index_path) {
  std::FILE* index = std::fopen(index_path.c_str(), "rb");
  if (index == nullptr) {
    throw fatal_error{format_message("file open error![%s]\n", index_path)};
  }
#ifdef _WIN32
  _fseeki64(index, 0, SEEK_END);
  const std::int64_t size = _ftelli64(index);
#else
  fseeko(index, 0, SEEK_END);
  const std::int64_t size = ftello(index);
#endif
  std::rewind(index);
  if (size > 0) {
    std::fread(state.index_buffer.get(), 1,
               std::min<std::uint64_t>(static_cast<std::uint64_t>(size), index_buffer_size), index);
  }
  std::fclose(index);
  return size;
}

} // namespace

void process_index_file(extraction_state& state, const std::string& index_path,
                        const std::string& file_name) {
  const path_syntax& syntax = native_path_syntax();
  say(state, index_path + "\n");
  const std::int64_t index_size = read_index_file(state, index_path);

  // The archive is needed even when the index is of no known size.
  const std::string archive_path = paired_file_name(archive_name(index_path, syntax));
  state.archive_stream = std::fopen(archive_path.c_str(), "rb");
  if (state.archive_stream == nullptr) {
    throw fatal_error{format_message("file open error![%s]\n", archive_path)};
  }
  // Records are read whole after a seek: a stream buffer would only add a read call and a copy.
  std::setvbuf(state.archive_stream, nullptr, _IONBF, 0);
  state.archive_path = archive_path;
  extract_pair(state, base_name(file_name, syntax), index_size);
  std::fclose(state.archive_stream);
  state.archive_stream = nullptr;
}

void process_input(extraction_state& state, const std::string& input, std::set<std::string>& done) {
  const path_syntax& syntax = native_path_syntax();
  const std::string prefix = folder_prefix(input, syntax);
  for (const folder_entry& entry : find_matching_entries(search_pattern(input, syntax))) {
    const std::string index_path = prefix + entry.name;
    if (entry.is_folder || !done.insert(identity_of(index_path)).second) {
      continue;
    }
    process_index_file(state, index_path, entry.name);
  }
}

int run_ofb2bmp(int argc, char** argv) {
  std::vector<std::string> inputs = input_arguments(argc, argv);
  if (!inputs.empty() && is_help_option(inputs.front())) {
    std::fputs(usage_text, stdout);
    return 0;
  }
  if (!inputs.empty() && inputs.front() == "--version") {
    std::fputs("ofb2bmp " OFB2BMP_VERSION "\n", stdout);
    return 0;
  }
  if (inputs.empty()) {
    std::string chosen;
    if (!ask_for_input_path(chosen)) {
      return 1;
    }
    inputs.push_back(chosen);
  }

  extraction_state state;
  const std::string program_path = program_file_path();
  if (program_path.empty()) {
    // Without the program's own folder the bitmaps would land in the current one instead.
    std::fputs(format_message("file create error![%s]\n", argc > 0 ? argv[0] : "ofb2bmp").c_str(),
               stdout);
    return 1;
  }
  state.program_folder = folder_prefix(program_path, native_path_syntax());
  if (!allocate_working_buffers(state)) {
    std::fputs(out_of_memory_message, stdout);
    return 1;
  }
  std::set<std::string> done;
  try {
    for (const std::string& input : inputs) {
      process_input(state, input, done);
    }
  } catch (const fatal_error& failure) {
    if (state.archive_stream != nullptr) {
      std::fclose(state.archive_stream);
    }
    say(state, failure.message);
    return 1;
  }
  return state.incomplete ? 1 : 0;
}
