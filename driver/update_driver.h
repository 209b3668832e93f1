#pragma once

#include <string_view>

#include "app/report.h"
#include "platform/environment.h"
#include "platform/file_store.h"

namespace reg7140 {

// Whether a program path names the directory the program lies in ('/' and '\' both separate).
bool names_directory(std::string_view program_path);

// The driver job: copies zvnd32.sys from the program's directory (the source disk) over the one
// in the Windows system directory when that one is missing or older. `program_path` is the path
// the program was started by, or its own file when that names no directory.
void update_driver_file(FileStore& files, Environment& environment, const Reporter& reporter,
                        std::string_view program_path);

}  // namespace reg7140
