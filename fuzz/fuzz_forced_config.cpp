// The memory window's insertion on any ForcedConfig value the fuzzer makes up: the property of
// tests/forced_config_property.h.
#include "fuzz/fuzz_check.h"
#include "tests/forced_config_property.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FUZZ_CHECK(reg7140::test::memory_window_goes_right(std::span(data, size)));
  return 0;
}
