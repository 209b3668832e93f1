// The version queries answered from the registry, where Windows keeps its version: for a
// machine that has a registry but no version API of its own.
#pragma once

#include "platform/registry.h"
#include "platform/version.h"

namespace reg7140 {

class RegistryVersionSource : public VersionSource {
 public:
  explicit RegistryVersionSource(Registry& registry) : registry_(registry) {}
  // Bit 31 clear when HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion exists.
  std::uint32_t get_version() override;
  // Succeeds when ...\Windows\CurrentVersion holds VersionNumber as REG_SZ text starting with a
  // digit: platform id 1; major, minor and build from its dot-separated parts.
  bool get_version_ex(OsVersionInfo* info) override;

 private:
  Registry& registry_;
};

}  // namespace reg7140
