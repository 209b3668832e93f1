// Sections of this file:
//   1. Keys and values as the run has reached them
//   2. Finding and creating keys
//   3. Reading and changing values
//   4. Where new text goes
//   5. The new text of the file
#include "platform/posix/reg_store.h"

#include <algorithm>
#include <tuple>

#include "platform/ascii.h"
#include "platform/posix/reg_syntax.h"

namespace reg7140 {

using namespace regedit4;

// ---- 1. Keys and values as the run has reached them -------------------------------------------

struct RegistryStore::Value {
  std::string name;  // as first spelled
  // As loaded from the file (the last line naming it wins) ...
  bool had = false;
  std::uint32_t old_type = 0;
  std::vector<std::uint8_t> old_data;
  // ... and as it is now.
  bool has = false;
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
  // The lines naming it in the file, each with its continuation lines: [start, end).
  std::vector<std::pair<std::size_t, std::size_t>> lines;

  bool changed() const { return had != has || (has && (type != old_type || data != old_data)); }
};

struct RegistryStore::Key {
  std::string rest;  // "\A\B", spelled as the file spells it
  RegistryIndex::Location where;
  bool created = false;    // not in the file before this run
  bool own_line = false;   // created with a key line of its own
  Key* parent = nullptr;   // of a created key
  bool has_class = false;  // of a created key
  std::string class_name;
  bool values_read = false;
  std::vector<Value> values;

  bool in_file() const {
    return !where.sections.empty() || where.first_below != RegistryIndex::kNone;
  }
};

struct RegistryStore::Edit {
  std::size_t offset;  // where in the old text
  int order;           // among edits at the same offset: rewrites, then values, then keys
  std::size_t seq;
  std::size_t skip_to;  // old text replaced up to here
  std::string text;
};

namespace {

// Edits at one offset come in this order: a rewritten or deleted line first, then new values of
// the section that ends there, then the keys that go after it, then keys that go before the key
// line there. Values must come before any new key line, or they would belong to that key.
constexpr int kRewrite = 0;
constexpr int kNewValues = 1;
constexpr int kKeyAfter = 2;
constexpr int kKeyBefore = 3;

// A path below HKEY_LOCAL_MACHINE as a key line spells it after the root: "\A\B". False when a
// name is empty.
bool to_rest(std::string_view path, std::string* rest) {
  if (path.empty() || path.front() == '\\' || path.back() == '\\' ||
      path.find("\\\\") != std::string_view::npos) {
    return false;
  }
  rest->assign("\\");
  rest->append(path);
  return true;
}

bool is_below(std::string_view rest, std::string_view ancestor) {
  return rest.size() > ancestor.size() && rest[ancestor.size()] == '\\' &&
         starts_with_folded(rest, ancestor);
}

}  // namespace

// ---- 2. Finding and creating keys ---------------------------------------------------------------

RegistryStore::RegistryStore(const RegistryIndex& index) : index_(index) {}

RegistryStore::~RegistryStore() = default;

RegistryStore::Key* RegistryStore::known(std::string_view rest) const {
  for (const auto& key : keys_) {
    if (equals_folded(key->rest, rest)) return key.get();
  }
  return nullptr;
}

// A key of the file not reached before; nullptr when the file has no such key.
RegistryStore::Key* RegistryStore::reach(std::string_view rest) {
  RegistryIndex::Location where = index_.locate(rest);
  if (where.sections.empty() && where.first_below == RegistryIndex::kNone) return nullptr;
  auto key = std::make_unique<Key>();
  // The file's spelling: of its own key line, or of the first key line below it.
  const std::size_t spelled = where.sections.empty() ? where.first_below : where.sections.front();
  key->rest = index_.rest(spelled).substr(0, rest.size());
  key->where = std::move(where);
  keys_.push_back(std::move(key));
  return keys_.back().get();
}

RegistryStore::Key* RegistryStore::find(std::string_view path) {
  std::string rest;
  if (!to_rest(path, &rest)) return nullptr;
  Key* key = known(rest);
  return key != nullptr ? key : reach(rest);
}

RegistryStore::Key* RegistryStore::create(Key* parent, std::string_view path,
                                          std::string_view class_name, bool* created) {
  std::string relative;
  if (!to_rest(path, &relative)) return nullptr;
  *created = false;
  Key* at = parent;
  std::size_t start = 1;
  while (start < relative.size()) {
    std::size_t stop = relative.find('\\', start);
    if (stop == std::string::npos) stop = relative.size();
    std::string rest = at->rest + relative.substr(start - 1, stop - start + 1);
    Key* next = known(rest);
    if (next == nullptr && !at->created) next = reach(rest);
    if (next == nullptr) {
      auto key = std::make_unique<Key>();
      key->rest = std::move(rest);
      key->created = true;
      key->parent = at;
      key->values_read = true;
      keys_.push_back(std::move(key));
      next = keys_.back().get();
      *created = true;
    }
    at = next;
    start = stop + 1;
  }
  if (*created) {
    // The deepest key's line implies the keys between.
    at->own_line = true;
    at->has_class = !class_name.empty();
    at->class_name.assign(class_name);
  }
  return at;
}

// ---- 3. Reading and changing values -------------------------------------------------------------

void RegistryStore::read_values(Key* key) {
  if (key->values_read) return;
  key->values_read = true;
  const std::string_view text = index_.text();
  std::string name;
  std::vector<std::uint8_t> data;
  for (std::size_t section : key->where.sections) {
    const std::size_t end = index_.section_end(section);
    LineCursor cursor(text, index_.section_start(section));
    Line line;
    cursor.next(&line);  // the key line
    while (cursor.position() < end && cursor.next(&line)) {
      const std::string_view l = trim_leading(line.text);
      if (l.empty() || (l[0] != '"' && l[0] != '@')) continue;
      name.clear();
      data.clear();
      std::uint32_t type = 0;
      const bool parsed = parse_value_line(
          l,
          [&cursor](std::string_view* rest) {
            Line more;
            if (!cursor.next(&more)) return false;
            *rest = more.text;
            return true;
          },
          [&name](std::string_view piece) { name.append(piece); }, &type,
          [&data](std::uint8_t byte) { data.push_back(byte); });
      // The whole file was checked when it was loaded.
      if (!parsed) continue;
      Value* value = find_value(key, name);
      if (value == nullptr) {
        key->values.emplace_back();
        value = &key->values.back();
        value->name = name;
      }
      value->had = value->has = true;
      value->old_type = value->type = type;
      value->old_data = data;
      value->data = data;
      value->lines.emplace_back(line.start, cursor.position());
    }
  }
}

RegistryStore::Value* RegistryStore::find_value(Key* key, std::string_view name) {
  for (Value& value : key->values) {
    if (equals_folded(value.name, name)) return &value;
  }
  return nullptr;
}

bool RegistryStore::value(Key* key, std::string_view name, ValueView* view) {
  read_values(key);
  const Value* value = find_value(key, name);
  if (value == nullptr || !value->has) return false;
  *view = ValueView{value->type, value->data};
  return true;
}

void RegistryStore::set_value(Key* key, std::string_view name, std::uint32_t type,
                              std::span<const std::uint8_t> data) {
  read_values(key);
  Value* value = find_value(key, name);
  if (value == nullptr) {
    key->values.emplace_back();
    value = &key->values.back();
    value->name.assign(name);
  }
  value->has = true;
  value->type = type;
  value->data.assign(data.begin(), data.end());
}

bool RegistryStore::delete_value(Key* key, std::string_view name) {
  read_values(key);
  Value* value = find_value(key, name);
  if (value == nullptr || !value->has) return false;
  value->has = false;
  return true;
}

bool RegistryStore::differs() const {
  return std::any_of(keys_.begin(), keys_.end(), [](const auto& key) {
    return key->created || std::any_of(key->values.begin(), key->values.end(),
                                       [](const Value& value) { return value.changed(); });
  });
}

// ---- 4. Where new text goes ---------------------------------------------------------------------

// Where a new value of a section goes: after its last value line, or else after its key line
// and the class line right under it.
std::size_t RegistryStore::append_point(std::size_t section) const {
  const std::string_view text = index_.text();
  const std::size_t end = index_.section_end(section);
  LineCursor cursor(text, index_.section_start(section));
  Line line;
  cursor.next(&line);
  std::size_t point = line.end;
  bool first = true;
  while (cursor.position() < end && cursor.next(&line)) {
    const std::string_view l = trim_leading(line.text);
    if (first && l.substr(0, kClassTag.size()) == kClassTag) point = line.end;
    first = false;
    if (l.empty() || (l[0] != '"' && l[0] != '@')) continue;
    // Continuation lines belong to the value: the line that ends the list ends it.
    std::uint32_t type = 0;
    const auto nothing = [](auto) {};
    const auto next_line = [&cursor](std::string_view* rest) {
      Line more;
      if (!cursor.next(&more)) return false;
      *rest = more.text;
      return true;
    };
    parse_value_line(l, next_line, nothing, &type, nothing);
    point = cursor.position();
  }
  return point;
}

// Where a new key below `key` goes: after the last value line of its subtree.
std::size_t RegistryStore::subtree_end(const Key* key) const {
  if (!key->in_file()) return subtree_end(key->parent);
  std::size_t last = key->where.last_below;
  if (!key->where.sections.empty() &&
      (last == RegistryIndex::kNone || key->where.sections.back() > last)) {
    last = key->where.sections.back();
  }
  return append_point(last);
}

std::string_view RegistryStore::eol_before(std::size_t offset) const {
  const std::string_view text = index_.text();
  // At the end of a file whose last line has no line end, the last line end there counts.
  const std::size_t lf = offset == 0 ? std::string_view::npos : text.rfind('\n', offset - 1);
  if (lf == std::string_view::npos) return "\r\n";
  return lf > 0 && text[lf - 1] == '\r' ? std::string_view("\r\n") : std::string_view("\n");
}

bool RegistryStore::below(const Key* key, const Key* ancestor) const {
  return key == ancestor || is_below(key->rest, ancestor->rest);
}

// ---- 5. The new text of the file ----------------------------------------------------------------

RegistryStore::Text RegistryStore::render() const {
  std::vector<Edit> edits;
  std::size_t seq = 0;
  const auto add = [&](std::size_t offset, int order, std::size_t skip_to, std::string text) {
    edits.push_back(Edit{offset, order, seq++, skip_to, std::move(text)});
  };
  const auto value_lines = [](const Key& key, std::string_view eol) {
    std::string lines;
    for (const Value& value : key.values) {
      if (!value.had && value.has) {
        append_value_line(&lines, value.name, value.type, value.data, eol);
      }
    }
    return lines;
  };

  // New keys after their parents' subtrees, each anchor's in the order that keeps a subtree's
  // keys together: a key goes after the keys below its parent that are already there.
  struct Placed {
    std::size_t anchor;
    const Key* key;
  };
  std::vector<Placed> after;

  for (const auto& owned : keys_) {
    const Key& key = *owned;
    bool new_values = false;
    for (const Value& value : key.values) {
      if (!value.changed()) continue;
      if (!value.had) {
        new_values = true;
      } else if (!value.has) {
        for (const auto& [start, end] : value.lines) add(start, kRewrite, end, std::string());
      } else {
        const auto [start, end] = value.lines.back();
        std::string line;
        append_value_line(&line, value.name, value.type, value.data, eol_before(start));
        add(start, kRewrite, end, std::move(line));
      }
    }

    if (!key.where.sections.empty()) {
      if (new_values) {
        const std::size_t point = append_point(key.where.sections.back());
        add(point, kNewValues, point, value_lines(key, eol_before(point)));
      }
    } else if (key.in_file()) {
      if (new_values) {
        const std::size_t point = index_.section_start(key.where.first_below);
        const std::string_view eol = eol_before(point);
        std::string block;
        append_key_line(&block, key.rest, eol);
        block += value_lines(key, eol);
        block += eol;
        add(point, kKeyBefore, point, std::move(block));
      }
    } else if (key.own_line || new_values) {
      const std::size_t anchor = subtree_end(key.parent);
      auto at = after.begin();
      for (auto it = after.begin(); it != after.end(); ++it) {
        if (it->anchor == anchor && below(it->key, key.parent)) at = it + 1;
      }
      after.insert(at, Placed{anchor, &key});
    }
  }
  for (const Placed& placed : after) {
    const std::string_view eol = eol_before(placed.anchor);
    std::string block(eol);
    append_key_line(&block, placed.key->rest, eol);
    if (placed.key->has_class) append_class_line(&block, placed.key->class_name, eol);
    block += value_lines(*placed.key, eol);
    add(placed.anchor, kKeyAfter, placed.anchor, std::move(block));
  }

  std::sort(edits.begin(), edits.end(), [](const Edit& a, const Edit& b) {
    return std::tie(a.offset, a.order, a.seq) < std::tie(b.offset, b.order, b.seq);
  });

  Text out;
  const std::string_view text = index_.text();
  char last = '\n';
  const auto emit = [&out, &last](std::string_view piece) {
    if (piece.empty()) return;
    out.pieces.push_back(piece);
    last = piece.back();
  };
  if (text.empty() && !edits.empty()) {
    out.lines.push_back(std::string(kSignature) + "\r\n");
    emit(out.lines.back());
  }
  std::size_t pos = 0;
  for (Edit& edit : edits) {
    if (edit.offset > pos) emit(text.substr(pos, edit.offset - pos));
    pos = std::max(pos, edit.offset);
    if (!edit.text.empty()) {
      // A last line without a line end gets one before anything follows it; a CR left of a
      // line end cut short gets its LF.
      if (last != '\n') {
        out.lines.push_back(last == '\r' ? std::string("\n") : std::string(eol_before(pos)));
        emit(out.lines.back());
      }
      out.lines.push_back(std::move(edit.text));
      emit(out.lines.back());
    }
    pos = std::max(pos, edit.skip_to);
  }
  if (pos < text.size()) emit(text.substr(pos));
  return out;
}

}  // namespace reg7140
