// The registry of the running Windows, under HKEY_LOCAL_MACHINE.
#pragma once

#include "platform/registry.h"

namespace reg7140 {

class Win32Registry : public Registry {
 public:
  RegStatus open_key(std::string_view path, KeyAccess access, KeyHandle* key) override;
  RegStatus create_key(KeyHandle parent, std::string_view subkey, std::string_view class_name,
                       KeyHandle* key, std::uint32_t* disposition) override;
  RegStatus query_value(KeyHandle key, std::string_view name, std::uint32_t* type,
                        std::span<std::uint8_t> buffer, std::uint32_t* size) override;
  RegStatus set_value(KeyHandle key, std::string_view name, std::uint32_t type,
                      std::span<const std::uint8_t> data) override;
  RegStatus delete_value(KeyHandle key, std::string_view name) override;
  void close_key(KeyHandle key) override;
  // Windows keeps its registry durable itself.
  RegStatus flush() override { return kErrorSuccess; }
};

}  // namespace reg7140
