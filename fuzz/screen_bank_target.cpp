// One screen-bank record through decoding, run-length expansion and the 8-bit writer. The
// first 4 bytes are the length field of its index entry, the rest is the record.
#include "archive/archive.hpp"
#include "common/big_endian.hpp"
#include "record_checks.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzz_state fuzz;
  if (size < 4 || size - 4 > record_buffer_size) {
    return -1;
  }
  const std::uint32_t record_length = u32be(data);
  const std::uint8_t* record = data + 4;
  const std::size_t record_size = size - 4;
  fuzz.start_input();
  fuzz.hold_record(record, record_size);
  std::int32_t counter = 0;
  try {
    extract_screen_bank(fuzz.state, "G", record_length, counter, 0);
  } catch (const fatal_error& failure) {
    require(false, text_of(failure.message, failure.name).c_str());
  }
  const record_outcome outcome = outcome_of(fuzz, 0, counter);
  if (record_length <= 576) {
    require(counter == 0 && outcome.bitmaps == 0 && !fuzz.state.incomplete,
            "a short screen bank is skipped without a word");
    return 0;
  }
  if (record_length > static_cast<std::uint32_t>(INT32_MAX)) {
    require_broken_record(outcome);
    require(counter == 0, "a length beyond 2 GiB counts no frames");
    return 0;
  }
  if (record_size < palette_head_size) {
    require_broken_record(outcome);
    require(counter == 0, "a record without its head counts no frames");
    return 0;
  }
  const std::uint32_t declared = u16be(record + 514);
  require(counter == static_cast<std::int32_t>(declared), "the declared screens are counted");
  if (palette_head_size + 4 * std::size_t{declared} > record_size) {
    require_broken_record(outcome);
  } else {
    require_every_frame_accounted(outcome);
  }
  return 0;
}
