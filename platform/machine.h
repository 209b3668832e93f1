// Everything a run touches of the system it runs on.
#pragma once

#include "platform/console.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/version.h"

namespace reg7140 {

struct Machine {
  Registry& registry;
  VersionSource& version;
  Environment& environment;
  Files& files;
  Console& console;
};

}  // namespace reg7140
