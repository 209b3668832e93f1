// The registry of a loaded REGEDIT4 file with the changes of a run kept in memory, and the new
// text of the file: every line that no change touched stays as it was, byte for byte.
//
// Where new text goes:
// - a changed value is rewritten at its last line; a deleted value loses every line naming it;
// - a new value goes after the last value line of its key's last section;
// - a key without a key line of its own that gets a value gets one right before the first key
//   line of its subtree;
// - a new key goes after the last value line of its parent's subtree;
// - a new line takes the line end of the line before it (CR LF in an empty file).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/reg_index.h"

namespace reg7140 {

class RegistryStore {
 public:
  struct Key;

  // `index` must outlive the store.
  explicit RegistryStore(const RegistryIndex& index);
  RegistryStore(const RegistryStore&) = delete;
  RegistryStore& operator=(const RegistryStore&) = delete;
  ~RegistryStore();

  // The key at `path` below HKEY_LOCAL_MACHINE (names separated by backslashes, compared without
  // regard to ASCII letter case); nullptr when it does not exist or a name is empty.
  Key* find(std::string_view path);
  // The key at `path` below `parent`, created with every missing key on the way when it does not
  // exist (only the last gets a key line of its own, with `class_name` when that is not empty);
  // `created` tells which. nullptr when a name is empty.
  Key* create(Key* parent, std::string_view path, std::string_view class_name, bool* created);

  struct ValueView {
    std::uint32_t type;
    std::span<const std::uint8_t> data;
  };
  // False when the key has no such value.
  bool value(Key* key, std::string_view name, ValueView* value);
  void set_value(Key* key, std::string_view name, std::uint32_t type,
                 std::span<const std::uint8_t> data);
  // False when the key has no such value.
  bool delete_value(Key* key, std::string_view name);

  // Whether the registry now differs from the file as loaded: a new key, or a value added,
  // deleted or changed in type or bytes.
  bool differs() const;

  // The new text of the file: pieces of the old text and new lines, in order.
  struct Text {
    std::vector<std::string_view> pieces;
    std::deque<std::string> lines;  // what the new pieces point into
  };
  Text render() const;

 private:
  struct Value;
  struct Edit;

  Key* known(std::string_view rest) const;
  Key* reach(std::string_view rest);
  void read_values(Key* key);
  Value* find_value(Key* key, std::string_view name);
  std::size_t append_point(std::size_t section) const;
  std::size_t subtree_end(const Key* key) const;
  std::string_view eol_before(std::size_t offset) const;
  bool below(const Key* key, const Key* ancestor) const;

  const RegistryIndex& index_;
  std::vector<std::unique_ptr<Key>> keys_;  // every key a caller has reached, in that order
};

}  // namespace reg7140
