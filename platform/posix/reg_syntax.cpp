#include "platform/posix/reg_syntax.h"

#include <algorithm>

#include "platform/ascii.h"

namespace reg7140::regedit4 {

namespace {

// regedit wraps a hex list once a line has reached this many columns.
constexpr std::size_t kHexWrapColumn = 77;

constexpr char kHexDigits[] = "0123456789abcdef";

// "00," to "ff,": a whole list item at a time.
constexpr std::array<char, 256 * 3> kHexItems = [] {
  std::array<char, 256 * 3> items{};
  for (std::size_t b = 0; b < 256; ++b) {
    items[b * 3] = kHexDigits[b >> 4];
    items[b * 3 + 1] = kHexDigits[b & 0x0F];
    items[b * 3 + 2] = ',';
  }
  return items;
}();

bool is_text_byte(std::uint8_t c) { return c >= 0x20 || c == '\t'; }

// REG_SZ data reads back unchanged when written as "text": the text, then exactly one zero byte,
// and nothing a line cannot hold.
bool writable_as_text(std::span<const std::uint8_t> data) {
  if (data.empty() || data.back() != 0) return false;
  return std::all_of(data.begin(), data.end() - 1, is_text_byte);
}

// A hex list wrapped as regedit wraps it: a backslash after a comma once the line has reached the
// wrap column, continuation lines indented by two blanks.
void append_hex_list(std::string* out, std::size_t column, std::span<const std::uint8_t> data,
                     std::string_view eol) {
  for (std::size_t i = 0; i < data.size(); ++i) {
    const char* item = &kHexItems[data[i] * 3];
    if (i + 1 == data.size()) {
      out->append(item, 2);
      break;
    }
    out->append(item, 3);
    column += 3;
    if (column >= kHexWrapColumn) {
      out->push_back('\\');
      out->append(eol);
      out->append("  ");
      column = 2;
    }
  }
}

}  // namespace

bool plain_text(std::string_view text) {
  // One pass over bytes without an early exit, which the compiler turns into vector code: a large
  // file is mostly this loop.
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  const auto control = [](unsigned char c) {
    return static_cast<unsigned char>((c < 0x20) & (c != '\t') & (c != '\n') & (c != '\r'));
  };
  unsigned char bad = 0;
  for (std::size_t i = 0; i + 1 < n; ++i) {
    const unsigned char c = bytes[i];
    bad |= control(c) | static_cast<unsigned char>((c == '\r') & (bytes[i + 1] != '\n'));
  }
  // A CR may end the last line as the remains of a line end cut short.
  if (n > 0) bad |= control(bytes[n - 1]);
  return bad == 0;
}

bool is_text_line(std::string_view line) {
  return std::all_of(line.begin(), line.end(),
                     [](char c) { return is_text_byte(static_cast<std::uint8_t>(c)); });
}

bool parse_key_line(std::string_view l, KeyLine* key) {
  // The path ends at the last ']', after which only blanks may follow.
  const std::string_view line = trim_trailing(l);
  if (line.size() < 2 || line.back() != ']') return false;
  const std::string_view path = line.substr(1, line.size() - 2);
  const void* found = std::memchr(path.data(), '\\', path.size());
  const std::size_t sep =
      found == nullptr ? path.size()
                       : static_cast<std::size_t>(static_cast<const char*>(found) - path.data());
  const std::string_view root_name = path.substr(0, sep);
  const auto* root = std::find_if(kRootNames.begin(), kRootNames.end(),
                                  [&](std::string_view r) { return equals_folded(root_name, r); });
  if (root == kRootNames.end()) return false;
  const std::string_view rest = path.substr(sep);
  // Every name after the root is non-empty: no backslash right after another or at the end.
  for (std::size_t at = 0; at < rest.size();) {
    const void* next = std::memchr(rest.data() + at + 1, '\\', rest.size() - at - 1);
    const std::size_t stop =
        next == nullptr ? rest.size()
                        : static_cast<std::size_t>(static_cast<const char*>(next) - rest.data());
    if (stop == at + 1) return false;
    at = stop;
  }
  key->root = static_cast<unsigned>(root - kRootNames.begin());
  key->rest = rest;
  return true;
}

bool parse_hex_number(std::string_view s, std::uint32_t* out) {
  if (s.empty() || s.size() > 8) return false;
  std::uint32_t value = 0;
  for (char c : s) {
    const int d = hex_digit(c);
    if (d < 0) return false;
    value = (value << 4) | static_cast<std::uint32_t>(d);
  }
  *out = value;
  return true;
}

void append_quoted(std::string* out, std::string_view text) {
  out->push_back('"');
  for (char c : text) {
    if (c == '\\' || c == '"') out->push_back('\\');
    out->push_back(c);
  }
  out->push_back('"');
}

void append_value_line(std::string* out, std::string_view name, std::uint32_t type,
                       std::span<const std::uint8_t> data, std::string_view eol) {
  const std::size_t line_start = out->size();
  if (name.empty()) {
    out->push_back('@');
  } else {
    append_quoted(out, name);
  }
  out->push_back('=');
  if (type == kRegSz && writable_as_text(data)) {
    append_quoted(out,
                  std::string_view(reinterpret_cast<const char*>(data.data()), data.size() - 1));
  } else if (type == kRegDword && data.size() == 4) {
    out->append("dword:");
    for (std::size_t i = 4; i-- > 0;) out->append(&kHexItems[data[i] * 3], 2);
  } else {
    if (type == kRegBinary) {
      out->append("hex:");
    } else {
      out->append("hex(");
      std::array<char, 8> digits;
      std::size_t n = digits.size();
      std::uint32_t rest = type;
      do {
        digits[--n] = kHexDigits[rest & 0x0F];
        rest >>= 4;
      } while (rest != 0);
      out->append(digits.data() + n, digits.size() - n);
      out->append("):");
    }
    append_hex_list(out, out->size() - line_start, data, eol);
  }
  out->append(eol);
}

void append_key_line(std::string* out, std::string_view rest, std::string_view eol) {
  out->push_back('[');
  out->append(kRootNames[kLocalMachine]);
  out->append(rest);
  out->push_back(']');
  out->append(eol);
}

void append_class_line(std::string* out, std::string_view class_name, std::string_view eol) {
  out->append(kClassTag);
  append_quoted(out, class_name);
  out->append(eol);
}

}  // namespace reg7140::regedit4
