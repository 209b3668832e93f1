// The emulated machine's registry: a REGEDIT4 file, read once at the first call; changes are
// kept in memory and written back by flush(), at most once a run, in one atomic replacement.
#pragma once

#include <memory>
#include <string>

#include "platform/registry.h"

namespace reg7140 {

class FileRegistry : public Registry {
 public:
  // `host_path` is the registry file on the host (it need not exist: a missing file is an
  // empty registry).
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
  // Writes the file when the registry differs from it; nothing else touches the file.
  RegStatus flush() override;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace reg7140
