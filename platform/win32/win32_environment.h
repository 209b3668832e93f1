// The program's own environment, from KERNEL32.
#pragma once

#include <array>
#include <memory>

#include "platform/environment.h"
#include "platform/fixed_text.h"

namespace reg7140 {

// The whole value of the variable `name` (matched regardless of letter case, as Windows does),
// however long; nullptr when it is not set.
std::unique_ptr<char[]> read_environment(const char* name);

class Win32Environment : public Environment {
 public:
  // The value stays valid until the same name is asked for again.
  const char* get_env(const char* name) override;
  std::string_view program_file() override;

 private:
  struct Value {
    std::string_view name;
    std::unique_ptr<char[]> text;
  };
  std::array<Value, 4> values_{};
  PathText program_;
};

}  // namespace reg7140
