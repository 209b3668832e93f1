// A NUL-terminated text in a fixed buffer, for handing names and paths to C interfaces. The
// Windows build keeps away from std::string: its out-of-memory and length errors would link in
// the C++ exception machinery, which imports functions that Windows 95 does not have.
#pragma once

#include <array>
#include <cstddef>
#include <cstring>
#include <string_view>

namespace reg7140 {

template <std::size_t Capacity>
class FixedText {
 public:
  // False, leaving the text as it was, when `text` does not fit or holds a NUL (a C interface
  // would see only the part before it, and so another name).
  bool append(std::string_view text) {
    if (text.size() > Capacity - 1 - length_ || text.find('\0') != std::string_view::npos) {
      return false;
    }
    std::memcpy(buffer_.data() + length_, text.data(), text.size());
    length_ += text.size();
    buffer_[length_] = '\0';
    return true;
  }
  bool append(char c) { return append(std::string_view(&c, 1)); }

  bool assign(std::string_view text) {
    clear();
    return append(text);
  }

  void clear() {
    length_ = 0;
    buffer_[0] = '\0';
  }

  const char* c_str() const { return buffer_.data(); }
  char* data() { return buffer_.data(); }
  std::string_view view() const { return std::string_view(buffer_.data(), length_); }
  std::size_t size() const { return length_; }
  bool empty() const { return length_ == 0; }
  static constexpr std::size_t capacity() { return Capacity; }

 private:
  std::array<char, Capacity> buffer_{};
  std::size_t length_ = 0;
};

// MAX_PATH: the longest path that Windows takes, terminator included.
inline constexpr std::size_t kMaxPath = 260;
using PathText = FixedText<kMaxPath>;

}  // namespace reg7140
