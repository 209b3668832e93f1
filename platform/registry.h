// The Windows registry as the registry job sees it: keys under HKEY_LOCAL_MACHINE,
// Windows error codes as results (0 is success).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "platform/windows_errors.h"

namespace reg7140 {

using RegStatus = WinError;

inline constexpr std::uint32_t kRegNone = 0;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;

inline constexpr std::uint32_t kRegCreatedNewKey = 1;
inline constexpr std::uint32_t kRegOpenedExistingKey = 2;

enum class KeyAccess { kRead, kAllAccess };

// An open key; 0 is no key.
using KeyHandle = std::uintptr_t;
inline constexpr KeyHandle kNoKey = 0;

class Registry {
 public:
  virtual ~Registry() = default;

  // Opens `path` (components separated by backslashes) under HKEY_LOCAL_MACHINE.
  virtual RegStatus open_key(std::string_view path, KeyAccess access, KeyHandle* key) = 0;

  // Creates or opens `subkey` of `parent`; `disposition` receives kRegCreatedNewKey or
  // kRegOpenedExistingKey.
  virtual RegStatus create_key(KeyHandle parent, std::string_view subkey,
                               std::string_view class_name, KeyHandle* key,
                               std::uint32_t* disposition) = 0;

  // Reads a value into `buffer`. `size` receives the value's length, also when it does not fit
  // (then the result is kErrorMoreData).
  virtual RegStatus query_value(KeyHandle key, std::string_view name, std::uint32_t* type,
                                std::span<std::uint8_t> buffer, std::uint32_t* size) = 0;

  // Creates or replaces a value of any type and length.
  virtual RegStatus set_value(KeyHandle key, std::string_view name, std::uint32_t type,
                              std::span<const std::uint8_t> data) = 0;

  virtual RegStatus delete_value(KeyHandle key, std::string_view name) = 0;

  virtual void close_key(KeyHandle key) = 0;

  // Makes every change so far durable. The registry holds changes in memory until then, as
  // Windows 95 holds its own.
  virtual RegStatus flush() = 0;
};

}  // namespace reg7140
