// A registry stand-in that passes calls on to a real one, fails the Nth of them (and the flush,
// when asked), and keeps count of the keys left open.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace reg7140::test {

class FaultRegistry : public Registry {
 public:
  // `fail_at` counts calls from 1 (closes are not counted: they cannot fail); 0 fails none.
  FaultRegistry(Registry& inner, int fail_at, RegStatus error)
      : inner_(inner), fail_at_(fail_at), error_(error) {}

  RegStatus open_key(std::string_view path, KeyAccess access, KeyHandle* key) override {
    if (fails("open " + std::string(path))) return error_;
    return opened(inner_.open_key(path, access, key), key);
  }
  RegStatus create_key(KeyHandle parent, std::string_view subkey, std::string_view class_name,
                       KeyHandle* key, std::uint32_t* disposition) override {
    if (fails("create " + std::string(subkey))) return error_;
    return opened(inner_.create_key(parent, subkey, class_name, key, disposition), key);
  }
  RegStatus query_value(KeyHandle key, std::string_view name, std::uint32_t* type,
                        std::span<std::uint8_t> buffer, std::uint32_t* size) override {
    if (fails("query " + std::string(name))) return error_;
    return inner_.query_value(key, name, type, buffer, size);
  }
  RegStatus set_value(KeyHandle key, std::string_view name, std::uint32_t type,
                      std::span<const std::uint8_t> data) override {
    if (fails("set " + std::string(name))) return error_;
    return inner_.set_value(key, name, type, data);
  }
  RegStatus delete_value(KeyHandle key, std::string_view name) override {
    if (fails("delete " + std::string(name))) return error_;
    return inner_.delete_value(key, name);
  }
  void close_key(KeyHandle key) override {
    open.erase(key);
    inner_.close_key(key);
  }
  RegStatus flush() override {
    if (fails("flush") || fail_flush) return error_;
    return inner_.flush();
  }

  bool fail_flush = false;
  std::vector<std::string> calls;  // every counted call, in order
  std::set<KeyHandle> open;

 private:
  bool fails(std::string call) {
    calls.push_back(std::move(call));
    return static_cast<int>(calls.size()) == fail_at_;
  }
  RegStatus opened(RegStatus status, const KeyHandle* key) {
    if (status == kErrorSuccess) open.insert(*key);
    return status;
  }

  Registry& inner_;
  int fail_at_;
  RegStatus error_;
};

}  // namespace reg7140::test
