#include "platform/win32/win32_version.h"

#include <windows.h>

#include <cstring>

namespace reg7140 {

static_assert(sizeof(OSVERSIONINFOA) == kOsVersionInfoSize);
static_assert(sizeof(OsVersionInfo::szCSDVersion) == sizeof(OSVERSIONINFOA::szCSDVersion));

std::uint32_t Win32Version::get_version() { return GetVersion(); }

bool Win32Version::get_version_ex(OsVersionInfo* info) {
  // The caller's size is passed on, so that a wrong one fails as it would with the API. A size
  // beyond this record would let the API write past it, and is refused here.
  if (info->dwOSVersionInfoSize > sizeof(OSVERSIONINFOA)) return false;
  OSVERSIONINFOA native{};
  native.dwOSVersionInfoSize = info->dwOSVersionInfoSize;
  if (!GetVersionExA(&native)) return false;
  info->dwMajorVersion = native.dwMajorVersion;
  info->dwMinorVersion = native.dwMinorVersion;
  info->dwBuildNumber = native.dwBuildNumber;
  info->dwPlatformId = native.dwPlatformId;
  std::memcpy(info->szCSDVersion, native.szCSDVersion, sizeof(info->szCSDVersion));
  return true;
}

}  // namespace reg7140
