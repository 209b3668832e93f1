// The program's own environment, through the C run-time.
#pragma once

#include "platform/environment.h"
#include "platform/fixed_text.h"

namespace reg7140 {

class Win32Environment : public Environment {
 public:
  // The run-time matches names without regard to letter case, as Windows does.
  const char* get_env(const char* name) override;
  std::string_view program_file() override;

 private:
  PathText program_;
};

}  // namespace reg7140
