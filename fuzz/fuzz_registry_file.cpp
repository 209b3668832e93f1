// The registry file's promise with the fuzzer's bytes as the choices: the generated file, the
// calls and their data all come from the input, so the fuzzer steers towards files and call
// sequences that no seed has reached.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_check.h"
#include "tests/registry_property.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A scratch directory of the run's own, in memory where there can be: every case saves a file.
  static const std::string scratch = [] {
    std::string name = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
                       std::string("/fuzz-registry-XXXXXX");
    if (mkdtemp(name.data()) == nullptr) std::abort();
    return name;
  }();
  std::size_t at = 0;
  const auto below = [&](std::uint32_t bound) {
    std::uint32_t value = 0;
    for (std::uint32_t span = 1; span < bound && span != 0; span <<= 8)
      value = value << 8 | (at < size ? data[at++] : 0);
    return value % bound;
  };
  const std::string broke = reg7140::test::check_registry_property(below, scratch + "/system.reg");
  if (!broke.empty()) std::fprintf(stderr, "%s\n", broke.c_str());
  FUZZ_CHECK(broke.empty());
  return 0;
}
