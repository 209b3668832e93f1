// Standard output, as the C run-time's text-mode stdout wrote it.
#pragma once

#include "platform/console.h"

namespace reg7140 {

class Win32Console : public Console {
 public:
  void write(std::string_view text) override;
};

}  // namespace reg7140
