#pragma once

namespace reg7140 {

class Environment {
 public:
  virtual ~Environment() = default;
  // The variable's value, or nullptr when it is not set.
  virtual const char* get_env(const char* name) = 0;
};

}  // namespace reg7140
