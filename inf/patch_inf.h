// The INF job: copies the adapter's INF file line by line into a scratch file while following its
// chain of sections, adds the override entry and the memory-base line where they are missing, and
// puts the copy in the INF file's place when it added something.
#pragma once

#include "app/report.h"
#include "platform/environment.h"
#include "platform/text_files.h"

namespace reg7140 {

// Where the job stands in the section chain. The numbers are fixed; 7 and 14 are only passed
// through on the header line that ends the section receiving an insertion.
enum class InfState {
  SEEK_MANUFACTURER = 0,
  SEEK_MODEL = 1,
  SEEK_INSTALL_SECTION = 2,
  SEEK_INSTALL_ADDREG = 3,
  SEEK_FIRST_REG_SECTION = 4,
  SCAN_FIRST_REG_SECTION = 5,
  SCAN_FIRST_REG_MARKED = 6,
  INSERT_OVERRIDE = 7,
  SEEK_SECOND_REG_SECTION = 8,
  SEEK_NDIS3_LINE = 9,
  SEEK_NDIS3_SECTION = 10,
  SEEK_NDIS3_ADDREG = 11,
  SEEK_NDIS3_REG_SECTION = 12,
  SCAN_NDIS3_REG_SECTION = 13,
  INSERT_MEMORY_BASE = 14,
  FINISHED = 15,
  ABANDONED = 100,
};

void patch_inf_file(TextFiles& files, Environment& environment, const Reporter& reporter);

}  // namespace reg7140
