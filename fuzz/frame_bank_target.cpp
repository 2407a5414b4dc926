// One frame-bank record of arbitrary bytes through decoding and the 8-bit writer.
#include "archive/archive.hpp"
#include "common/big_endian.hpp"
#include "record_checks.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzz_state fuzz;
  if (size > record_buffer_size) {
    return -1;
  }
  fuzz.start_input();
  fuzz.hold_record(data, size);
  std::int32_t counter = 0;
  try {
    extract_frame_bank(fuzz.state, "B", counter, 0);
  } catch (const fatal_error& failure) {
    require(false, text_of(failure.message, failure.name).c_str());
  }
  const record_outcome outcome = outcome_of(fuzz, 0, counter);
  if (size < palette_head_size) {
    require_broken_record(outcome);
    require(counter == 0, "a record without its head counts no frames");
    return 0;
  }
  const std::uint32_t declared = u16be(data + 514);
  require(counter == static_cast<std::int32_t>(declared), "the declared frames are counted");
  if (palette_head_size + 8 * std::size_t{declared} > size) {
    require_broken_record(outcome);
  } else {
    require_every_frame_accounted(outcome);
  }
  return 0;
}
