#include "platform/posix/posix_console.h"

#include <cstdio>

namespace reg7140 {

void PosixConsole::write(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  // Keeps the reports in order with anything a child process prints.
  std::fflush(stdout);
}

}  // namespace reg7140
