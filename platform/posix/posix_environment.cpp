#include "platform/posix/posix_environment.h"

#include <cstdlib>
#include <cstring>

#include "platform/ascii.h"

extern char** environ;

namespace reg7140 {

const char* PosixEnvironment::get_env(const char* name) {
  if (const char* value = std::getenv(name)) return value;
  std::size_t length = std::strlen(name);
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const char* text = *entry;
    std::size_t i = 0;
    while (i < length && text[i] != '\0' && fold_ascii(text[i]) == fold_ascii(name[i])) ++i;
    if (i == length && text[i] == '=') return text + length + 1;
  }
  return nullptr;
}

}  // namespace reg7140
