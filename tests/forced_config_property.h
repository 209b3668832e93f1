// The memory window's insertion as a property of any ForcedConfig value, for a test over
// generated values and for the fuzzer: the walk over the first 256 bytes finds what a walk of its
// own finds, and where the value has room and no memory record, every byte stays, in order, and
// the window record goes in at the start of the last anchor record, else of the end mark the walk
// stopped on, else at the value's end, so that the next run's walk finds it. What the job then
// stores or reports is left to the whole-run scenarios.
#pragma once

#include <algorithm>
#include <tuple>
#include <vector>

#include "registry/forced_config.h"

namespace reg7140::test {

inline bool memory_window_goes_right(std::span<const std::uint8_t> value) {
  // Length 52, type 1, the window from 0x000C0000 to 0x000C0FFF, 4 KB.
  const std::string_view record(
      "\x34\0\0\0\1\0\0\0\1\0\x14\0\0\0\x0C\0\xFF\x0F\x0C\0\0\0\0\0\0\xF0\xFF\xFF\0\x10\0\0"
      "\0\0\0\0\xFF\xFF\xFF\xFF\0\0\0\0\2\0\0\0\0\0\0\0",
      52);
  // The records from offset 8 on, each as long as the low byte of its length, up to a zero
  // length; only the low byte of a type within the value counts.
  std::size_t at = 8, anchor = 0, length = std::min<std::size_t>(value.size(), 256);
  bool memory = false, end_mark = false;
  for (; at < length && !end_mark; at += value[at]) {
    memory = memory || (at + 4 < length && value[at + 4] == 0x01);
    anchor = at + 4 < length && value[at + 4] == 0x7C ? at : anchor;
    end_mark = value[at] == 0;
  }
  const ForcedConfigWalk walk = walk_forced_config(value);
  if (std::tuple(walk.walk_end, walk.memory_present, walk.anchor, walk.stopped_on_end_mark) !=
      std::tuple(at, memory, anchor, end_mark))
    return false;
  if (memory || at > 204 || length < value.size()) return true;
  std::array<std::uint8_t, kForcedConfigAreaSize> area{};
  std::copy(value.begin(), value.end(), area.begin());
  std::vector<std::uint8_t> expected(value.begin(), value.end());
  expected.insert(expected.begin() + static_cast<long>(anchor     ? anchor
                                                       : end_mark ? at
                                                                  : length),
                  record.begin(), record.end());
  return insert_memory_window(area, length, walk) == expected.size() &&
         std::equal(expected.begin(), expected.end(), area.begin());
}

}  // namespace reg7140::test
