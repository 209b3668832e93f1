#include "platform/posix/regedit4.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace reg7140 {

namespace {

constexpr std::array<std::string_view, kRootCount> kRootNames = {
    "HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",   "HKEY_LOCAL_MACHINE",
    "HKEY_USERS",        "HKEY_CURRENT_CONFIG", "HKEY_DYN_DATA",
};

// Lookups switch from a scan to the hash index above this many entries.
constexpr std::size_t kIndexThreshold = 8;
// Spacing of the ranks of written keys, so that new keys fit between old ones.
constexpr std::uint64_t kRankGap = std::uint64_t{1} << 20;
// regedit wraps a hex list once a line has reached this many columns.
constexpr std::size_t kHexWrapColumn = 77;

char fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Bytes a line may hold: a control character other than tab means the file is not text.
bool is_text_byte(std::uint8_t c) { return c >= 0x20 || c == '\t'; }

std::string_view trim_leading(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && is_blank(s[i])) ++i;
  return s.substr(i);
}

std::string_view trim_trailing(std::string_view s) {
  std::size_t n = s.size();
  while (n > 0 && is_blank(s[n - 1])) --n;
  return s.substr(0, n);
}

// The value of each byte as a hex digit, -1 for other bytes: hex lists make up most of a large
// registry file.
constexpr std::array<std::int8_t, 256> kHexValues = [] {
  std::array<std::int8_t, 256> values{};
  values.fill(-1);
  for (int i = 0; i < 10; ++i) values['0' + i] = static_cast<std::int8_t>(i);
  for (int i = 0; i < 6; ++i) {
    values['a' + i] = static_cast<std::int8_t>(10 + i);
    values['A' + i] = static_cast<std::int8_t>(10 + i);
  }
  return values;
}();

int hex_digit(char c) { return kHexValues[static_cast<std::uint8_t>(c)]; }

// 1 to 8 hex digits, nothing else.
bool parse_hex_number(std::string_view s, std::uint32_t* out) {
  if (s.empty() || s.size() > 8) return false;
  std::uint32_t value = 0;
  for (char c : s) {
    int d = hex_digit(c);
    if (d < 0) return false;
    value = (value << 4) | static_cast<std::uint32_t>(d);
  }
  *out = value;
  return true;
}

// A quoted string starting at s[*pos] == '"', with \\ and \" as the only escapes. On success
// *pos is just past the closing quote.
bool parse_quoted(std::string_view s, std::size_t* pos, std::string* out) {
  out->clear();
  std::size_t i = *pos;
  if (i >= s.size() || s[i] != '"') return false;
  ++i;
  for (;;) {
    // The text up to the next quote or escape goes in at once.
    std::size_t stop = i;
    while (stop < s.size() && s[stop] != '"' && s[stop] != '\\') ++stop;
    if (stop == s.size()) return false;
    out->append(s.substr(i, stop - i));
    i = stop;
    if (s[i] == '"') {
      *pos = i + 1;
      return true;
    }
    if (i + 1 >= s.size()) return false;
    char next = s[i + 1];
    if (next != '\\' && next != '"') return false;
    out->push_back(next);
    i += 2;
  }
}

// A hex list is bytes of one or two hex digits separated by commas, blanks allowed around
// them; it may be spread over several lines. The state carries from one line to the next.
enum class HexState { kStart, kAfterItem, kAfterComma };

bool parse_hex_segment(std::string_view s, HexState* state, std::vector<std::uint8_t>* out) {
  std::size_t i = 0;
  for (;;) {
    // Most items are two digits and a comma, as regedit writes them.
    while (*state != HexState::kAfterItem && i + 2 < s.size() && s[i + 2] == ',') {
      int high = hex_digit(s[i]);
      int low = hex_digit(s[i + 1]);
      if (high < 0 || low < 0) break;
      out->push_back(static_cast<std::uint8_t>(high * 16 + low));
      i += 3;
      *state = HexState::kAfterComma;
    }
    while (i < s.size() && is_blank(s[i])) ++i;
    if (i == s.size()) return true;
    if (*state == HexState::kAfterItem) {
      if (s[i] != ',') return false;
      ++i;
      *state = HexState::kAfterComma;
      continue;
    }
    int value = hex_digit(s[i]);
    if (value < 0) return false;
    ++i;
    if (i < s.size() && hex_digit(s[i]) >= 0) {
      value = value * 16 + hex_digit(s[i]);
      ++i;
    }
    out->push_back(static_cast<std::uint8_t>(value));
    *state = HexState::kAfterItem;
  }
}

void append_quoted(std::string* out, std::string_view text) {
  out->push_back('"');
  // Runs without a character to escape go in at once.
  std::size_t run = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' || text[i] == '"') {
      out->append(text.substr(run, i - run));
      out->push_back('\\');
      run = i;
    }
  }
  out->append(text.substr(run));
  out->push_back('"');
}

constexpr char kHexDigits[] = "0123456789abcdef";

// "00," to "ff,": a whole list item at a time, since saves of large files write many of them.
constexpr std::array<char, 256 * 3> kHexItems = [] {
  std::array<char, 256 * 3> items{};
  for (std::size_t b = 0; b < 256; ++b) {
    items[b * 3] = kHexDigits[b >> 4];
    items[b * 3 + 1] = kHexDigits[b & 0x0F];
    items[b * 3 + 2] = ',';
  }
  return items;
}();

void append_hex_byte(std::string* out, std::uint8_t b) { out->append(&kHexItems[b * 3], 2); }

void append_hex_number(std::string* out, std::uint32_t value, int min_digits) {
  std::array<char, 8> digits;
  std::size_t n = 8;
  do {
    digits[--n] = kHexDigits[value & 0x0F];
    value >>= 4;
  } while (value != 0);
  while (8 - n < static_cast<std::size_t>(min_digits)) digits[--n] = '0';
  out->append(digits.data() + n, 8 - n);
}

// Whether REG_SZ data reads back unchanged when written as "text": the text, then exactly one
// zero byte, and nothing a line cannot hold.
bool writable_as_text(std::span<const std::uint8_t> data) {
  if (data.empty() || data.back() != 0) return false;
  for (std::size_t i = 0; i + 1 < data.size(); ++i) {
    if (!is_text_byte(data[i])) return false;
  }
  return true;
}

// Hex list wrapped as regedit wraps it: a backslash after a comma once the line is long enough,
// continuation lines indented by two blanks. Each line is put together before it is appended.
void append_hex_list(std::string* out, std::size_t line_start, std::span<const std::uint8_t> data) {
  // A line holds at most 26 items (78 characters) before it wraps, and the wrap takes 5.
  std::array<char, 96> line;
  std::size_t column = out->size() - line_start;
  std::size_t i = 0;
  while (i < data.size()) {
    char* p = line.data();
    for (;;) {
      const char* item = &kHexItems[data[i] * 3];
      if (++i == data.size()) {
        p = std::copy_n(item, 2, p);
        break;
      }
      p = std::copy_n(item, 3, p);
      column += 3;
      if (column >= kHexWrapColumn) {
        p = std::copy_n("\\\r\n  ", 5, p);
        column = 2;
        break;
      }
    }
    out->append(line.data(), static_cast<std::size_t>(p - line.data()));
  }
}

void append_value(std::string* out, const RegistryValue& value) {
  std::size_t line_start = out->size();
  if (value.name.empty()) {
    out->push_back('@');
  } else {
    append_quoted(out, value.name);
  }
  out->push_back('=');
  if (value.type == 1 && writable_as_text(value.data)) {
    append_quoted(out, std::string_view(reinterpret_cast<const char*>(value.data.data()),
                                        value.data.size() - 1));
  } else if (value.type == 4 && value.data.size() == 4) {
    std::uint32_t dword = std::uint32_t{value.data[0]} | (std::uint32_t{value.data[1]} << 8) |
                          (std::uint32_t{value.data[2]} << 16) |
                          (std::uint32_t{value.data[3]} << 24);
    out->append("dword:");
    append_hex_number(out, dword, 8);
  } else {
    if (value.type == 3) {
      out->append("hex:");
    } else {
      out->append("hex(");
      append_hex_number(out, value.type, 1);
      out->append("):");
    }
    append_hex_list(out, line_start, value.data);
  }
  out->append("\r\n");
}

void append_path(std::string* out, const RegistryKey* key) {
  if (key->parent() != nullptr) {
    append_path(out, key->parent());
    out->push_back('\\');
  }
  out->append(key->name());
}

std::string folded(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = fold(c);
  return out;
}

// Splits REGEDIT4 text into lines: LF or CR LF ends a line. The text comes from a source in
// pieces; a line stays valid until the next call.
class LineReader {
 public:
  explicit LineReader(const TextSource& source) : source_(source), buffer_(kReadPiece) {}

  bool next(std::string_view* line) {
    std::size_t searched = pos_;
    std::string_view l;
    for (;;) {
      std::size_t end = window_.find('\n', searched);
      if (end != std::string_view::npos) {
        l = window_.substr(pos_, end - pos_);
        pos_ = end + 1;
        break;
      }
      searched = window_.size() - pos_;
      if (!refill()) {
        if (failed_ || pos_ >= window_.size()) return false;
        l = window_.substr(pos_);
        pos_ = window_.size();
        break;
      }
    }
    if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
    ++number_;
    *line = l;
    return true;
  }
  std::size_t number() const { return number_; }
  bool failed() const { return failed_; }

 private:
  static constexpr std::size_t kReadPiece = 1 << 16;

  // Moves the unread rest to the front and reads more after it; false when nothing more came.
  bool refill() {
    if (at_end_) return false;
    std::size_t rest = window_.size() - pos_;
    std::copy(buffer_.begin() + static_cast<std::ptrdiff_t>(pos_),
              buffer_.begin() + static_cast<std::ptrdiff_t>(window_.size()), buffer_.begin());
    // A line longer than the buffer.
    if (rest == buffer_.size()) buffer_.resize(buffer_.size() * 2);
    long n = source_(std::span<char>(buffer_.data() + rest, buffer_.size() - rest));
    if (n <= 0) {
      at_end_ = true;
      failed_ = n < 0;
      n = 0;
    }
    window_ = std::string_view(buffer_.data(), rest + static_cast<std::size_t>(n));
    pos_ = 0;
    return n > 0;
  }

  const TextSource& source_;
  std::vector<char> buffer_;
  std::string_view window_;  // the buffered text
  std::size_t pos_ = 0;      // start of the next line in window_
  std::size_t number_ = 0;
  bool at_end_ = false;
  bool failed_ = false;
};

bool is_text_line(std::string_view line) {
  // No early exit: the whole line is checked in one pass the compiler can vectorise.
  unsigned control = 0;
  for (char c : line) {
    const unsigned u = static_cast<std::uint8_t>(c);
    control |= static_cast<unsigned>(u < 0x20) & static_cast<unsigned>(u != '\t');
  }
  return control == 0;
}

}  // namespace

std::size_t FoldedHash::operator()(std::string_view text) const {
  std::uint64_t h = 14695981039346656037ull;
  for (char c : text) {
    h ^= static_cast<std::uint8_t>(fold(c));
    h *= 1099511628211ull;
  }
  return static_cast<std::size_t>(h);
}

bool FoldedEqual::operator()(std::string_view a, std::string_view b) const {
  return names_equal(a, b);
}

bool names_equal(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

std::uint8_t* ValueData::heap() const {
  std::uint8_t* block = nullptr;
  std::memcpy(&block, inline_, sizeof block);
  return block;
}

void ValueData::release() {
  if (on_heap()) delete[] heap();
  size_ = 0;
}

void ValueData::assign(std::span<const std::uint8_t> bytes) {
  // `bytes` may lie in this value's own storage: it is copied before that is released.
  if (bytes.size() > kInline) {
    std::uint8_t* block = new std::uint8_t[bytes.size()];
    std::copy(bytes.begin(), bytes.end(), block);
    release();
    std::memcpy(inline_, &block, sizeof block);
  } else {
    std::uint8_t copy[kInline];
    std::copy(bytes.begin(), bytes.end(), copy);
    release();
    std::copy_n(copy, bytes.size(), inline_);
  }
  size_ = static_cast<std::uint32_t>(bytes.size());
}

ValueData::ValueData(ValueData&& other) noexcept : size_(other.size_) {
  std::memcpy(inline_, other.inline_, kInline);
  other.size_ = 0;
}

ValueData& ValueData::operator=(const ValueData& other) {
  if (this != &other) assign(other.span());
  return *this;
}

ValueData& ValueData::operator=(ValueData&& other) noexcept {
  if (this != &other) {
    release();
    size_ = other.size_;
    std::memcpy(inline_, other.inline_, kInline);
    other.size_ = 0;
  }
  return *this;
}

const std::string& RegistryKey::class_name() const {
  static const std::string kNone;
  return extra_ ? extra_->class_name : kNone;
}

RegistryKey::Extra& RegistryKey::extra() {
  if (!extra_) extra_ = std::make_unique<Extra>();
  return *extra_;
}

RegistryKey* RegistryKey::find_child(std::string_view name) const {
  if (extra_ && !extra_->child_index.empty()) {
    auto it = extra_->child_index.find(name);
    return it == extra_->child_index.end() ? nullptr : it->second;
  }
  for (const auto& child : children_) {
    if (names_equal(child->name_, name)) return child.get();
  }
  return nullptr;
}

std::size_t RegistryKey::value_index(std::string_view name) const {
  if (extra_ && !extra_->value_index.empty()) {
    auto it = extra_->value_index.find(name);
    return it == extra_->value_index.end() ? npos : it->second;
  }
  for (std::size_t i = 0; i < values_.size(); ++i) {
    if (names_equal(values_[i].name, name)) return i;
  }
  return npos;
}

const RegistryValue* RegistryKey::find_value(std::string_view name) const {
  std::size_t i = value_index(name);
  return i == npos ? nullptr : &values_[i];
}

RegistryKey* RegistryKey::add_child(std::string name) {
  children_.push_back(std::make_unique<RegistryKey>(std::move(name), this));
  RegistryKey* child = children_.back().get();
  if (extra_ && !extra_->child_index.empty()) {
    extra_->child_index.emplace(child->name_, child);
  } else if (children_.size() > kIndexThreshold) {
    auto& index = extra().child_index;
    for (const auto& c : children_) index.emplace(c->name_, c.get());
  }
  return child;
}

void RegistryKey::rebuild_value_index() {
  if (extra_) extra_->value_index.clear();
  if (values_.size() <= kIndexThreshold) return;
  auto& index = extra().value_index;
  for (std::size_t i = 0; i < values_.size(); ++i) index.emplace(values_[i].name, i);
}

RegistryTree::RegistryTree() {
  for (std::size_t i = 0; i < kRootCount; ++i) {
    roots_[i] = std::make_unique<RegistryKey>(std::string(kRootNames[i]), nullptr);
  }
}

RegistryKey* RegistryTree::find(RegistryKey* from, std::string_view path) {
  RegistryKey* key = from;
  std::size_t start = 0;
  for (;;) {
    std::size_t sep = path.find('\\', start);
    std::string_view component =
        path.substr(start, sep == std::string_view::npos ? std::string_view::npos : sep - start);
    if (component.empty()) return nullptr;
    key = key->find_child(component);
    if (key == nullptr) return nullptr;
    if (sep == std::string_view::npos) return key;
    start = sep + 1;
  }
}

void RegistryTree::mark_written(RegistryKey* key, std::uint64_t rank) {
  key->written_ = true;
  key->rank_ = rank;
  auto at = std::upper_bound(order_.begin(), order_.end(), rank,
                             [](std::uint64_t r, const RegistryKey* k) { return r < k->rank_; });
  order_.insert(at, key);
}

void RegistryTree::renumber() {
  std::uint64_t rank = 0;
  for (RegistryKey* key : order_) {
    rank += kRankGap;
    key->rank_ = rank;
  }
}

void RegistryTree::place_after(RegistryKey* key, std::uint64_t after, bool at_end) {
  if (at_end || order_.empty()) {
    mark_written(key, (order_.empty() ? 0 : order_.back()->rank_) + kRankGap);
    return;
  }
  auto first_after = [this](std::uint64_t rank) {
    return std::upper_bound(order_.begin(), order_.end(), rank,
                            [](std::uint64_t r, const RegistryKey* k) { return r < k->rank_; });
  };
  auto next = first_after(after);
  if (next == order_.end()) {
    mark_written(key, after + kRankGap);
    return;
  }
  if ((*next)->rank_ - after < 2) {
    RegistryKey* anchor = *(next - 1);  // the key ranked `after`
    renumber();
    after = anchor->rank_;
    next = first_after(after);
  }
  mark_written(key, after + ((*next)->rank_ - after) / 2);
}

RegistryKey* RegistryTree::create_key(RegistryKey* parent, std::string_view name) {
  // The last written key of the parent's subtree, the parent itself included.
  bool found = false;
  std::uint64_t last = 0;
  std::vector<const RegistryKey*> pending{parent};
  while (!pending.empty()) {
    const RegistryKey* k = pending.back();
    pending.pop_back();
    if (k->written_ && (!found || k->rank_ > last)) {
      found = true;
      last = k->rank_;
    }
    for (const auto& child : k->children_) pending.push_back(child.get());
  }
  RegistryKey* key = parent->add_child(std::string(name));
  place_after(key, last, !found);
  return key;
}

void RegistryTree::remove_leaf_key(RegistryKey* key) {
  RegistryKey* parent = key->parent_;
  if (key->written_) {
    auto at = std::lower_bound(order_.begin(), order_.end(), key->rank_,
                               [](const RegistryKey* k, std::uint64_t r) { return k->rank_ < r; });
    if (at != order_.end() && *at == key) order_.erase(at);
  }
  if (parent->extra_ && !parent->extra_->child_index.empty()) {
    parent->extra_->child_index.erase(key->name_);
  }
  auto& siblings = parent->children_;
  for (std::size_t i = siblings.size(); i-- > 0;) {
    if (siblings[i].get() == key) {
      siblings.erase(siblings.begin() + static_cast<std::ptrdiff_t>(i));
      break;
    }
  }
}

void RegistryTree::set_class(RegistryKey* key, std::string_view class_name) {
  key->has_class_ = true;
  key->extra().class_name.assign(class_name);
}

void RegistryTree::set_value(RegistryKey* key, std::string_view name, std::uint32_t type,
                             std::span<const std::uint8_t> data) {
  std::size_t i = key->value_index(name);
  if (i != RegistryKey::npos) {
    key->values_[i].type = type;
    key->values_[i].data.assign(data);
    return;
  }
  key->values_.push_back(RegistryValue{std::string(name), type, ValueData(data)});
  if (key->extra_ && !key->extra_->value_index.empty()) {
    key->extra_->value_index.emplace(key->values_.back().name, key->values_.size() - 1);
  } else if (key->values_.size() > kIndexThreshold) {
    key->rebuild_value_index();
  }
}

bool RegistryTree::delete_value(RegistryKey* key, std::string_view name) {
  std::size_t i = key->value_index(name);
  if (i == RegistryKey::npos) return false;
  key->values_.erase(key->values_.begin() + static_cast<std::ptrdiff_t>(i));
  if (key->extra_ && !key->extra_->value_index.empty()) key->rebuild_value_index();
  return true;
}

void RegistryTree::insert_value(RegistryKey* key, std::size_t index, RegistryValue value) {
  index = std::min(index, key->values_.size());
  key->values_.insert(key->values_.begin() + static_cast<std::ptrdiff_t>(index), std::move(value));
  key->rebuild_value_index();
}

bool RegistryTree::storable_name(std::string_view name) { return is_text_line(name); }

bool RegistryTree::storable_key_name(std::string_view name) {
  return !name.empty() && name.find('\\') == std::string_view::npos && is_text_line(name);
}

std::string RegistryTree::write() const {
  std::string text;
  write([&text](std::string_view piece) {
    text.append(piece);
    return true;
  });
  return text;
}

bool RegistryTree::write(const TextSink& sink) const {
  // A save of a large registry goes out in pieces of about this size, through one buffer.
  constexpr std::size_t kWritePiece = 1 << 18;
  std::string out;
  out.reserve(kWritePiece + 4096);
  out.append("REGEDIT4\r\n\r\n");
  for (const RegistryKey* key : order_) {
    out.push_back('[');
    append_path(&out, key);
    out.append("]\r\n");
    if (key->has_class_) {
      out.append(";class=");
      append_quoted(&out, key->class_name());
      out.append("\r\n");
    }
    for (const auto& value : key->values_) append_value(&out, value);
    out.append("\r\n");
    if (out.size() >= kWritePiece) {
      if (!sink(out)) return false;
      out.clear();
    }
  }
  return sink(out);
}

bool parse_regedit4(std::string_view text, RegistryTree* tree, std::size_t* error_line) {
  std::size_t offset = 0;
  const TextSource source = [text, &offset](std::span<char> buffer) {
    std::size_t n = std::min(buffer.size(), text.size() - offset);
    std::copy_n(text.data() + offset, n, buffer.data());
    offset += n;
    return static_cast<long>(n);
  };
  return parse_regedit4(source, tree, error_line);
}

bool parse_regedit4(const TextSource& source, RegistryTree* tree, std::size_t* error_line) {
  *tree = RegistryTree();
  LineReader reader(source);
  std::string_view line;
  auto fail = [&]() {
    if (error_line != nullptr) *error_line = reader.number();
    return false;
  };

  if (!reader.next(&line) || line != "REGEDIT4") return fail();

  RegistryKey* key = nullptr;
  bool after_header = false;
  std::uint64_t next_rank = kRankGap;
  std::string name;
  std::string text_data;
  std::vector<std::uint8_t> data;

  while (reader.next(&line)) {
    if (!is_text_line(line)) return fail();
    std::string_view l = trim_leading(line);
    bool header_above = after_header;
    after_header = false;
    if (l.empty()) continue;

    if (l[0] == ';') {
      constexpr std::string_view kClassTag = ";class=";
      // Only the line right under a key's header carries its class string.
      if (header_above && l.substr(0, kClassTag.size()) == kClassTag) {
        std::size_t pos = kClassTag.size();
        if (!parse_quoted(l, &pos, &text_data)) return fail();
        if (!trim_leading(l.substr(pos)).empty()) return fail();
        RegistryTree::set_class(key, text_data);
      }
      continue;
    }

    if (l[0] == '[') {
      std::size_t close = l.rfind(']');
      if (close == std::string_view::npos || !trim_leading(l.substr(close + 1)).empty()) {
        return fail();
      }
      std::string_view path = l.substr(1, close - 1);
      std::size_t sep = path.find('\\');
      std::string_view root_name = path.substr(0, sep);
      RegistryKey* k = nullptr;
      for (std::size_t i = 0; i < kRootCount; ++i) {
        if (names_equal(root_name, kRootNames[i])) k = tree->roots_[i].get();
      }
      if (k == nullptr) return fail();
      while (sep != std::string_view::npos) {
        std::size_t start = sep + 1;
        sep = path.find('\\', start);
        std::string_view component = path.substr(
            start, sep == std::string_view::npos ? std::string_view::npos : sep - start);
        if (component.empty()) return fail();
        RegistryKey* child = k->find_child(component);
        k = child != nullptr ? child : k->add_child(std::string(component));
      }
      if (!k->written_) {
        tree->mark_written(k, next_rank);
        next_rank += kRankGap;
      }
      // A key's values mostly come in one block: it gets no more room than they take.
      if (key != nullptr) key->values_.shrink_to_fit();
      key = k;
      after_header = true;
      continue;
    }

    if (l[0] != '"' && l[0] != '@') return fail();
    if (key == nullptr) return fail();
    std::size_t pos = 0;
    if (l[0] == '@') {
      name.clear();
      pos = 1;
    } else if (!parse_quoted(l, &pos, &name)) {
      return fail();
    }
    if (pos >= l.size() || l[pos] != '=') return fail();
    std::string_view rest = l.substr(pos + 1);

    if (!rest.empty() && rest[0] == '"') {
      std::size_t end = 0;
      if (!parse_quoted(rest, &end, &text_data)) return fail();
      if (!trim_leading(rest.substr(end)).empty()) return fail();
      data.assign(text_data.begin(), text_data.end());
      data.push_back(0);
      RegistryTree::set_value(key, name, 1, data);
      continue;
    }

    constexpr std::string_view kDword = "dword:";
    if (rest.substr(0, kDword.size()) == kDword) {
      std::uint32_t dword = 0;
      if (!parse_hex_number(trim_trailing(rest.substr(kDword.size())), &dword)) return fail();
      std::array<std::uint8_t, 4> bytes = {
          static_cast<std::uint8_t>(dword), static_cast<std::uint8_t>(dword >> 8),
          static_cast<std::uint8_t>(dword >> 16), static_cast<std::uint8_t>(dword >> 24)};
      RegistryTree::set_value(key, name, 4, bytes);
      continue;
    }

    std::uint32_t type = 0;
    constexpr std::string_view kHex = "hex:";
    constexpr std::string_view kHexTyped = "hex(";
    if (rest.substr(0, kHex.size()) == kHex) {
      type = 3;
      rest.remove_prefix(kHex.size());
    } else if (rest.substr(0, kHexTyped.size()) == kHexTyped) {
      std::size_t close = rest.find("):");
      if (close == std::string_view::npos) return fail();
      if (!parse_hex_number(rest.substr(kHexTyped.size(), close - kHexTyped.size()), &type)) {
        return fail();
      }
      rest.remove_prefix(close + 2);
    } else {
      return fail();
    }

    // A backslash at the end of a line continues the list on the next line.
    data.clear();
    HexState state = HexState::kStart;
    for (;;) {
      std::string_view segment = trim_trailing(rest);
      bool continued = !segment.empty() && segment.back() == '\\';
      if (continued) segment.remove_suffix(1);
      if (!parse_hex_segment(segment, &state, &data)) return fail();
      if (!continued) break;
      if (!reader.next(&line) || !is_text_line(line)) return fail();
      rest = line;
    }
    if (state == HexState::kAfterComma) return fail();
    RegistryTree::set_value(key, name, type, data);
  }
  return !reader.failed() || fail();
}

std::string canonical_dump(const RegistryTree& tree) {
  struct Entry {
    std::string path;
    const RegistryKey* key;
  };
  std::vector<Entry> entries;
  std::vector<const RegistryKey*> pending;
  for (std::size_t i = 0; i < kRootCount; ++i) {
    pending.push_back(tree.root(static_cast<RegistryRoot>(i)));
  }
  std::string path;
  while (!pending.empty()) {
    const RegistryKey* key = pending.back();
    pending.pop_back();
    path.clear();
    append_path(&path, key);
    entries.push_back(Entry{folded(path), key});
    for (const auto& child : key->children()) pending.push_back(child.get());
  }
  std::sort(entries.begin(), entries.end(),
            [](const Entry& a, const Entry& b) { return a.path < b.path; });

  std::string out;
  std::vector<std::pair<std::string, const RegistryValue*>> values;
  for (const auto& entry : entries) {
    out.append(entry.path);
    if (entry.key->has_class()) {
      out.append(" class=");
      append_quoted(&out, entry.key->class_name());
    }
    out.push_back('\n');
    values.clear();
    for (const auto& value : entry.key->values()) values.emplace_back(folded(value.name), &value);
    std::sort(values.begin(), values.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [folded_name, value] : values) {
      out.append("  ");
      append_quoted(&out, folded_name);
      out.append(" type=");
      append_hex_number(&out, value->type, 1);
      out.append(" data=");
      for (std::uint8_t b : value->data) append_hex_byte(&out, b);
      out.push_back('\n');
    }
  }
  return out;
}

std::string canonical_dump(std::string_view regedit4_text) {
  RegistryTree tree;
  std::size_t line = 0;
  if (!parse_regedit4(regedit4_text, &tree, &line)) {
    return "<malformed at line " + std::to_string(line) + ">";
  }
  return canonical_dump(tree);
}

}  // namespace reg7140
