#include "driver/options.hpp"

#include <getopt.h>

#include <algorithm>

#include "common/files_in_progress.hpp"
#include "driver/selection.hpp"

namespace {

// Long options report errors under values of their own, so the message names the form used.
enum long_form : int {
  output_dir_long = 256,
  format_long,
  list_long,
  quiet_long,
  help_long,
  version_long,
  insert_long,
  no_clobber_long,
  jobs_long,
  only_long,
  gallery_long,
  nearest_long,
};

constexpr option long_options[] = {
    {"output-dir", required_argument, nullptr, output_dir_long},
    {"format", required_argument, nullptr, format_long},
    {"list", no_argument, nullptr, list_long},
    {"quiet", no_argument, nullptr, quiet_long},
    {"help", no_argument, nullptr, help_long},
    {"version", no_argument, nullptr, version_long},
    {"insert", required_argument, nullptr, insert_long},
    {"no-clobber", no_argument, nullptr, no_clobber_long},
    {"jobs", required_argument, nullptr, jobs_long},
    {"only", required_argument, nullptr, only_long},
    {"gallery", no_argument, nullptr, gallery_long},
    {"nearest", no_argument, nullptr, nearest_long},
    {nullptr, 0, nullptr, 0},
};

// A leading ':' makes a missing value come back as ':', apart from an unknown option.
constexpr char short_options[] = ":o:f:lqhnj:";

const option* long_option_of(int value) {
  for (const option& known : long_options) {
    if (known.name != nullptr && known.val == value) {
      return &known;
    }
  }
  return nullptr;
}

// The option as it was written: "-o", or "--output-dir" for its long form.
std::string option_name(int value) {
  const option* long_form = long_option_of(value);
  return long_form != nullptr ? std::string("--") + long_form->name
                              : std::string("-") + static_cast<char>(value);
}

// A value given to a long option that takes none: glibc reports it as an unknown option,
// MinGW-w64 as a missing value; both name the option.
bool value_given_to_option_without(int value) {
  const option* long_form = long_option_of(value);
  return long_form != nullptr && long_form->has_arg == no_argument;
}

bool refuse(std::FILE* errors, text message, const std::string& name) {
  print_text(errors, message, name);
  return false;
}

// Format names in any letter case, as file names are matched.
bool read_format(const char* name, output_format& format) {
  std::string lower = name;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  });
  format = lower == "png" ? output_format::png : output_format::bmp;
  return lower == "bmp" || lower == "png";
}

// A whole number of threads from 1 to most_picture_writers, in decimal digits only.
bool read_jobs(const char* value, int& jobs) {
  const std::string digits = value;
  if (digits.empty() || digits.size() > 3 ||
      digits.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  jobs = std::stoi(digits);
  return jobs >= 1 && jobs <= most_picture_writers;
}

// The parser keeps its place in globals; 0 starts it afresh (glibc and MinGW-w64 alike).
void restart_parser() {
  optind = 0;
  opterr = 0;
}

// Insertion writes a new pair into the -o folder (with --list it only tells what it would do);
// a picture format and a gallery of pictures mean nothing to it.
bool check_insertion(const run_options& options, std::FILE* errors) {
  if (!options.insert) {
    return !options.nearest || refuse(errors, text::nearest_needs_insert, {});
  }
  if (options.output_dir.empty() && !options.list) {
    return refuse(errors, text::insert_needs_output, {});
  }
  if (options.format_given) {
    return refuse(errors, text::insert_excludes, "--format");
  }
  if (!options.only.empty()) {
    return refuse(errors, text::insert_excludes, "--only");
  }
  if (options.gallery) {
    return refuse(errors, text::insert_excludes, "--gallery");
  }
  return true;
}

} // namespace

bool parse_options(int argc, char** argv, run_options& options, std::FILE* errors) {
  restart_parser();
  for (;;) {
    const int found = getopt_long(argc, argv, short_options, long_options, nullptr);
    switch (found) {
    case -1:
      options.names.assign(argv + optind, argv + argc);
      return check_insertion(options, errors);
    case 'o':
    case output_dir_long:
      // An empty folder name would silently mean the program's own folder.
      if (*optarg == '\0') {
        return refuse(errors, text::empty_value, option_name(found));
      }
      options.output_dir = optarg;
      break;
    case 'f':
    case format_long:
      options.format_given = true;
      if (!read_format(optarg, options.format)) {
        return refuse(errors, text::unknown_format, optarg);
      }
      break;
    case 'n':
    case no_clobber_long:
      options.no_clobber = true;
      break;
    case 'j':
    case jobs_long:
      if (!read_jobs(optarg, options.jobs)) {
        return refuse(errors, text::bad_jobs, optarg);
      }
      break;
    case only_long: {
      picture_selection checked;
      std::string wrong;
      if (!add_to_selection(checked, optarg, wrong)) {
        return refuse(errors, text::bad_selection, wrong);
      }
      options.only.emplace_back(optarg);
      break;
    }
    case 'l':
    case list_long:
      options.list = true;
      break;
    case 'q':
    case quiet_long:
      options.quiet = true;
      break;
    case 'h':
    case help_long:
      options.help = true;
      break;
    case version_long:
      options.version = true;
      break;
    case gallery_long:
      options.gallery = true;
      break;
    case nearest_long:
      options.nearest = true;
      break;
    case insert_long:
      options.insert = true;
      options.insert_dir = optarg;
      break;
    default:
      if (value_given_to_option_without(optopt)) {
        return refuse(errors, text::unexpected_value, option_name(optopt));
      }
      if (found == ':') {
        return refuse(errors, text::missing_value, option_name(optopt));
      }
      // An unknown short option, or an unknown long one, named as written.
      return refuse(errors, text::unknown_option,
                    optopt != 0 ? option_name(optopt) : argv[optind - 1]);
    }
  }
}
