#include "app/version_gate.h"

namespace reg7140 {

namespace {

constexpr std::string_view kNeedsWindows95 = "This program requires Windows 95";

constexpr ReportSite kVersionNotWin9x{152, "GetVersion", kNeedsWindows95, CodeSource::kZero};
constexpr ReportSite kVersionQueryFailed{158, "GetVersionEx", kNeedsWindows95, CodeSource::kZero};
constexpr ReportSite kVersionPlatformId{162, "GetVersionEx", kNeedsWindows95, CodeSource::kZero};
constexpr ReportSite kVersionMajor{166, "GetVersionEx", kNeedsWindows95, CodeSource::kZero};

}  // namespace

bool check_windows_version(VersionSource& version, const Reporter& reporter) {
  if ((version.get_version() & 0x80000000u) == 0) {
    report_error(reporter, kVersionNotWin9x);
    return false;
  }
  OsVersionInfo info;
  info.dwOSVersionInfoSize = kOsVersionInfoSize;
  if (!version.get_version_ex(&info)) {
    report_error(reporter, kVersionQueryFailed);
    return false;
  }
  if (info.dwPlatformId != kVerPlatformWin32Windows) {
    report_error(reporter, kVersionPlatformId);
    return false;
  }
  if (info.dwMajorVersion < 4) {
    report_error(reporter, kVersionMajor);
    return false;
  }
  return true;
}

}  // namespace reg7140
