// Everything a run touches of the system it runs on.
#pragma once

#include "platform/console.h"
#include "platform/environment.h"
#include "platform/file_store.h"
#include "platform/registry.h"
#include "platform/text_files.h"
#include "platform/version.h"

namespace reg7140 {

struct Machine {
  Registry& registry;
  VersionSource& version;
  Environment& environment;
  TextFiles& text_files;
  FileStore& file_store;
  Console& console;
};

}  // namespace reg7140
