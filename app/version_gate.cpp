#include "app/version_gate.h"

namespace reg7140 {

bool check_windows_version(VersionSource& version, const Reporter& reporter) {
  if ((version.get_version() & 0x80000000u) == 0) {
    report_error(reporter, site::kVersionNotWin9x);
    return false;
  }
  OsVersionInfo info;
  info.dwOSVersionInfoSize = kOsVersionInfoSize;
  if (!version.get_version_ex(&info)) {
    report_error(reporter, site::kVersionQueryFailed);
    return false;
  }
  if (info.dwPlatformId != kVerPlatformWin32Windows) {
    report_error(reporter, site::kVersionPlatformId);
    return false;
  }
  if (info.dwMajorVersion < 4) {
    report_error(reporter, site::kVersionMajor);
    return false;
  }
  return true;
}

}  // namespace reg7140
