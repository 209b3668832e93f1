// Where the driver job reports its failures.
#pragma once

#include "app/report.h"

namespace reg7140::site {

inline constexpr ReportSite kDriverNoWindir{831, "getenv", "Could not find Windows directory.",
                                            CodeSource::kZero};
inline constexpr ReportSite kDriverPathTooLong{832, "stat", "Path to driver file too long.",
                                               CodeSource::kWindowsError};
inline constexpr ReportSite kNoSourceDriver{
    836, "stat", "Could not find driver on source disk. Driver not updated.",
    CodeSource::kWindowsError};
inline constexpr ReportSite kCopyDriver{845, "copy", "Could not copy driver from source disk.",
                                        CodeSource::kErrno};

}  // namespace reg7140::site
