#include "registry/update_registry.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#include "registry/forced_config.h"
#include "registry/override_image.h"

namespace reg7140 {

namespace {

constexpr std::string_view kPcmciaKey = "ENUM\\PCMCIA";
constexpr std::string_view kDeviceKey = "ENUM\\PCMCIA\\ZORVAN-NR_32/8_KV-61C7";
constexpr std::string_view kLogConfigKey = "ENUM\\PCMCIA\\ZORVAN-NR_32/8_KV-61C7\\0\\LogConfig";
constexpr std::string_view kInstanceKey = "ENUM\\PCMCIA\\ZORVAN-NR_32/8_KV-61C7\\0";
constexpr std::array<std::string_view, 10> kLogConfigValues = {
    "0000", "0001", "0002", "0003", "0004", "0005", "0006", "0007", "0008", "0009"};
constexpr std::string_view kDriverValue = "DRIVER";
constexpr std::string_view kClassPrefix = "System\\CurrentControlSet\\Services\\Class\\";
constexpr std::string_view kMemoryBaseValue = "MemoryBaseAddress";
constexpr std::string_view kOverrideKey = "Override";
constexpr std::string_view kOverrideClass = "MyClass";
constexpr std::string_view kOverrideValue = "0000";

constexpr std::size_t kDataSize = 256;
constexpr std::size_t kPathSize = 256;
static_assert(kClassPrefix.size() == 40);

// Opens a key only to learn that it is there.
bool key_exists(Registry& registry, std::string_view path, const ReportSite& site,
                const Reporter& reporter) {
  KeyHandle key = kNoKey;
  const RegStatus status = registry.open_key(path, KeyAccess::kRead, &key);
  if (status != kErrorSuccess) {
    report_error(reporter, site, status);
    return false;
  }
  registry.close_key(key);
  return true;
}

// The class key path: the prefix and the DRIVER text, which must end within the bytes read, be
// non-empty (an empty text would name the class root itself) and fit the path buffer.
RegStatus build_class_path(std::span<const std::uint8_t> driver, std::array<char, kPathSize>& path,
                           std::string_view* out) {
  const void* end = std::memchr(driver.data(), 0, driver.size());
  if (end == nullptr) return kErrorFilenameExcedRange;
  const std::size_t text_length =
      static_cast<std::size_t>(static_cast<const std::uint8_t*>(end) - driver.data());
  if (text_length == 0) return kErrorFileNotFound;
  if (kClassPrefix.size() + text_length + 1 > path.size()) return kErrorFilenameExcedRange;
  std::memcpy(path.data(), kClassPrefix.data(), kClassPrefix.size());
  std::memcpy(path.data() + kClassPrefix.size(), driver.data(), text_length);
  path[kClassPrefix.size() + text_length] = '\0';
  *out = std::string_view(path.data(), kClassPrefix.size() + text_length);
  return kErrorSuccess;
}

void update_class_key(Registry& registry, std::string_view class_path, const Reporter& reporter) {
  KeyHandle class_key = kNoKey;
  RegStatus status = registry.open_key(class_path, KeyAccess::kAllAccess, &class_key);
  if (status != kErrorSuccess) {
    report_error(reporter, site::kOpenClassKey, status);
    return;
  }
  status = registry.set_value(class_key, kMemoryBaseValue, kRegBinary, kMemoryBaseAddress);
  if (status != kErrorSuccess) {
    registry.close_key(class_key);
    report_error(reporter, site::kSetMemoryBase, status);
    return;
  }
  KeyHandle override_key = kNoKey;
  std::uint32_t disposition = 0;
  status =
      registry.create_key(class_key, kOverrideKey, kOverrideClass, &override_key, &disposition);
  if (status != kErrorSuccess) {
    registry.close_key(class_key);
    report_error(reporter, site::kCreateOverride, status);
    return;
  }
  // An existing value is replaced by the write itself: deleting it first would lose it if the
  // write then failed.
  status = registry.set_value(override_key, kOverrideValue, kRegBinary, kOverrideImage);
  registry.close_key(override_key);
  registry.close_key(class_key);
  if (status != kErrorSuccess) report_error(reporter, site::kSetOverride, status);
}

// The job's steps, up to its first failure.
void change_registry(Registry& registry, const Reporter& reporter) {
  if (!key_exists(registry, kPcmciaKey, site::kOpenPcmcia, reporter)) return;
  if (!key_exists(registry, kDeviceKey, site::kOpenDevice, reporter)) return;

  KeyHandle key = kNoKey;
  RegStatus status = registry.open_key(kLogConfigKey, KeyAccess::kAllAccess, &key);
  if (status != kErrorSuccess) {
    report_error(reporter, site::kOpenLogConfig, status);
    return;
  }
  for (std::string_view name : kLogConfigValues) registry.delete_value(key, name);
  registry.close_key(key);

  status = registry.open_key(kInstanceKey, KeyAccess::kAllAccess, &key);
  if (status != kErrorSuccess) {
    report_error(reporter, site::kOpenInstance, status);
    return;
  }
  if (!add_memory_window(registry, key, reporter)) return;

  std::array<std::uint8_t, kDataSize> data{};
  std::uint32_t type = 0;
  std::uint32_t size = kDataSize;
  status = registry.query_value(key, kDriverValue, &type, data, &size);
  registry.close_key(key);
  if (status != kErrorSuccess) {
    report_error(reporter, site::kQueryDriver, status);
    return;
  }

  std::array<char, kPathSize> path_buffer{};
  std::string_view class_path;
  status = build_class_path(std::span(data.data(), std::min<std::size_t>(size, kDataSize)),
                            path_buffer, &class_path);
  if (status != kErrorSuccess) {
    report_error(reporter, site::kOpenClassKey, status);
    return;
  }
  update_class_key(registry, class_path, reporter);
}

}  // namespace

void update_registry(Registry& registry, const Reporter& reporter) {
  change_registry(registry, reporter);
  const RegStatus status = registry.flush();
  if (status != kErrorSuccess) report_error(reporter, site::kFlushRegistry, status);
}

}  // namespace reg7140
