#pragma once

#include <string>

#include "platform/environment.h"

namespace reg7140 {

// Names match as on Windows: the exact spelling first, else the first variable whose name
// differs only in ASCII letter case.
class PosixEnvironment : public Environment {
 public:
  const char* get_env(const char* name) override;
  std::string_view program_file() override;

 private:
  std::string program_;
};

}  // namespace reg7140
