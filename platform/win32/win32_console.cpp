#include "platform/win32/win32_console.h"

#include <cstdio>
#include <cstdlib>

namespace reg7140 {

const char* Win32Environment::get_env(const char* name) { return std::getenv(name); }

void Win32Console::write(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
}

}  // namespace reg7140
