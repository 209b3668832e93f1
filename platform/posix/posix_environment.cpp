#include "platform/posix/posix_environment.h"

#include <cstdlib>
#include <cstring>

extern char** environ;

namespace reg7140 {
namespace {

char fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

const char* PosixEnvironment::get_env(const char* name) {
  if (const char* value = std::getenv(name)) return value;
  std::size_t length = std::strlen(name);
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const char* text = *entry;
    std::size_t i = 0;
    while (i < length && text[i] != '\0' && fold(text[i]) == fold(name[i])) ++i;
    if (i == length && text[i] == '=') return text + length + 1;
  }
  return nullptr;
}

}  // namespace reg7140
