#include "platform/command_line.h"

namespace reg7140 {
namespace {

constexpr bool is_blank(char c) { return c == ' ' || c == '\t'; }

// The words as they are written into the caller's buffers. A write that does not fit is
// dropped and remembered, so that the split runs to its end without bounds checks of its own.
class WordSink {
 public:
  WordSink(std::span<char> text, std::span<char*> words) : text_(text), words_(words) {}

  void begin_word() {
    if (count_ < words_.size() && used_ <= text_.size()) {
      words_[count_] = text_.data() + used_;
    } else {
      full_ = true;
    }
    ++count_;
  }
  void put(char c) {
    if (used_ < text_.size()) {
      text_[used_] = c;
    } else {
      full_ = true;
    }
    ++used_;
  }
  void put_backslashes(std::size_t n) {
    for (; n > 0; --n) put('\\');
  }
  int finish() {
    begin_word();  // the closing nullptr's slot
    if (full_) return -1;
    words_[count_ - 1] = nullptr;
    return static_cast<int>(count_ - 1);
  }

 private:
  std::span<char> text_;
  std::span<char*> words_;
  std::size_t used_ = 0;
  std::size_t count_ = 0;
  bool full_ = false;
};

}  // namespace

int split_command_line(std::string_view line, std::string_view program_file, std::span<char> text,
                       std::span<char*> words) {
  WordSink out(text, words);
  const std::size_t end = line.size();
  std::size_t at = 0;

  // Argument 0 is a file name, which holds neither quotes nor meaningful backslashes: it runs
  // to the next quote when it starts with one, otherwise to the first blank.
  out.begin_word();
  if (line.empty()) {
    for (char c : program_file) out.put(c);
  } else if (line[0] == '"') {
    for (at = 1; at < end && line[at] != '"'; ++at) out.put(line[at]);
    if (at < end) ++at;
  } else {
    for (; at < end && !is_blank(line[at]); ++at) out.put(line[at]);
  }
  out.put('\0');

  bool quoted = false;
  for (;;) {
    while (at < end && is_blank(line[at])) ++at;
    if (at == end) break;
    out.begin_word();
    for (;;) {
      std::size_t backslashes = 0;
      for (; at < end && line[at] == '\\'; ++at) ++backslashes;
      if (at < end && line[at] == '"') {
        out.put_backslashes(backslashes / 2);
        if (backslashes % 2 == 1) {
          out.put('"');
          ++at;
        } else if (quoted && at + 1 < end && line[at + 1] == '"') {
          // Two quotes in a quoted part: one quote, and the quoted part ends.
          out.put('"');
          at += 2;
          quoted = false;
        } else {
          quoted = !quoted;
          ++at;
        }
        continue;
      }
      out.put_backslashes(backslashes);
      if (at == end || (!quoted && is_blank(line[at]))) break;
      out.put(line[at++]);
    }
    out.put('\0');
  }
  return out.finish();
}

}  // namespace reg7140
