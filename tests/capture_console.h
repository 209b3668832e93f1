// Standard output for tests, everything written kept in `text`; and an environment with WINDIR
// alone, unset where `windir` is nullptr.
#pragma once

#include <string>
#include <string_view>

#include "platform/console.h"
#include "platform/environment.h"

namespace reg7140::test {

class CaptureConsole : public Console {
 public:
  void write(std::string_view output) override { text.append(output); }
  std::string text;
};

struct WindirEnvironment : Environment {
  explicit WindirEnvironment(const char* value) : windir(value) {}
  const char* get_env(const char*) override { return windir; }
  std::string_view program_file() override { return ""; }
  const char* windir;
};

}  // namespace reg7140::test
