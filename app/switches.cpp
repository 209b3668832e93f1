#include "app/switches.h"

#include <string_view>

#include "platform/ascii.h"

namespace reg7140 {

bool parse_switches(std::span<const char* const> arguments, Switches* switches) {
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::string_view argument = arguments[i] != nullptr ? arguments[i] : "";
    if (argument.empty() || (argument[0] != '-' && argument[0] != '/')) return false;
    const char letter = argument.size() > 1 ? argument[1] : '\0';
    if (letter == 'D' || letter == 'd') {
      const char digit = argument.size() > 2 ? argument[2] : '\0';
      switches->report_level = (digit >= '0' && digit <= '9') ? digit - '0' : 1;
    } else if (letter == 'I' || letter == 'i') {
      if (equals_folded(argument.substr(1), "inst")) switches->update_files = false;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace reg7140
