// The emulated machine's registry: a REGEDIT4 file, loaded once, saved whole after every change.
#pragma once

#include <memory>
#include <string>

#include "platform/registry.h"

namespace reg7140 {

class FileRegistry : public Registry {
 public:
  // `host_path` is the registry file on the host (it need not exist: a missing file is an
  // empty registry). The file is read at the first call.
  explicit FileRegistry(std::string host_path);
  ~FileRegistry() override;

  RegStatus open_key(std::string_view path, KeyAccess access, KeyHandle* key) override;
  RegStatus create_key(KeyHandle parent, std::string_view subkey, std::string_view class_name,
                       KeyHandle* key, std::uint32_t* disposition) override;
  RegStatus query_value(KeyHandle key, std::string_view name, std::uint32_t* type,
                        std::span<std::uint8_t> buffer, std::uint32_t* size) override;
  RegStatus set_value(KeyHandle key, std::string_view name, std::uint32_t type,
                      std::span<const std::uint8_t> data) override;
  RegStatus delete_value(KeyHandle key, std::string_view name) override;
  void close_key(KeyHandle key) override;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace reg7140
