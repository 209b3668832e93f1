#pragma once

#include "app/report.h"
#include "platform/registry.h"

namespace reg7140 {

// The registry job: checks the adapter's device keys, drops its logical configurations, gives
// ForcedConfig the memory window, and writes MemoryBaseAddress and the override image into the
// driver class key. The first failure is reported and ends the job; nothing is undone. On every
// way out the job's changes are made durable.
void update_registry(Registry& registry, const Reporter& reporter);

}  // namespace reg7140
