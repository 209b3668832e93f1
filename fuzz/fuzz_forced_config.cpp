// The memory-window insertion on any ForcedConfig value the registry can hand back (at most 256
// bytes): no byte of the value may be lost or moved out of order, and the inserted record must be
// the patched window record where the next run's walk looks for it.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz/fuzz_check.h"
#include "registry/forced_config.h"
#include "registry/override_image.h"

namespace {

using namespace reg7140;

// The window record as the job must write it: the image's record with the window at 0x000C0000
// to 0x000C0FFF.
std::array<std::uint8_t, 52> expected_record() {
  std::array<std::uint8_t, 52> record{};
  std::copy_n(kOverrideImage.begin() + 64, record.size(), record.begin());
  record[14] = 0x0C;
  record[16] = 0xFF;
  record[17] = 0x0F;
  record[18] = 0x0C;
  return record;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> value(data, std::min(size, kForcedConfigReadSize));
  const std::size_t length = value.size();
  const ForcedConfigWalk walk = walk_forced_config(value);

  FUZZ_CHECK(walk.walk_end >= 8);
  if (walk.anchor != 0) {
    FUZZ_CHECK(walk.anchor >= 8 && walk.anchor + 4 < length && value[walk.anchor + 4] == 0x7C);
  }
  if (walk.stopped_on_end_mark) FUZZ_CHECK(walk.walk_end < length && value[walk.walk_end] == 0);
  if (walk.memory_present || walk.walk_end + 52 > 256) return 0;
  FUZZ_CHECK(walk.walk_end + 52 <= kForcedConfigReadSize);

  std::array<std::uint8_t, kForcedConfigAreaSize> area{};
  std::copy(value.begin(), value.end(), area.begin());
  const std::size_t grown = insert_memory_window(area, length, walk);
  FUZZ_CHECK(grown == length + 52);

  // The record goes in front of the anchor, else in front of the end mark the walk stopped on,
  // else at the end.
  const std::size_t at = walk.anchor != 0           ? walk.anchor
                         : walk.stopped_on_end_mark ? walk.walk_end
                                                    : length;
  const auto record = expected_record();
  FUZZ_CHECK(
      std::equal(value.begin(), value.begin() + static_cast<std::ptrdiff_t>(at), area.begin()));
  FUZZ_CHECK(
      std::equal(record.begin(), record.end(), area.begin() + static_cast<std::ptrdiff_t>(at)));
  FUZZ_CHECK(std::equal(value.begin() + static_cast<std::ptrdiff_t>(at), value.end(),
                        area.begin() + static_cast<std::ptrdiff_t>(at + 52)));

  // Where the walk reached the insertion point, the next run reaches it too, finds the memory
  // record and leaves the value alone. A grown value over 256 bytes is never read back.
  const bool reached = walk.anchor != 0 || walk.stopped_on_end_mark || walk.walk_end == length;
  if (reached && grown <= kForcedConfigReadSize) {
    FUZZ_CHECK(walk_forced_config(std::span(area.data(), grown)).memory_present);
  }
  return 0;
}
