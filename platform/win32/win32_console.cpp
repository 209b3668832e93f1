#include "platform/win32/win32_console.h"

#include <cstdio>

namespace reg7140 {

void Win32Console::write(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
}

}  // namespace reg7140
