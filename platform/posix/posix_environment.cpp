#include "platform/posix/posix_environment.h"

#include <unistd.h>

#include <array>
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

std::string_view PosixEnvironment::program_file() {
  if (program_.empty()) {
    std::array<char, 4096> path;
    const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
    if (n > 0 && static_cast<std::size_t>(n) < path.size()) {
      program_.assign(path.data(), static_cast<std::size_t>(n));
    }
  }
  return program_;
}

}  // namespace reg7140
