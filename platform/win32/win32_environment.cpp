#include "platform/win32/win32_environment.h"

#include <windows.h>

#include <array>
#include <cstdlib>

namespace reg7140 {

const char* Win32Environment::get_env(const char* name) { return std::getenv(name); }

std::string_view Win32Environment::program_file() {
  if (program_.empty()) {
    std::array<char, MAX_PATH + 1> path{};
    const DWORD length = GetModuleFileNameA(nullptr, path.data(), MAX_PATH);
    if (length > 0 && length < MAX_PATH) program_.assign(std::string_view(path.data(), length));
  }
  return program_.view();
}

}  // namespace reg7140
