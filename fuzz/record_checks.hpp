// The checks every record target makes: each frame a record declares is either a bitmap or
// named by one "broken frame!" line, and the run is marked incomplete exactly when one is not.
#pragma once

#include <cstdint>
#include <string>

#include "fuzz_support.hpp"

struct record_outcome {
  std::int32_t frames_counted;
  std::size_t bitmaps;
  std::size_t broken_frames;
  std::size_t broken_records;
};

inline record_outcome outcome_of(fuzz_state& fuzz, std::int32_t counter_before,
                                 std::int32_t counter_after) {
  const std::string console = fuzz.console_text();
  const record_outcome outcome{counter_after - counter_before, check_and_clear_bitmaps(fuzz.state),
                               count_of(console, "broken frame!["),
                               count_of(console, "broken record![")};
  require(count_of(console, "\n") == outcome.broken_frames + outcome.broken_records,
          "a console line that is neither a broken frame nor a broken record");
  require(fuzz.state.incomplete == (outcome.broken_frames + outcome.broken_records != 0),
          "incomplete does not match the messages");
  return outcome;
}

// A record whose head and tables could be read: every declared frame written or named.
inline void require_every_frame_accounted(const record_outcome& outcome) {
  require(outcome.broken_records == 0, "broken record for a readable record");
  require(static_cast<std::size_t>(outcome.frames_counted) ==
              outcome.bitmaps + outcome.broken_frames,
          "a frame neither written nor reported");
}

// A record reported as broken writes nothing.
inline void require_broken_record(const record_outcome& outcome) {
  require(outcome.broken_records == 1 && outcome.bitmaps == 0 && outcome.broken_frames == 0,
          "a broken record must give exactly its own message and no bitmap");
}
