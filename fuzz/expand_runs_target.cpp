// expand_runs alone. The first 3 bytes choose the destination size (up to pixel_buffer's),
// the rest is the stream. Source and destination are allocations of exactly their sizes, so
// AddressSanitizer reports any byte read or written outside them; the bytes of the
// destination past what was produced must be left as they were.
#include <algorithm>
#include <memory>

#include "archive/archive.hpp"
#include "common/big_endian.hpp"
#include "fuzz_support.hpp"

namespace {

constexpr std::uint8_t untouched = 0xA5;
constexpr std::size_t largest_packet = 129;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) {
    return -1;
  }
  const std::size_t destination_size = u24be(data) % (pixel_buffer_size + 1);
  const std::size_t source_size = size - 3;
  const std::unique_ptr<std::uint8_t[]> source(new std::uint8_t[source_size]);
  std::copy(data + 3, data + size, source.get());
  const std::unique_ptr<std::uint8_t[]> destination(new std::uint8_t[destination_size]);
  std::fill(destination.get(), destination.get() + destination_size, untouched);

  const run_expansion result =
      expand_runs({source.get(), source_size}, destination.get(), destination_size);

  require(result.produced <= destination_size, "produced more than the destination holds");
  require(std::all_of(destination.get() + result.produced, destination.get() + destination_size,
                      [](std::uint8_t byte) { return byte == untouched; }),
          "wrote past what it reports as produced");
  if (source_size < 8) {
    require(!result.complete && result.produced == 0, "a stream without its head is incomplete");
    return 0;
  }
  const std::size_t wanted = u24be(source.get() + 5);
  if (result.complete) {
    // Stops at L, at the end of the destination, or after the packet that crosses L.
    require(result.produced >= std::min(wanted, destination_size), "stopped short of L");
    require(result.produced < wanted + largest_packet, "ran on past the packet crossing L");
  } else {
    require(result.produced < wanted && result.produced < destination_size,
            "ran out of source where nothing more was needed");
  }
  return 0;
}
