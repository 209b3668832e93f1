#pragma once

#include "platform/machine.h"

namespace reg7140 {

// One run: the version gate, the switches, then the registry, INF and driver jobs. Returns the
// exit status.
int run(Machine& machine, int argc, const char* const* argv);

}  // namespace reg7140
