#pragma once

#include "app/report.h"
#include "platform/version.h"

namespace reg7140 {

// Lets the program run only on the Windows 95 family at major version 4 or later. False after a
// refusal has been reported; the run then ends with exit status 1.
bool check_windows_version(VersionSource& version, const Reporter& reporter);

}  // namespace reg7140
