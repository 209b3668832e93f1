// The INF job on any netzor.inf the fuzzer makes up: the property of tests/inf_property.h.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "fuzz/fuzz_check.h"
#include "tests/inf_property.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A Windows directory of the run's own, on a memory file system where there is one: a commit
  // flushes the file and its directory.
  static const std::filesystem::path windir = [] {
    std::string name = std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp";
    name += "/fuzz-inf-XXXXXX";
    if (mkdtemp(name.data()) == nullptr) std::abort();
    return std::filesystem::path(name);
  }();
  const std::string broke = reg7140::test::check_inf_property(
      std::string(reinterpret_cast<const char*>(data), size), windir);
  if (!broke.empty()) std::fprintf(stderr, "%s\n", broke.c_str());
  FUZZ_CHECK(broke.empty());
  return 0;
}
