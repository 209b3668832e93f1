// A REGEDIT4 file as loaded: its text, checked line by line, and an index of its key lines. No
// object is built for a key or a value until someone asks for it: a large registry costs one
// pass over its text and a few bytes for each key line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace reg7140 {

class RegistryIndex {
 public:
  // A key line of the file.
  struct KeyLine {
    std::uint32_t line;  // offset of the line
    std::uint32_t rest;  // offset of the path after the root's name: "\A\B", or "]" for a root
    std::uint32_t length;
    std::uint32_t root;
  };

  // Where a key's lines are: the sections it has a key line of its own for, and the first and
  // last key lines of keys below it. A key exists in the file when either is there.
  struct Location {
    std::vector<std::size_t> sections;  // indexes of key lines, in file order
    std::size_t first_below = kNone;
    std::size_t last_below = kNone;
  };
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

  // Checks every line of `text`, which must stay in place as long as the index is used, and
  // indexes its key lines. False when the text is not a REGEDIT4 file this store reads.
  bool load(std::string_view text);

  std::string_view text() const { return text_; }
  std::size_t size() const { return keys_.size(); }
  const KeyLine& key_line(std::size_t i) const { return keys_[i]; }
  std::string_view rest(std::size_t i) const {
    return text_.substr(keys_[i].rest, keys_[i].length);
  }

  // `rest` is a path below HKEY_LOCAL_MACHINE as a key line spells it after the root: "\A\B".
  Location locate(std::string_view rest) const;

  // Offsets of the lines of key line i's section: its key line, and where the next key line (or
  // the end of the text) starts.
  std::size_t section_start(std::size_t i) const { return keys_[i].line; }
  std::size_t section_end(std::size_t i) const {
    return i + 1 < keys_.size() ? keys_[i + 1].line : text_.size();
  }

 private:
  std::string_view text_;
  std::vector<KeyLine> keys_;
};

}  // namespace reg7140
