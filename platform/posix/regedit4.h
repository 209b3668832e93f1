// The emulated machine's registry in memory, read from and written to a REGEDIT4 text file.
//
// Names of keys and values compare without regard to ASCII letter case and keep the case they
// were created with. Keys keep the order in which their header lines first appear; values keep
// the order of their lines; new keys and values go after their siblings.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace reg7140 {

// Hashing and equality that fold the ASCII letters only, as the registry compares names.
struct FoldedHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const;
};
struct FoldedEqual {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const;
};
bool names_equal(std::string_view a, std::string_view b);

class RegistryTree;

// REGEDIT4 text passed a piece at a time, so that a large registry never has to be held as one
// string. A source fills the span and returns how many bytes it stored, 0 at the end of the text
// or -1 when reading failed; a sink takes the next piece and returns false to stop the writing.
using TextSource = std::function<long(std::span<char>)>;
using TextSink = std::function<bool(std::string_view)>;

// A value's bytes. Most values of a registry are a few bytes long (dwords, flags, short text):
// those are kept inline, so that a large registry does not cost an allocation per value.
class ValueData {
 public:
  ValueData() = default;
  // Converts from and to a span of bytes, as the value's data is passed around.
  ValueData(std::span<const std::uint8_t> bytes) { assign(bytes); }
  ValueData(std::initializer_list<std::uint8_t> bytes)
      : ValueData(std::span<const std::uint8_t>(bytes.begin(), bytes.size())) {}
  ValueData(const ValueData& other) : ValueData(other.span()) {}
  ValueData(ValueData&& other) noexcept;
  ValueData& operator=(const ValueData& other);
  ValueData& operator=(ValueData&& other) noexcept;
  ~ValueData() { release(); }

  void assign(std::span<const std::uint8_t> bytes);

  const std::uint8_t* data() const { return on_heap() ? heap() : inline_; }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const std::uint8_t* begin() const { return data(); }
  const std::uint8_t* end() const { return data() + size_; }
  std::uint8_t operator[](std::size_t i) const { return data()[i]; }
  std::uint8_t back() const { return data()[size_ - 1]; }
  std::span<const std::uint8_t> span() const { return {data(), size_}; }
  operator std::span<const std::uint8_t>() const { return span(); }
  friend bool operator==(const ValueData& a, std::span<const std::uint8_t> b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
  }
  friend bool operator==(const ValueData& a, const ValueData& b) { return a == b.span(); }

 private:
  static constexpr std::size_t kInline = 24;

  bool on_heap() const { return size_ > kInline; }
  // Longer data lives on the heap; the pointer to it is kept in the inline bytes.
  std::uint8_t* heap() const;
  void release();

  std::uint32_t size_ = 0;
  std::uint8_t inline_[kInline] = {};
};

struct RegistryValue {
  std::string name;  // "" is the default value, written as @
  std::uint32_t type = 0;
  ValueData data;
};

class RegistryKey {
 public:
  explicit RegistryKey(std::string name, RegistryKey* parent)
      : name_(std::move(name)), parent_(parent) {}
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  const std::string& name() const { return name_; }
  RegistryKey* parent() const { return parent_; }
  bool has_class() const { return has_class_; }
  const std::string& class_name() const;
  const std::vector<RegistryValue>& values() const { return values_; }
  const std::vector<std::unique_ptr<RegistryKey>>& children() const { return children_; }
  // Whether the key has a header line of its own in the file (keys that exist only because a
  // descendant has a line have none).
  bool written() const { return written_; }

  RegistryKey* find_child(std::string_view name) const;
  const RegistryValue* find_value(std::string_view name) const;
  // Position of the value in values(), or npos.
  std::size_t value_index(std::string_view name) const;
  static constexpr std::size_t npos = static_cast<std::size_t>(-1);

 private:
  friend class RegistryTree;
  friend bool parse_regedit4(const TextSource& source, RegistryTree* tree, std::size_t* error_line);

  // What few keys have, kept apart so that the many other keys stay small: a class string, and
  // the indexes built once a key has many children or values, so that lookups stay constant-time.
  struct Extra {
    std::string class_name;
    std::unordered_map<std::string_view, RegistryKey*, FoldedHash, FoldedEqual> child_index;
    std::unordered_map<std::string, std::size_t, FoldedHash, FoldedEqual> value_index;
  };

  RegistryKey* add_child(std::string name);
  void rebuild_value_index();
  Extra& extra();

  std::string name_;
  RegistryKey* parent_;
  std::vector<RegistryValue> values_;
  std::vector<std::unique_ptr<RegistryKey>> children_;
  std::unique_ptr<Extra> extra_;
  std::uint64_t rank_ = 0;  // place among the written keys
  bool written_ = false;
  bool has_class_ = false;
};

enum class RegistryRoot {
  kClassesRoot,
  kCurrentUser,
  kLocalMachine,
  kUsers,
  kCurrentConfig,
  kDynData,
};
inline constexpr std::size_t kRootCount = 6;

class RegistryTree {
 public:
  RegistryTree();  // the six roots, empty
  RegistryTree(const RegistryTree&) = delete;
  RegistryTree& operator=(const RegistryTree&) = delete;
  RegistryTree(RegistryTree&&) = default;
  RegistryTree& operator=(RegistryTree&&) = default;

  RegistryKey* root(RegistryRoot which) const {
    return roots_[static_cast<std::size_t>(which)].get();
  }

  // The key at `path` (components separated by backslashes) below `from`; nullptr when it does
  // not exist or the path has an empty component.
  static RegistryKey* find(RegistryKey* from, std::string_view path);

  // Adds a new sub-key (which must not exist yet) with a header line of its own, placed after
  // the last written key of the parent's subtree.
  RegistryKey* create_key(RegistryKey* parent, std::string_view name);
  // Removes a key that has no sub-keys; used to take back a creation.
  void remove_leaf_key(RegistryKey* key);
  static void set_class(RegistryKey* key, std::string_view class_name);

  // Replaces the value in its place (keeping the name's stored case), or appends it.
  static void set_value(RegistryKey* key, std::string_view name, std::uint32_t type,
                        std::span<const std::uint8_t> data);
  // False when there is no such value.
  static bool delete_value(RegistryKey* key, std::string_view name);
  // Puts a value back at `index` (a deletion taken back).
  static void insert_value(RegistryKey* key, std::size_t index, RegistryValue value);

  // Whether a name or class string can be stored in a REGEDIT4 file and read back unchanged.
  static bool storable_name(std::string_view name);
  static bool storable_key_name(std::string_view name);

  // The whole tree as REGEDIT4 text with CR LF line ends.
  std::string write() const;
  // The same text handed to `sink` in pieces; false when the sink refused one.
  bool write(const TextSink& sink) const;

 private:
  friend bool parse_regedit4(const TextSource& source, RegistryTree* tree, std::size_t* error_line);

  void mark_written(RegistryKey* key, std::uint64_t rank);
  void place_after(RegistryKey* key, std::uint64_t after, bool at_end);
  void renumber();

  std::array<std::unique_ptr<RegistryKey>, kRootCount> roots_;
  std::vector<RegistryKey*> order_;  // the written keys by rank, which is their order in the file
};

// Reads REGEDIT4 text into a fresh tree. False on malformed text, with `error_line` (1-based)
// set when given; the tree is then unspecified.
bool parse_regedit4(std::string_view text, RegistryTree* tree, std::size_t* error_line = nullptr);
// The same for text read from `source`; a failed read makes the text malformed.
bool parse_regedit4(const TextSource& source, RegistryTree* tree,
                    std::size_t* error_line = nullptr);

// A canonical listing of a tree's content for comparing two registries: every key by its
// lower-cased path in sorted order with its class string, and under it every value by its
// lower-cased name in sorted order with type and data bytes in hex. Order in the file, letter
// case and formatting do not show.
std::string canonical_dump(const RegistryTree& tree);
// The same for REGEDIT4 text; "<malformed at line N>" when it does not parse.
std::string canonical_dump(std::string_view regedit4_text);

}  // namespace reg7140
