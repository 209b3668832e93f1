// The version queries of the Windows API.
#pragma once

#include <cstdint>

namespace reg7140 {

inline constexpr std::uint32_t kVerPlatformWin32Windows = 1;

struct OsVersionInfo {
  std::uint32_t dwOSVersionInfoSize = 0;
  std::uint32_t dwMajorVersion = 0;
  std::uint32_t dwMinorVersion = 0;
  std::uint32_t dwBuildNumber = 0;
  std::uint32_t dwPlatformId = 0;
  char szCSDVersion[128] = {};
};

inline constexpr std::uint32_t kOsVersionInfoSize = 148;
static_assert(sizeof(OsVersionInfo) == kOsVersionInfoSize);

class VersionSource {
 public:
  virtual ~VersionSource() = default;
  // Bit 31 is set on the Windows 95 family.
  virtual std::uint32_t get_version() = 0;
  // False when the query fails.
  virtual bool get_version_ex(OsVersionInfo* info) = 0;
};

}  // namespace reg7140
