// The command line: options in the usual form (before or between names, "--" ends them,
// short ones grouped, "--name=value" or "--name value"), then the names.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "common/state.hpp"

struct run_options {
  std::vector<std::string> names; // the arguments that are not options, in order
  std::string output_dir;         // -o: where pictures go instead of the program's folder
  output_format format = output_format::bmp;
  bool format_given = false;
  bool insert = false;    // --insert: pictures are put back instead of taken out
  std::string insert_dir; // the pictures to put back
  bool nearest = false;   // --nearest: colours beyond the free slots take the nearest one
  bool list = false;
  bool quiet = false;
  bool no_clobber = false;       // -n: files that exist already are kept
  int jobs = 0;                  // -j: threads that write pictures; 0 for one a processor
  std::vector<std::string> only; // --only: the selections, as given
  bool gallery = false;          // --gallery: index.html beside the pictures
  bool help = false;
  bool version = false;
};

// Reads the options. On an unknown option, a missing value, an unknown format, or options that
// do not go together, prints what is wrong and a pointer to --help on `errors` and returns
// false.
bool parse_options(int argc, char** argv, run_options& options, std::FILE* errors);
