// One direct-colour record of arbitrary bytes through decoding and the 24-bit writer.
#include "archive/archive.hpp"
#include "record_checks.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzz_state fuzz;
  if (size > record_buffer_size) {
    return -1; // a record is never read beyond record_buffer
  }
  fuzz.start_input();
  fuzz.hold_record(data, size);
  std::int32_t counter = 0;
  try {
    extract_direct_frame(fuzz.state, "D", counter, 0);
  } catch (const fatal_error& failure) {
    require(false, text_of(failure.message, failure.name).c_str());
  }
  const record_outcome outcome = outcome_of(fuzz, 0, counter);
  require(outcome.frames_counted == 1, "a direct-colour record is one frame, written or not");
  if (size < 6) {
    require_broken_record(outcome);
  } else {
    require_every_frame_accounted(outcome);
  }
  return 0;
}
