#include "registry/update_registry.h"

#include <array>
#include <cstring>
#include <string_view>

#include "platform/fixed_text.h"
#include "registry/forced_config.h"
#include "registry/override_image.h"
#include "registry/registry_sites.h"
#include "registry/scoped_key.h"

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

// Registry data and the class key path are read and built in 256 bytes.
constexpr std::size_t kDataSize = 256;
using ClassPath = FixedText<256>;
static_assert(kClassPrefix.size() == 40);

// Opens a key only to learn that it is there.
Failure key_exists(Registry& registry, std::string_view path, const ReportSite& site) {
  ScopedKey key(registry);
  const RegStatus status = registry.open_key(path, KeyAccess::kRead, key.receive());
  if (status != kErrorSuccess) return {&site, status};
  return {};
}

Failure drop_logical_configurations(Registry& registry) {
  ScopedKey key(registry);
  const RegStatus status = registry.open_key(kLogConfigKey, KeyAccess::kAllAccess, key.receive());
  if (status != kErrorSuccess) return {&site::kOpenLogConfig, status};
  // A value that is not there is no failure.
  for (std::string_view name : kLogConfigValues) registry.delete_value(key.get(), name);
  return {};
}

// The instance key's ForcedConfig gets its memory window, and DRIVER names the class key: the
// prefix and the DRIVER text, which must end within the bytes read, be non-empty (an empty text
// would name the class root itself) and fit the path buffer.
Failure update_instance(Registry& registry, ClassPath* class_path) {
  ScopedKey key(registry);
  RegStatus status = registry.open_key(kInstanceKey, KeyAccess::kAllAccess, key.receive());
  if (status != kErrorSuccess) return {&site::kOpenInstance, status};
  if (const Failure failure = add_memory_window(registry, key.get())) return failure;

  std::array<std::uint8_t, kDataSize> data{};
  std::uint32_t type = 0;
  std::uint32_t size = kDataSize;
  status = registry.query_value(key.get(), kDriverValue, &type, data, &size);
  if (status != kErrorSuccess) return {&site::kQueryDriver, status};
  const auto* end = static_cast<const std::uint8_t*>(std::memchr(data.data(), 0, size));
  if (end == nullptr) return {&site::kOpenClassKey, kErrorFilenameExcedRange};
  const std::string_view driver(reinterpret_cast<const char*>(data.data()),
                                static_cast<std::size_t>(end - data.data()));
  if (driver.empty()) return {&site::kOpenClassKey, kErrorFileNotFound};
  if (!class_path->assign(kClassPrefix) || !class_path->append(driver)) {
    return {&site::kOpenClassKey, kErrorFilenameExcedRange};
  }
  return {};
}

Failure update_class_key(Registry& registry, std::string_view class_path) {
  ScopedKey class_key(registry);
  RegStatus status = registry.open_key(class_path, KeyAccess::kAllAccess, class_key.receive());
  if (status != kErrorSuccess) return {&site::kOpenClassKey, status};
  status = registry.set_value(class_key.get(), kMemoryBaseValue, kRegBinary, kMemoryBaseAddress);
  if (status != kErrorSuccess) return {&site::kSetMemoryBase, status};
  ScopedKey override_key(registry);
  std::uint32_t disposition = 0;
  status = registry.create_key(class_key.get(), kOverrideKey, kOverrideClass,
                               override_key.receive(), &disposition);
  if (status != kErrorSuccess) return {&site::kCreateOverride, status};
  // An existing value is replaced by the write itself: deleting it first would lose it if the
  // write then failed.
  status = registry.set_value(override_key.get(), kOverrideValue, kRegBinary, kOverrideImage);
  if (status != kErrorSuccess) return {&site::kSetOverride, status};
  return {};
}

// The job's steps, up to the first failure; every key is closed when it returns.
Failure change_registry(Registry& registry) {
  if (const Failure failure = key_exists(registry, kPcmciaKey, site::kOpenPcmcia)) return failure;
  if (const Failure failure = key_exists(registry, kDeviceKey, site::kOpenDevice)) return failure;
  if (const Failure failure = drop_logical_configurations(registry)) return failure;
  ClassPath class_path;
  if (const Failure failure = update_instance(registry, &class_path)) return failure;
  return update_class_key(registry, class_path.view());
}

}  // namespace

void update_registry(Registry& registry, const Reporter& reporter) {
  if (const Failure failure = change_registry(registry)) {
    report_error(reporter, *failure.site, failure.code);
  }
  const RegStatus status = registry.flush();
  if (status != kErrorSuccess) report_error(reporter, site::kFlushRegistry, status);
}

}  // namespace reg7140
