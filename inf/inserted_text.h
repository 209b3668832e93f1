// The text that the INF job adds to the adapter's INF file: the override entry, which carries the
// override configuration image as INF hex data, and the memory-base line.
#pragma once

#include <cstddef>
#include <string_view>

namespace reg7140 {

inline constexpr std::size_t kOverrideLineCount = 39;
// Each line of the override block, its line feed and a terminator fit in one slot.
inline constexpr std::size_t kOverrideSlotSize = 30;

// Line `index` (0 to 38) of the override block, its line feed included.
std::string_view override_line(std::size_t index);

// Written without a line feed; the job adds one on its own.
inline constexpr std::string_view kMemoryBaseLine = "HKR,,MemoryBaseAddress,1,01,00,00,00";

}  // namespace reg7140
