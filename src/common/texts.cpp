#include "common/texts.hpp"

#include <iterator>
#include <vector>

namespace {

using enum text_arguments;

// In the order of `text`.
constexpr text_format formats[] = {
    {"%s\n", name},
    {"%3d\r", number},
    {"\ncompleted.\n", none},
    {"file open error![%s]\n", name},
    {"file create error![%s]\n", name},
    {"file create errror.[%s]\n", name},
    {"file write error![%s]\n", name},
    {"broken frame![%s]\n", name},
    {"broken record![%s:%d]\n", name_and_number},
    // "メモリが足りません。" and a newline.
    {"\x83\x81\x83\x82\x83\x8A\x82\xAA\x91\xAB\x82\xE8\x82\xDC\x82\xB9\x82\xF1\x81\x42\n", none},
    {"usage: ofb2bmp [OPTION]... [INDEX.OFB | PATTERN | IMAGE]...\n"
     "Saves every picture of an index file (.OFB) and its archive (.BIN) as a bitmap (.BMP).\n"
     "Wildcards (* and ?) in the last part of a name select several index files; any\n"
     "extension of a name is replaced by .OFB. A disc image (.cue sheet, .iso, raw .bin)\n"
     "named where no index file is found gives every pair on it. Without a name, asks for one.\n"
     "%s\n"
     "\n"
     "  -o, --output-dir=DIR  save the pictures in DIR, created when missing\n"
     "  -f, --format=FORMAT   bmp (the default) or png\n"
     "  -l, --list            list the pictures as a table instead of saving them\n"
     "  -q, --quiet           print no progress, only messages\n"
     "  -n, --no-clobber      write no file that exists already\n"
     "  -j, --jobs=N          write pictures on N threads (1 to 64; default: one for each\n"
     "                        processor); files and console are the same for every N\n"
     "      --only=SELECTION  take only these pictures: names as --list shows them (* and ?\n"
     "                        as wildcards, extension optional) or entry:FIRST-LAST, N, N-;\n"
     "                        items separated by commas; names stay those of a full run\n"
     "      --gallery         also write index.html beside the pictures: every picture as\n"
     "                        a thumbnail, broken ones named (not with --list)\n"
     "      --insert=DIR      put the pictures in DIR (edited copies of extracted ones) back:\n"
     "                        writes a new index file and archive into the -o folder;\n"
     "                        with --list, only lists what would become of each file\n"
     "      --nearest         with --insert: new colours beyond a record's free palette\n"
     "                        slots take the nearest colour of its palette, not refused\n"
     "  -h, --help            show this help and end\n"
     "      --version         show the version and end\n"
     "\n"
     "Exit status: 0 when every picture was saved, 1 otherwise, 2 for a wrong option;\n"
     "130, 143 or 129 when interrupted by SIGINT (Ctrl-C), SIGTERM or SIGHUP (on Windows,\n"
     "0xC000013A for Ctrl-C, Ctrl-Break or the console closed).\n",
     name},
    {"ofb2bmp %s\n", name},
    {"index\tname\tentry\tframe\twidth\theight\tkind\tstatus\n", none},
    {"%s\n", name},
    {"ofb2bmp: unrecognized option '%s'\nTry 'ofb2bmp --help' for more information.\n", name},
    {"ofb2bmp: option '%s' requires a value\nTry 'ofb2bmp --help' for more information.\n", name},
    {"ofb2bmp: option '%s' takes no value\nTry 'ofb2bmp --help' for more information.\n", name},
    {"ofb2bmp: unknown format '%s' (bmp or png)\nTry 'ofb2bmp --help' for more information.\n",
     name},
    {"ofb2bmp: option '--insert' requires '--output-dir'\n"
     "Try 'ofb2bmp --help' for more information.\n",
     none},
    {"ofb2bmp: option '--insert' cannot be combined with '%s'\n"
     "Try 'ofb2bmp --help' for more information.\n",
     name},
    {"ofb2bmp: the new pair would replace its own input '%s'; choose another output folder\n",
     name},
    {"insert error![%s]\n", name},
    {"%s replaced (%d with colours rounded down)\n", name_and_number},
    {"index\tname\tentry\tframe\tresult\trounded\tslots\tsize\tmoved\tdistance\treason\n", none},
    {"ofb2bmp: %s: not used: it names no picture of the index files given\n", name},
    {"%s moved to a nearest colour\n", name},
    {"ofb2bmp: %s: size changed\n", name},
    {"ofb2bmp: option '--nearest' requires '--insert'\n"
     "Try 'ofb2bmp --help' for more information.\n",
     none},
    // Standard error: why a run did less than asked.
    {"ofb2bmp: %s: no index file found\n", name},
    {"ofb2bmp: %s: a folder, not an index file\n", name},
    {"ofb2bmp: %s\n", name},
    {"ofb2bmp: %s is not the size of an index file (136, 1176 or 3048)\n", name},
    {"ofb2bmp: kept %s that already existed (--no-clobber)\n", name},
    {"ofb2bmp: option '%s' requires a non-empty value\n"
     "Try 'ofb2bmp --help' for more information.\n",
     name},
    {"ofb2bmp: invalid number of jobs '%s' (1 to 64)\n"
     "Try 'ofb2bmp --help' for more information.\n",
     name},
    {"ofb2bmp: invalid selection '%s' (a picture name, or entry:FIRST-LAST)\n"
     "Try 'ofb2bmp --help' for more information.\n",
     name},
    {"ofb2bmp: --only %s: no picture selected\n", name},
    {"ofb2bmp: %s\n", name},
    {"ofb2bmp: %s\n", name},
};
static_assert(std::size(formats) == static_cast<std::size_t>(text::where_saved) + 1,
              "one format for every text");

} // namespace

const text_format& format_of(text id) {
  return formats[static_cast<std::size_t>(id)];
}

std::string text_of(text id, const std::string& name, std::int64_t number) {
  const text_format& format = format_of(id);
  const auto value = static_cast<int>(number);
  const auto fill = [&](char* into, std::size_t size) {
    switch (format.arguments) {
    case none:
      return std::snprintf(into, size, "%s", format.format);
    case text_arguments::name:
      return std::snprintf(into, size, format.format, name.c_str());
    case text_arguments::number:
      return std::snprintf(into, size, format.format, value);
    case name_and_number:
      return std::snprintf(into, size, format.format, name.c_str(), value);
    }
    return -1;
  };
  const int length = fill(nullptr, 0);
  if (length <= 0) {
    return {};
  }
  std::vector<char> bytes(static_cast<std::size_t>(length) + 1);
  fill(bytes.data(), bytes.size());
  return std::string(bytes.data(), static_cast<std::size_t>(length));
}

bool print_bytes(std::FILE* stream, const std::string& bytes) {
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size();
  return std::fflush(stream) == 0 && written;
}

bool print_text(std::FILE* stream, text id, const std::string& name, std::int64_t number) {
  return print_bytes(stream, text_of(id, name, number));
}

std::string counted(std::int64_t count, const char* singular) {
  return std::to_string(count) + " " + singular + (count == 1 ? "" : "s");
}

std::string grouped(std::int64_t number) {
  std::string digits = std::to_string(number);
  const std::size_t first = digits[0] == '-' ? 1 : 0;
  for (std::size_t at = digits.size(); at > first + 3; at -= 3) {
    digits.insert(at - 3, 1, ',');
  }
  return digits;
}
