// The registry file's promise with the fuzzer's bytes as the choices: the generated file, the
// calls and their data all come from the input, so the fuzzer steers towards files and call
// sequences that no seed has reached.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "fuzz/fuzz_check.h"
#include "tests/registry_property.h"

namespace {

class InputChoices : public reg7140::test::Choices {
 public:
  InputChoices(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint32_t below(std::uint32_t bound) override {
    std::uint32_t value = 0;
    for (std::uint32_t span = 1; span < bound && span != 0; span <<= 8) {
      value = (value << 8) | (at_ < size_ ? data_[at_++] : 0);
    }
    return value % bound;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// A scratch directory of the run's own, on a memory file system where there is one: every case
// saves a file, and flushes to a disk would be most of the time.
const std::filesystem::path& scratch() {
  static const std::filesystem::path path = [] {
    std::string base = std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp";
    std::string name = base + "/fuzz-registry-XXXXXX";
    if (mkdtemp(name.data()) == nullptr) std::abort();
    return std::filesystem::path(name);
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  InputChoices choices(data, size);
  const std::string broke =
      reg7140::test::check_registry_property(choices, scratch() / "system.reg");
  if (!broke.empty()) std::fprintf(stderr, "%s\n", broke.c_str());
  FUZZ_CHECK(broke.empty());
  return 0;
}
