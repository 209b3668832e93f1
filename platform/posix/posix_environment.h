#pragma once

#include "platform/environment.h"

namespace reg7140 {

// Names match as on Windows: the exact spelling first, else the first variable whose name
// differs only in ASCII letter case.
class PosixEnvironment : public Environment {
 public:
  const char* get_env(const char* name) override;
};

}  // namespace reg7140
