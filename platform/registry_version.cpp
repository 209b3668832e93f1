#include "platform/registry_version.h"

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

namespace reg7140 {

namespace {

constexpr std::string_view kNtVersionKey = "Software\\Microsoft\\Windows NT\\CurrentVersion";
constexpr std::string_view kVersionKey = "Software\\Microsoft\\Windows\\CurrentVersion";
constexpr std::string_view kVersionNumber = "VersionNumber";

// What the version API answers on each family: Windows NT 4.0 build 1381, and Windows 95
// (bit 31 set, version 4.0).
constexpr std::uint32_t kNtVersion = 0x00000004u | (1381u << 16);
constexpr std::uint32_t kWin9xVersion = 0xC0000004u;

bool is_digit(std::uint8_t c) { return c >= '0' && c <= '9'; }

// The decimal number at the start of `text` (0 when it starts with no digit), saturating rather
// than wrapping; `*pos` moves past the digits.
std::uint32_t leading_number(std::span<const std::uint8_t> text, std::size_t* pos) {
  std::uint32_t value = 0;
  while (*pos < text.size() && is_digit(text[*pos])) {
    std::uint32_t digit = text[*pos] - '0';
    value = value > (0xFFFFFFFFu - digit) / 10 ? 0xFFFFFFFFu : value * 10 + digit;
    ++*pos;
  }
  return value;
}

}  // namespace

std::uint32_t RegistryVersionSource::get_version() {
  KeyHandle key = kNoKey;
  if (registry_.open_key(kNtVersionKey, KeyAccess::kRead, &key) != kErrorSuccess) {
    return kWin9xVersion;
  }
  registry_.close_key(key);
  return kNtVersion;
}

bool RegistryVersionSource::get_version_ex(OsVersionInfo* info) {
  if (info == nullptr || info->dwOSVersionInfoSize != kOsVersionInfoSize) return false;

  KeyHandle key = kNoKey;
  if (registry_.open_key(kVersionKey, KeyAccess::kRead, &key) != kErrorSuccess) return false;
  std::array<std::uint8_t, 256> buffer{};
  std::uint32_t type = 0;
  std::uint32_t size = 0;
  RegStatus status = registry_.query_value(key, kVersionNumber, &type, buffer, &size);
  registry_.close_key(key);
  if (status != kErrorSuccess || type != kRegSz) return false;

  // The text ends at its first zero byte or with the data.
  std::span<const std::uint8_t> text(buffer.data(), size);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == 0) {
      text = text.first(i);
      break;
    }
  }
  if (text.empty() || !is_digit(text[0])) return false;

  // "4.00.950": major, minor and build are the digits that start each dot-separated part.
  std::array<std::uint32_t, 3> parts{};
  std::size_t pos = 0;
  for (std::size_t part = 0; part < parts.size() && pos < text.size(); ++part) {
    parts[part] = leading_number(text, &pos);
    while (pos < text.size() && text[pos] != '.') ++pos;
    if (pos < text.size()) ++pos;  // past the dot
  }

  info->dwMajorVersion = parts[0];
  info->dwMinorVersion = parts[1];
  info->dwBuildNumber = parts[2];
  info->dwPlatformId = kVerPlatformWin32Windows;
  info->szCSDVersion[0] = '\0';
  return true;
}

}  // namespace reg7140
