// The registry file's promise with the fuzzer's bytes as the choices: the generated file, the
// calls and their data all come from the input, so the fuzzer steers towards files and call
// sequences that no seed has reached.
#include <unistd.h>

#include <cstdio>

#include "fuzz/fuzz_check.h"
#include "tests/registry_property.h"

// Every case saves the file: in memory where it can be, flushes to a disk would be most of the
// time.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::filesystem::path file =
      std::filesystem::path(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") /
      ("fuzz-registry-" + std::to_string(getpid()) + ".reg");
  std::size_t at = 0;
  const auto below = [&](std::uint32_t bound) {
    std::uint32_t value = 0;
    for (std::uint32_t span = 1; span < bound && span != 0; span <<= 8)
      value = value << 8 | (at < size ? data[at++] : 0);
    return value % bound;
  };
  const std::string broke = reg7140::test::check_registry_property(below, file);
  if (!broke.empty()) std::fprintf(stderr, "%s\n", broke.c_str());
  FUZZ_CHECK(broke.empty());
  return 0;
}
