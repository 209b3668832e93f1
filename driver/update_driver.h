#pragma once

#include <string_view>

#include "app/report.h"
#include "platform/environment.h"
#include "platform/files.h"

namespace reg7140 {

// The driver job: copies zvnd32.sys from the program's own directory (the source disk) over the
// one in the Windows system directory when that one is missing or older.
void update_driver_file(Files& files, Environment& environment, const Reporter& reporter,
                        std::string_view program_path);

}  // namespace reg7140
