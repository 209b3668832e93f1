#pragma once

#include "platform/console.h"

namespace reg7140 {

class PosixConsole : public Console {
 public:
  void write(std::string_view text) override;
};

}  // namespace reg7140
