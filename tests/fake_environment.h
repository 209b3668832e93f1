// Environment variables for tests; names match without regard to letter case, as on Windows.
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "platform/environment.h"

namespace reg7140::test {

class FakeEnvironment : public Environment {
 public:
  void set(std::string_view name, std::string value) { values_[key_of(name)] = std::move(value); }
  void unset(std::string_view name) { values_.erase(key_of(name)); }

  std::string_view program_file() override { return ""; }
  const char* get_env(const char* name) override {
    auto it = values_.find(key_of(name));
    return it != values_.end() ? it->second.c_str() : nullptr;
  }

 private:
  static std::string key_of(std::string_view name) {
    std::string key(name);
    for (char& c : key) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return key;
  }

  std::map<std::string, std::string> values_;
};

}  // namespace reg7140::test
