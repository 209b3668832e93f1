#include "registry/forced_config.h"

#include <algorithm>

#include "registry/override_image.h"
#include "registry/registry_sites.h"

namespace reg7140 {

namespace {

constexpr std::size_t kFirstRecord = 8;
constexpr std::uint8_t kMemoryType = 0x01;
constexpr std::uint8_t kAnchorType = 0x7C;
constexpr std::string_view kForcedConfig = "ForcedConfig";

}  // namespace

ForcedConfigWalk walk_forced_config(std::span<const std::uint8_t> value) {
  ForcedConfigWalk walk;
  const std::size_t length = std::min(value.size(), kForcedConfigReadSize);
  std::size_t offset = kFirstRecord;
  while (offset < length) {
    const std::uint8_t record_length = value[offset];
    if (offset + 4 < length) {
      const std::uint8_t type = value[offset + 4];
      if (type == kMemoryType) walk.memory_present = true;
      if (type == kAnchorType) walk.anchor = offset;
    }
    if (record_length == 0) {
      walk.stopped_on_end_mark = true;
      break;
    }
    offset += record_length;
  }
  walk.walk_end = offset;
  return walk;
}

std::size_t insert_memory_window(std::array<std::uint8_t, kForcedConfigAreaSize>& area,
                                 std::size_t length, const ForcedConfigWalk& walk) {
  std::size_t at = length;
  if (walk.anchor != 0) {
    at = walk.anchor;
  } else if (walk.stopped_on_end_mark) {
    at = walk.walk_end;
  }
  std::copy_backward(area.begin() + static_cast<std::ptrdiff_t>(at),
                     area.begin() + static_cast<std::ptrdiff_t>(length),
                     area.begin() + static_cast<std::ptrdiff_t>(length + kMemoryWindowSize));
  const auto record = memory_window_template();
  std::copy(record.begin(), record.end(), area.begin() + static_cast<std::ptrdiff_t>(at));
  for (const BytePatch& patch : kWindowPatch) area[at + patch.offset] = patch.value;
  return length + kMemoryWindowSize;
}

Failure add_memory_window(Registry& registry, KeyHandle instance_key) {
  std::array<std::uint8_t, kForcedConfigAreaSize> area{};
  std::uint32_t type = 0;
  std::uint32_t size = kForcedConfigReadSize;
  const RegStatus read = registry.query_value(instance_key, kForcedConfig, &type,
                                              std::span(area.data(), kForcedConfigReadSize), &size);
  // A missing or unreadable value is left alone.
  if (read != kErrorSuccess || size > kForcedConfigReadSize) return {};

  const ForcedConfigWalk walk = walk_forced_config(std::span(area.data(), size));
  if (walk.memory_present) return {};
  if (walk.walk_end + kMemoryWindowSize > kForcedConfigReadSize) return {&site::kNoRoom, read};
  const std::size_t grown = insert_memory_window(area, size, walk);
  const RegStatus written =
      registry.set_value(instance_key, kForcedConfig, kRegBinary, std::span(area.data(), grown));
  if (written != kErrorSuccess) return {&site::kSetForcedConfig, written};
  return {};
}

}  // namespace reg7140
