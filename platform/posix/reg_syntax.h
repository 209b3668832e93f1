// The REGEDIT4 text format, a line at a time: what each line is, the pieces it is made of, and the
// text of a new value line. Nothing here keeps state between calls; the loader, the value reader
// and the writer all go through these functions, so that they agree on every line.
//
// Sections of this file:
//   1. Lines: splitting the text, the bytes a line may hold
//   2. Quoted text
//   3. Key lines and class lines
//   4. Value lines (with hex lists continued over several lines)
//   5. Writing: value lines, key lines, class lines
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

#include "platform/registry.h"

namespace reg7140::regedit4 {

// ---- 1. Lines --------------------------------------------------------------------------------

inline constexpr std::string_view kSignature = "REGEDIT4";

inline bool is_blank(char c) { return c == ' ' || c == '\t'; }

inline std::string_view trim_leading(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && is_blank(s[i])) ++i;
  return s.substr(i);
}

inline std::string_view trim_trailing(std::string_view s) {
  std::size_t n = s.size();
  while (n > 0 && is_blank(s[n - 1])) --n;
  return s.substr(0, n);
}

// One line of the file: its text without the line end, and the offsets of its first byte and of
// the byte after its line end.
struct Line {
  std::string_view text;
  std::size_t start = 0;
  std::size_t end = 0;
};

// Splits text into lines (LF or CR LF ends a line; the last line may have no line end) and, on
// the way, checks that it holds only text: no control character but tab, and CR only in a line
// end or as the very last byte (the remains of a line end cut short). The text is looked at 64
// bytes at a time, with vector instructions where the machine has them: a large registry file
// is mostly this loop.
class LineCursor {
 public:
  explicit LineCursor(std::string_view text, std::size_t from = 0)
      : text_(text), pos_(from), block_(from) {}

  bool next(Line* line) {
    if (pos_ >= text_.size()) return false;
    std::size_t stop = text_.size();
    for (;;) {
      if (newlines_ != 0) {
        stop = base_ + static_cast<std::size_t>(__builtin_ctzll(newlines_));
        newlines_ &= newlines_ - 1;
        break;
      }
      if (block_ >= text_.size()) break;
      scan_block();
    }
    std::size_t content_end = stop;
    if (content_end > pos_ && text_[content_end - 1] == '\r') --content_end;
    line->text = text_.substr(pos_, content_end - pos_);
    line->start = pos_;
    line->end = stop < text_.size() ? stop + 1 : stop;
    pos_ = line->end;
    return true;
  }
  std::size_t position() const { return pos_; }
  // Whether all text split so far held only text.
  bool plain() const { return !bad_; }

 private:
  void scan_block();

  std::string_view text_;
  std::size_t pos_;
  std::size_t block_;           // where the next block starts
  std::size_t base_ = 0;        // where the block of `newlines_` starts
  std::uint64_t newlines_ = 0;  // LFs of that block not yet taken
  bool carried_cr_ = false;     // the block ended with a CR
  bool bad_ = false;
};

// Whether a name or class string fits on a line and reads back unchanged.
bool is_text_line(std::string_view line);

// ---- 2. Quoted text --------------------------------------------------------------------------

// A quoted string starting at s[*pos] == '"', with \\ and \" as the only escapes. Its text goes to
// `out` in pieces; on success *pos is just past the closing quote.
// Where the first '"' or '\\' at or after `from` is; s.size() when there is none.
std::size_t find_quote_or_escape(std::string_view s, std::size_t from);

template <class Out>
bool parse_quoted(std::string_view s, std::size_t* pos, Out&& out) {
  std::size_t i = *pos;
  if (i >= s.size() || s[i] != '"') return false;
  ++i;
  for (;;) {
    const std::size_t stop = find_quote_or_escape(s, i);
    if (stop == s.size()) return false;
    out(s.substr(i, stop - i));
    if (s[stop] == '"') {
      *pos = stop + 1;
      return true;
    }
    if (stop + 1 >= s.size()) return false;
    const char next = s[stop + 1];
    if (next != '\\' && next != '"') return false;
    out(s.substr(stop + 1, 1));
    i = stop + 2;
  }
}

// ---- 3. Key lines and class lines ------------------------------------------------------------

inline constexpr std::size_t kRootCount = 6;
inline constexpr std::array<std::string_view, kRootCount> kRootNames = {
    "HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",   "HKEY_LOCAL_MACHINE",
    "HKEY_USERS",        "HKEY_CURRENT_CONFIG", "HKEY_DYN_DATA",
};
inline constexpr unsigned kLocalMachine = 2;

// A key line "[ROOT\A\B]": the root's index and the rest of the path after the root's name
// ("" for the root itself, otherwise "\A\B"), a view into the line.
struct KeyLine {
  unsigned root = 0;
  std::string_view rest;
};

// `l` is the line without its leading blanks, starting with '['. False when it is malformed.
bool parse_key_line(std::string_view l, KeyLine* key);

inline constexpr std::string_view kClassTag = ";class=";

// The line right under a key line may give the key's class string: ;class="text".
// `l` starts with kClassTag. False when it is malformed.
template <class Out>
bool parse_class_line(std::string_view l, Out&& out) {
  std::size_t pos = kClassTag.size();
  return parse_quoted(l, &pos, out) && trim_leading(l.substr(pos)).empty();
}

// ---- 4. Value lines --------------------------------------------------------------------------

// A hex list is bytes of one or two hex digits separated by commas, blanks allowed around them;
// a backslash at the end of a line continues it on the next line.
enum class HexState { kStart, kAfterItem, kAfterComma };

namespace detail {
// The value of each byte as a hex digit, -1 for other bytes.
inline constexpr std::array<std::int8_t, 256> kHexValues = [] {
  std::array<std::int8_t, 256> values{};
  values.fill(-1);
  for (int i = 0; i < 10; ++i) values['0' + i] = static_cast<std::int8_t>(i);
  for (int i = 0; i < 6; ++i) {
    values['a' + i] = static_cast<std::int8_t>(10 + i);
    values['A' + i] = static_cast<std::int8_t>(10 + i);
  }
  return values;
}();
}  // namespace detail

inline int hex_digit(char c) { return detail::kHexValues[static_cast<std::uint8_t>(c)]; }

// 1 to 8 hex digits, nothing else.
bool parse_hex_number(std::string_view s, std::uint32_t* out);

// What a check that keeps nothing passes for the pieces it reads.
struct Discard {
  template <class T>
  void operator()(T) const {}
};

// How many bytes at the start of `s` are whole items "xx," of two hex digits and a comma, five
// at a time (0 where the machine has no vector instructions).
std::size_t skip_hex_items(std::string_view s);

// One line's part of a hex list; each byte goes to `out`.
template <class Out>
bool parse_hex_segment(std::string_view s, HexState* io_state, Out&& out) {
  HexState state = *io_state;
  const std::size_t n = s.size();
  std::size_t i = 0;
  bool ok = true;
  for (;;) {
    // Most items are two digits and a comma, as regedit writes them. A check that keeps nothing
    // passes over them in bulk.
    if (state != HexState::kAfterItem) {
      if constexpr (std::is_same_v<std::decay_t<Out>, Discard>) {
        const std::size_t skipped = skip_hex_items(s.substr(i));
        if (skipped > 0) state = HexState::kAfterComma;
        i += skipped;
      }
      while (i + 2 < n && s[i + 2] == ',') {
        const int high = hex_digit(s[i]);
        const int low = hex_digit(s[i + 1]);
        if ((high | low) < 0) break;
        out(static_cast<std::uint8_t>(high * 16 + low));
        i += 3;
        state = HexState::kAfterComma;
      }
    }
    while (i < n && is_blank(s[i])) ++i;
    if (i == n) break;
    if (state == HexState::kAfterItem) {
      if (s[i] != ',') {
        ok = false;
        break;
      }
      ++i;
      state = HexState::kAfterComma;
      continue;
    }
    int value = hex_digit(s[i]);
    if (value < 0) {
      ok = false;
      break;
    }
    ++i;
    if (i < n && hex_digit(s[i]) >= 0) {
      value = value * 16 + hex_digit(s[i]);
      ++i;
    }
    out(static_cast<std::uint8_t>(value));
    state = HexState::kAfterItem;
  }
  *io_state = state;
  return ok;
}

// A value line, `l` without its leading blanks, starting with '"' or '@'. The name goes to
// `name` in pieces (nothing for @, the default value), the data to `data` a byte at a time, the
// type to `*type`. A hex list continued with a backslash takes further lines from
// `next_line(&text)`, which returns false at the end of the file.
template <class NextLine, class NameOut, class DataOut>
bool parse_value_line(std::string_view l, NextLine&& next_line, NameOut&& name, std::uint32_t* type,
                      DataOut&& data) {
  std::size_t pos = 0;
  if (l.empty()) return false;
  if (l[0] == '@') {
    pos = 1;
  } else if (!parse_quoted(l, &pos, name)) {
    return false;
  }
  if (pos >= l.size() || l[pos] != '=') return false;
  std::string_view rest = l.substr(pos + 1);

  if (!rest.empty() && rest[0] == '"') {
    std::size_t end = 0;
    const auto text = [&data](std::string_view piece) {
      for (char c : piece) data(static_cast<std::uint8_t>(c));
    };
    if (!parse_quoted(rest, &end, text) || !trim_leading(rest.substr(end)).empty()) return false;
    data(std::uint8_t{0});
    *type = kRegSz;
    return true;
  }

  constexpr std::string_view kDword = "dword:";
  if (rest.substr(0, kDword.size()) == kDword) {
    std::uint32_t dword = 0;
    if (!parse_hex_number(trim_trailing(rest.substr(kDword.size())), &dword)) return false;
    for (int shift = 0; shift < 32; shift += 8) data(static_cast<std::uint8_t>(dword >> shift));
    *type = kRegDword;
    return true;
  }

  constexpr std::string_view kHex = "hex:";
  constexpr std::string_view kHexTyped = "hex(";
  if (rest.substr(0, kHex.size()) == kHex) {
    *type = kRegBinary;
    rest.remove_prefix(kHex.size());
  } else if (rest.substr(0, kHexTyped.size()) == kHexTyped) {
    const std::size_t close = rest.find("):");
    if (close == std::string_view::npos ||
        !parse_hex_number(rest.substr(kHexTyped.size(), close - kHexTyped.size()), type)) {
      return false;
    }
    rest.remove_prefix(close + 2);
  } else {
    return false;
  }

  HexState state = HexState::kStart;
  for (;;) {
    std::string_view segment = trim_trailing(rest);
    const bool continued = !segment.empty() && segment.back() == '\\';
    if (continued) segment.remove_suffix(1);
    if (!parse_hex_segment(segment, &state, data)) return false;
    if (!continued) break;
    if (!next_line(&rest)) return false;
  }
  return state != HexState::kAfterComma;
}

// ---- 5. Writing ------------------------------------------------------------------------------

void append_quoted(std::string* out, std::string_view text);

// A value as regedit writes it: "name"= (or @= for the default value), then "text" for a string
// that reads back unchanged, dword:0000000a for four bytes of REG_DWORD, and otherwise a hex list
// wrapped at regedit's column with continuation lines indented by two blanks. Every line ends
// with `eol`.
void append_value_line(std::string* out, std::string_view name, std::uint32_t type,
                       std::span<const std::uint8_t> data, std::string_view eol);

// "[HKEY_LOCAL_MACHINE" + rest + "]" and the line end.
void append_key_line(std::string* out, std::string_view rest, std::string_view eol);

// ;class="text" and the line end.
void append_class_line(std::string* out, std::string_view class_name, std::string_view eol);

}  // namespace reg7140::regedit4
