// Standard output for tests: everything written is kept in `text`.
#pragma once

#include <string>
#include <string_view>

#include "platform/console.h"

namespace reg7140::test {

class CaptureConsole : public Console {
 public:
  void write(std::string_view output) override { text.append(output); }

  std::string text;
};

}  // namespace reg7140::test
