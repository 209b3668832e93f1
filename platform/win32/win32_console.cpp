#include "platform/win32/win32_console.h"

#include <windows.h>

#include <array>

#include "platform/text_mode.h"

namespace reg7140 {

void Win32Console::write(std::string_view text) {
  // Every LF goes out as CR LF, as through the run-time's text-mode stdout.
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == INVALID_HANDLE_VALUE || out == nullptr) return;
  std::array<char, 512> expanded;
  while (!text.empty()) {
    const std::size_t take = text.size() < expanded.size() / 2 ? text.size() : expanded.size() / 2;
    const std::size_t length =
        text_mode::expand_line_feeds(std::string_view(text.data(), take), expanded.data());
    text.remove_prefix(take);
    for (std::size_t done = 0; done < length;) {
      DWORD written = 0;
      if (!WriteFile(out, expanded.data() + done, static_cast<DWORD>(length - done), &written,
                     nullptr) ||
          written == 0) {
        return;
      }
      done += written;
    }
  }
}

}  // namespace reg7140
