#include "platform/posix/reg_index.h"

#include <limits>

#include "platform/ascii.h"
#include "platform/posix/reg_syntax.h"

namespace reg7140 {

namespace {

using namespace regedit4;

// Compared from the end, where paths that share a long beginning differ first.
bool same_folded_backwards(const char* a, std::string_view b) {
  for (std::size_t i = b.size(); i-- > 0;) {
    if (fold_ascii(a[i]) != fold_ascii(b[i])) return false;
  }
  return true;
}

}  // namespace

bool RegistryIndex::load(std::string_view text) {
  text_ = text;
  keys_.clear();
  // Offsets are kept in 32 bits.
  if (text.size() > std::numeric_limits<std::uint32_t>::max()) return false;
  LineCursor cursor(text);
  Line line;
  if (!cursor.next(&line) || line.text != kSignature) return false;

  const Discard nothing;
  const auto next_line = [&cursor](std::string_view* rest) {
    Line more;
    if (!cursor.next(&more)) return false;
    *rest = more.text;
    return true;
  };
  bool key_above = false;
  while (cursor.next(&line)) {
    const std::string_view l = trim_leading(line.text);
    const bool class_possible = key_above;
    key_above = false;
    if (l.empty()) continue;
    switch (l[0]) {
      case ';':
        // Only the line right under a key line carries a class string; other lines are comments.
        if (class_possible && l.substr(0, kClassTag.size()) == kClassTag &&
            !parse_class_line(l, nothing)) {
          return false;
        }
        break;
      case '[': {
        KeyLine key;
        regedit4::KeyLine parsed;
        if (!parse_key_line(l, &parsed)) return false;
        key.line = static_cast<std::uint32_t>(line.start);
        key.rest =
            static_cast<std::uint32_t>(parsed.rest.empty() ? l.data() + l.rfind(']') - text.data()
                                                           : parsed.rest.data() - text.data());
        key.length = static_cast<std::uint32_t>(parsed.rest.size());
        key.root = parsed.root;
        keys_.push_back(key);
        key_above = true;
        break;
      }
      case '"':
      case '@': {
        if (keys_.empty()) return false;
        std::uint32_t type = 0;
        if (!parse_value_line(l, next_line, nothing, &type, nothing)) return false;
        break;
      }
      default:
        return false;
    }
  }
  return cursor.plain();
}

RegistryIndex::Location RegistryIndex::locate(std::string_view rest) const {
  Location where;
  const std::size_t n = rest.size();
  for (std::size_t i = 0; i < keys_.size(); ++i) {
    const KeyLine& key = keys_[i];
    if (key.root != kLocalMachine || key.length < n) continue;
    const char* spelled = text_.data() + key.rest;
    if (key.length == n) {
      if (same_folded_backwards(spelled, rest)) where.sections.push_back(i);
    } else if (spelled[n] == '\\' && same_folded_backwards(spelled, rest)) {
      if (where.first_below == kNone) where.first_below = i;
      where.last_below = i;
    }
  }
  return where;
}

}  // namespace reg7140
