#pragma once

#include <string_view>

namespace reg7140 {

class Environment {
 public:
  virtual ~Environment() = default;
  // The variable's value, or nullptr when it is not set.
  virtual const char* get_env(const char* name) = 0;
  // Full path of the running program file, "" when it cannot be told.
  virtual std::string_view program_file() = 0;
};

}  // namespace reg7140
