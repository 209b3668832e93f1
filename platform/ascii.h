// Letter case as the tool compares it: only the ASCII letters fold, so bytes of other code pages
// compare as they are.
#pragma once

#include <string_view>

namespace reg7140 {

constexpr char fold_ascii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr bool starts_with_folded(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (fold_ascii(text[i]) != fold_ascii(prefix[i])) return false;
  }
  return true;
}

constexpr bool equals_folded(std::string_view a, std::string_view b) {
  return a.size() == b.size() && starts_with_folded(a, b);
}

}  // namespace reg7140
