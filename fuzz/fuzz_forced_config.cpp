// The memory window's insertion on any ForcedConfig value the fuzzer makes up: the property of
// tests/forced_config_property.h.
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "fuzz/fuzz_check.h"
#include "tests/forced_config_property.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string broke = reg7140::test::check_memory_window(std::span(data, size));
  if (!broke.empty()) std::fprintf(stderr, "%s\n", broke.c_str());
  FUZZ_CHECK(broke.empty());
  return 0;
}
