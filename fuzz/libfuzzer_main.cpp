// One libFuzzer target; OFB2BMP_FUZZ_TARGET names its function in targets.hpp.
#include "targets.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return OFB2BMP_FUZZ_TARGET(data, size);
}
