#include "platform/win32/win32_environment.h"

#include <cstdlib>

namespace reg7140 {

const char* Win32Environment::get_env(const char* name) { return std::getenv(name); }

}  // namespace reg7140
