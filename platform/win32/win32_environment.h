// The program's own environment, through the C run-time.
#pragma once

#include "platform/environment.h"

namespace reg7140 {

class Win32Environment : public Environment {
 public:
  // The run-time matches names without regard to letter case, as Windows does.
  const char* get_env(const char* name) override;
};

}  // namespace reg7140
