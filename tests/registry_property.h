// The registry file's one promise, as a property over generated files and calls: for any file the
// store accepts and any sequence of calls, each call answers as a small model driven by the same
// calls does, the saved file reads back as the model holds, every line that no call touched comes
// back unchanged and in order, and a registry that ends as it began is not written.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace reg7140::test {

// Where the generator's choices come from (a seeded engine, or a fuzzer's bytes): a number below
// its argument, which is at least 1.
using Choices = std::function<std::uint32_t(std::uint32_t)>;

// "" when the property holds for the file and calls `below` chooses, otherwise what broke it.
std::string check_registry_property(const Choices& below, const std::filesystem::path& path);

}  // namespace reg7140::test
