// Cue sheets: which files make up a disc image, and where its first data track lies.
//
// A cue sheet is text, one statement a line (CR LF or LF), keywords in any case:
//   FILE name type             the file later tracks are in; the name quoted ("a b.bin") or
//                              not (up to the last word, the type); relative to the sheet's
//                              folder. The data track's file must be of type BINARY.
//   TRACK nn mode              a track of the last FILE: MODE1/2048 (2,048-byte sectors),
//                              MODE1/2352, MODE2/2352 (raw sectors), AUDIO, or another mode
//                              (MODE2/2336, CDG, CDI/...), which is never read
//   INDEX nn mm:ss:ff          INDEX 01 is where the track's sectors start: (mm * 60 + ss) *
//                              75 + ff sectors into its file, each of the track's size
//   REM, CATALOG, FLAGS, PREGAP, POSTGAP, ISRC, TITLE, PERFORMER, SONGWRITER, CDTEXTFILE and any
//   other keyword: passed over (PREGAP and POSTGAP take no room in the file).
// A line with a control character other than a tab, a FILE, TRACK or INDEX that cannot be
// read, a TRACK before any FILE, an INDEX outside a TRACK, or a track without INDEX 01 make
// the sheet malformed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "disc/sector_format.hpp"

inline constexpr std::uint32_t seconds_a_minute = 60;

struct cue_track {
  int number = 0;
  std::string file;                    // as the sheet names it
  std::string file_type;               // in capitals: "BINARY", "WAVE"
  std::string mode;                    // as written, in capitals: "MODE1/2352", "AUDIO"
  std::optional<sector_format> format; // none for audio and modes never read
  std::uint64_t start = 0;             // sectors into its file: INDEX 01
  std::uint64_t start_byte = 0;        // bytes into its file
};

struct cue_sheet {
  std::vector<std::string> files; // each file named, once, in the sheet's order
  std::vector<cue_track> tracks;
  std::string reason; // empty when the sheet could be read; else what is wrong
};

cue_sheet parse_cue_sheet(std::string_view text);

// The first track that is not audio; a reason when there is none, or when it is of a mode never
// read or not in a BINARY file.
struct data_track_choice {
  const cue_track* track = nullptr;
  std::string reason;
};
data_track_choice first_data_track(const cue_sheet& sheet);
