// The INF job: copies the adapter's INF file line by line into a scratch file while following its
// chain of sections, adds the override entry and the memory-base line where they are missing, and
// puts the copy in the INF file's place when it added something.
#pragma once

#include "app/report.h"
#include "platform/environment.h"
#include "platform/text_files.h"

namespace reg7140 {

void patch_inf_file(TextFiles& files, Environment& environment, const Reporter& reporter);

}  // namespace reg7140
