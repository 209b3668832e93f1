// The adapter's forced configuration gets a memory resource: the 4 KB window record, in front of
// the anchor record.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/registry.h"
#include "registry/scoped_key.h"

namespace reg7140 {

// The value is read with this limit; the working area also holds the grown value.
inline constexpr std::size_t kForcedConfigReadSize = 256;
inline constexpr std::size_t kForcedConfigAreaSize = kForcedConfigReadSize + 52;

struct ForcedConfigWalk {
  std::size_t walk_end = 8;
  bool memory_present = false;
  std::size_t anchor = 0;  // 0: no anchor record (none can start below 8)
  bool stopped_on_end_mark = false;
};

// Walks the records from offset 8, reading only the low bytes of each length and type.
ForcedConfigWalk walk_forced_config(std::span<const std::uint8_t> value);

// Inserts the window record into the first `length` bytes of `area` and returns the new length.
// It goes in front of the anchor record; without one, in front of the end mark the walk stopped
// on, so that the next walk finds it; failing both, at the end.
std::size_t insert_memory_window(std::array<std::uint8_t, kForcedConfigAreaSize>& area,
                                 std::size_t length, const ForcedConfigWalk& walk);

// Reads ForcedConfig of the open instance key and gives it the memory window when it has no
// memory record. A failure ends the registry job.
Failure add_memory_window(Registry& registry, KeyHandle instance_key);

}  // namespace reg7140
