#include "platform/posix/reg_syntax.h"

#include <algorithm>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

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

namespace {

// The bytes of a block that are LF, that are CR, and that may not stand in a text line.
struct BlockMasks {
  std::uint64_t lf = 0;
  std::uint64_t cr = 0;
  std::uint64_t control = 0;
};

BlockMasks classify(const unsigned char* bytes) {
  BlockMasks m;
#ifdef __SSE2__
  const __m128i lf = _mm_set1_epi8('\n');
  const __m128i cr = _mm_set1_epi8('\r');
  const __m128i tab = _mm_set1_epi8('\t');
  const __m128i last_control = _mm_set1_epi8(0x1F);
  for (int i = 0; i < 4; ++i) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 16 * i));
    const __m128i is_lf = _mm_cmpeq_epi8(v, lf);
    const __m128i is_cr = _mm_cmpeq_epi8(v, cr);
    const __m128i allowed = _mm_or_si128(_mm_or_si128(is_lf, is_cr), _mm_cmpeq_epi8(v, tab));
    const __m128i control =
        _mm_andnot_si128(allowed, _mm_cmpeq_epi8(_mm_min_epu8(v, last_control), v));
    const int shift = 16 * i;
    m.lf |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(is_lf))) << shift;
    m.cr |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(is_cr))) << shift;
    m.control |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(control)))
                 << shift;
  }
#else
  for (int i = 0; i < 64; ++i) {
    const unsigned char c = bytes[i];
    const std::uint64_t bit = std::uint64_t{1} << i;
    if (c == '\n') m.lf |= bit;
    if (c == '\r') m.cr |= bit;
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') m.control |= bit;
  }
#endif
  return m;
}

}  // namespace

void LineCursor::scan_block() {
  const std::size_t n = text_.size();
  const std::size_t count = std::min<std::size_t>(64, n - block_);
  const auto* bytes = reinterpret_cast<const unsigned char*>(text_.data() + block_);
  // The last block is padded with blanks, which are text and end no line.
  std::array<unsigned char, 64> padded;
  if (count < 64) {
    padded.fill(' ');
    std::memcpy(padded.data(), bytes, count);
    bytes = padded.data();
  }
  const BlockMasks m = classify(bytes);
  // A CR must be followed by an LF, unless it is the file's last byte.
  std::uint64_t lone_cr = m.cr & ~(m.lf >> 1) & ~(std::uint64_t{1} << 63);
  if (carried_cr_ && (m.lf & 1) == 0) bad_ = true;
  carried_cr_ = (m.cr >> 63) != 0;
  if (block_ + 64 >= n) {
    lone_cr &= ~(std::uint64_t{1} << (count - 1));
    carried_cr_ = false;
  }
  bad_ = bad_ || m.control != 0 || lone_cr != 0;
  // Line ends before the cursor's start are not lines of this cursor.
  std::uint64_t newlines = m.lf;
  if (pos_ > block_) newlines &= ~std::uint64_t{0} << (pos_ - block_);
  newlines_ = newlines;
  base_ = block_;
  block_ += 64;
}

std::size_t skip_hex_items(std::string_view s) {
  std::size_t i = 0;
#ifdef __SSE2__
  // Sixteen bytes "xx,xx,xx,xx,xx,x": commas at 2, 5, 8, 11 and 14, hex digits elsewhere.
  constexpr int kCommas = 0x4924;
  constexpr int kDigits = 0xFFFF ^ kCommas;
  const __m128i comma = _mm_set1_epi8(',');
  const __m128i zero = _mm_set1_epi8('0');
  const __m128i nine = _mm_set1_epi8(9);
  const __m128i lower = _mm_set1_epi8(0x20);
  const __m128i a = _mm_set1_epi8('a');
  const __m128i five = _mm_set1_epi8(5);
  for (; i + 16 <= s.size(); i += 15) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s.data() + i));
    // Unsigned "x - base <= limit" as "min(x - base, limit) == x - base".
    const __m128i decimal = _mm_sub_epi8(v, zero);
    const __m128i letter = _mm_sub_epi8(_mm_or_si128(v, lower), a);
    const __m128i is_decimal = _mm_cmpeq_epi8(_mm_min_epu8(decimal, nine), decimal);
    const __m128i is_letter = _mm_cmpeq_epi8(_mm_min_epu8(letter, five), letter);
    const int digits = _mm_movemask_epi8(_mm_or_si128(is_decimal, is_letter));
    const int commas = _mm_movemask_epi8(_mm_cmpeq_epi8(v, comma));
    if (commas != kCommas || (digits & kDigits) != kDigits) break;
  }
#endif
  return i;
}

std::size_t find_quote_or_escape(std::string_view s, std::size_t from) {
  std::size_t i = from;
#ifdef __SSE2__
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i escape = _mm_set1_epi8('\\');
  for (; i + 16 <= s.size(); i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s.data() + i));
    const int hits =
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, escape)));
    if (hits != 0) return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(hits)));
  }
#endif
  while (i < s.size() && s[i] != '"' && s[i] != '\\') ++i;
  return i;
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
  const std::size_t sep = std::min(path.find('\\'), path.size());
  const std::string_view root_name = path.substr(0, sep);
  // Most key lines spell their root as regedit does.
  const auto* root = std::find(kRootNames.begin(), kRootNames.end(), root_name);
  if (root == kRootNames.end()) {
    root = std::find_if(kRootNames.begin(), kRootNames.end(),
                        [&](std::string_view r) { return equals_folded(root_name, r); });
  }
  if (root == kRootNames.end()) return false;
  const std::string_view rest = path.substr(sep);
  // Every name after the root is non-empty: no backslash right after another or at the end.
  bool empty_name = !rest.empty() && rest.back() == '\\';
  for (std::size_t i = 1; i < rest.size(); ++i) {
    empty_name |= rest[i] == '\\' && rest[i - 1] == '\\';
  }
  if (empty_name) return false;
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
