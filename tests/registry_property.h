// The registry file's one promise, as a property over generated files and calls: for any file the
// store accepts and any sequence of key creations, value sets and value deletions, the saved file
// reads back as a small, separate model driven by the same calls holds, and every line that no
// call touched comes back unchanged and in order.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace reg7140::test {

// Where the generator's choices come from: a seeded engine, or a fuzzer's bytes.
class Choices {
 public:
  virtual ~Choices() = default;
  // A number below `bound` (which is at least 1).
  virtual std::uint32_t below(std::uint32_t bound) = 0;
};

// Generates a registry file at `path`, drives a FileRegistry on it and a model with the same
// calls, saves, and compares. "" when the property holds, otherwise what broke it.
std::string check_registry_property(Choices& choices, const std::filesystem::path& path);

}  // namespace reg7140::test
