#pragma once

#include <span>

namespace reg7140 {

struct Switches {
  int report_level = 0;
  bool update_files = true;
};

// Reads arguments 1 onward into `switches`, stopping at the first bad one: false then, and
// `switches` holds what the arguments before it set.
bool parse_switches(std::span<const char* const> arguments, Switches* switches);

}  // namespace reg7140
