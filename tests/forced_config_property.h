// The memory window's insertion as a property of any ForcedConfig value, for a test over
// generated values and for the fuzzer. The value is left alone when it holds a memory record the
// walk reaches or is longer than the 256 bytes read, refused when the walk ends past offset 204,
// and otherwise written as REG_BINARY with every byte kept, in order, and the window record
// inserted at the start of the last anchor record, else of the end mark the walk stops on, else
// at the value's end; a second run then finds the record and leaves the value alone.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "registry/forced_config.h"

namespace reg7140::test {

// The instance key with ForcedConfig as its one value.
class ForcedConfigKey : public Registry {
 public:
  std::vector<std::uint8_t> value;
  std::uint32_t type = kRegSz;
  int writes = 0;

  RegStatus query_value(KeyHandle, std::string_view name, std::uint32_t* value_type,
                        std::span<std::uint8_t> buffer, std::uint32_t* size) override {
    *value_type = type;
    *size = static_cast<std::uint32_t>(value.size());
    if (name != "ForcedConfig" || value.size() > buffer.size()) return kErrorMoreData;
    std::copy(value.begin(), value.end(), buffer.begin());
    return kErrorSuccess;
  }
  RegStatus set_value(KeyHandle, std::string_view name, std::uint32_t value_type,
                      std::span<const std::uint8_t> data) override {
    writes += name == "ForcedConfig" ? 1 : 100;
    value.assign(data.begin(), data.end());
    type = value_type;
    return kErrorSuccess;
  }
  RegStatus open_key(std::string_view, KeyAccess, KeyHandle*) override { return 2; }
  RegStatus create_key(KeyHandle, std::string_view, std::string_view, KeyHandle*,
                       std::uint32_t*) override {
    return 2;
  }
  RegStatus delete_value(KeyHandle, std::string_view) override { return 2; }
  void close_key(KeyHandle) override {}
  RegStatus flush() override { return 0; }
};

// "" when the property holds for `value`, otherwise what broke it.
inline std::string check_memory_window(std::span<const std::uint8_t> value) {
  // Length 52, type 1, the window from 0x000C0000 to 0x000C0FFF, 4 KB.
  const std::string_view record(
      "\x34\0\0\0\1\0\0\0\1\0\x14\0\0\0\x0C\0\xFF\x0F\x0C\0\0\0\0\0\0\xF0\xFF\xFF\0\x10\0\0"
      "\0\0\0\0\xFF\xFF\xFF\xFF\0\0\0\0\2\0\0\0\0\0\0\0",
      52);
  // The records from offset 8 on, each as long as the low byte of its length, up to a zero
  // length; only the low byte of a type within the value counts.
  const std::size_t length = value.size();
  std::size_t at = 8, anchor = 0;
  bool memory = false, end_mark = false;
  for (; at < length && !end_mark; at += value[at]) {
    memory = memory || (at + 4 < length && value[at + 4] == 0x01);
    anchor = at + 4 < length && value[at + 4] == 0x7C ? at : anchor;
    end_mark = value[at] == 0;
  }
  std::vector<std::uint8_t> expected(value.begin(), value.end());
  std::string_view report;
  if (length <= 256 && !memory && at > 204) {
    report = "Not enough room for Memory Base configuration.";
  } else if (length <= 256 && !memory) {
    const std::size_t insert_at = anchor != 0 ? anchor : (end_mark ? at : length);
    expected.insert(expected.begin() + static_cast<long>(insert_at), record.begin(), record.end());
  }
  ForcedConfigKey key;
  key.value.assign(value.begin(), value.end());
  const Failure failure = add_memory_window(key, 1);
  const bool written = expected.size() > length;
  if (key.value != expected || key.writes != (written ? 1 : 0) || failure.code != 0 ||
      key.type != (written ? kRegBinary : kRegSz) ||
      (failure ? failure.site->message : std::string_view()) != report) {
    return "stored or reported otherwise";
  }
  add_memory_window(key, 1);
  const bool reached = anchor != 0 || end_mark || at == length;
  return key.writes > 1 && reached ? "a second run wrote the value again" : "";
}

}  // namespace reg7140::test
