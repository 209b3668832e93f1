#include "tests/registry_property.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <sstream>
#include <vector>

#include "platform/ascii.h"
#include "platform/posix/file_registry.h"

namespace reg7140::test {
namespace {

using Bytes = std::vector<std::uint8_t>;
struct Value {
  std::uint32_t type = 0;
  Bytes data;
  bool operator==(const Value&) const = default;
};
// The registry below HKEY_LOCAL_MACHINE: every key by its folded path, its values by folded name.
using Model = std::map<std::string, std::map<std::string, Value>>;

// Few names, so that calls meet what the file holds.
constexpr std::array<std::string_view, 4> kKeyNames = {"a", "Bb", "n/1", "0000"};
constexpr std::array<std::string_view, 8> kValueNames = {
    "", "v", "Value2", "q\"uote", "back\\slash", "ForcedConfig", "New0", "New1"};

std::string fold(std::string s) {
  for (char& c : s) c = fold_ascii(c);
  return s;
}
void add_key(Model* model, const std::string& path) {
  for (std::size_t sep = path.find('\\'); sep != std::string::npos; sep = path.find('\\', sep + 1))
    (*model)[fold(path.substr(0, sep))];
  (*model)[fold(path)];
}
std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The lines of data/registry_lines.txt: the text ("~" between its lines) and the value it holds.
struct Form {
  std::string text, name;
  std::optional<Value> value;
};
const std::vector<Form>& forms() {
  static const std::vector<Form> table = [] {
    std::vector<Form> rows;
    std::istringstream in(
        read_file(std::filesystem::path(__FILE__).parent_path() / "data/registry_lines.txt"));
    for (std::string line; std::getline(in, line);) {
      if (line.empty() || line[0] == '#') continue;
      const std::size_t bar = line.find(" | ");
      Form form{line.substr(0, bar), "", {}};
      if (bar != std::string::npos) {
        std::istringstream fields(line.substr(bar + 3));
        std::getline(fields, form.name, '|');
        form.name.pop_back();
        form.value = Value{};
        char bar_char = 0;
        fields >> form.value->type >> bar_char >> std::hex;
        for (unsigned byte = 0; fields >> byte;)
          form.value->data.push_back(static_cast<std::uint8_t>(byte));
      }
      rows.push_back(form);
    }
    return rows;
  }();
  return table;
}

struct Generator {
  const Choices& below;

  bool one_in(std::uint32_t n) const { return below(n) == 0; }
  template <std::size_t N>
  std::string pick(const std::array<std::string_view, N>& items) const {
    return std::string(items[below(N)]);
  }
  std::string spell(std::string text) const {
    for (char& ch : text)
      if ((ch | 0x20) >= 'a' && (ch | 0x20) <= 'z' && one_in(2)) ch ^= 0x20;
    return text;
  }
  std::string key_path(std::uint32_t max_depth) const {
    std::string path = pick(kKeyNames);
    for (std::uint32_t depth = below(max_depth); depth > 0; --depth) path += "\\" + pick(kKeyNames);
    return path;
  }
  std::string text() const {
    static constexpr std::string_view kAlphabet = "aZ \\\"=[];\xe9@,";
    std::string out(one_in(8) ? 300 : below(12), ' ');
    for (char& ch : out) ch = kAlphabet[below(kAlphabet.size())];
    return out;
  }
  // Data as a caller sets it: any type and length, text a line can show or not.
  Value value() const {
    const std::uint32_t kind = below(6);
    Value v{kind == 0 || kind == 2 ? 1u
            : kind == 1            ? 4u
            : one_in(2)            ? 3u
                                   : 0x10u * below(3) + 7,
            {}};
    if (kind == 0) {
      const std::string t = text();
      v.data.assign(t.c_str(), t.c_str() + t.size() + 1);  // with its terminating zero
      return v;
    }
    v.data.resize(kind == 1 ? (one_in(4) ? 2 : 4) : one_in(6) ? 300 : below(9));
    for (auto& b : v.data) b = static_cast<std::uint8_t>(one_in(3) ? below(16) : below(256));
    return v;
  }
  std::string eol() const { return one_in(3) ? "\n" : "\r\n"; }
};

// One line of the generated file with its line end, and the value it names ("" key for others).
struct OwnedLine {
  std::string bytes, key, value;
};

// A file as regedit or a person might have written it: keys out of order and twice, comments,
// blank lines, class lines, repeated values, other roots, mixed line ends; or no file at all.
std::vector<OwnedLine> generate(const Generator& gen, Model* model) {
  if (gen.one_in(12)) return {};
  std::vector<OwnedLine> lines{{"REGEDIT4" + gen.eol(), "", ""}, {"; head" + gen.eol(), "", ""}};
  for (std::uint32_t sections = gen.below(9); sections > 0; --sections) {
    const bool local = !gen.one_in(6);
    const std::string path = gen.key_path(3);
    lines.push_back({(gen.one_in(4) ? " [" : "[") +
                         gen.spell(local ? "HKEY_LOCAL_MACHINE" : "HKEY_USERS") + "\\" +
                         gen.spell(path) + "]" + (gen.one_in(5) ? " " : "") + gen.eol(),
                     "", ""});
    if (local) add_key(model, path);
    if (gen.one_in(4)) {
      std::string class_line = ";class=\"";
      for (char ch : gen.text())
        class_line += ch == '\\' || ch == '"' ? std::string{'\\', ch} : std::string{ch};
      lines.push_back({class_line + "\"" + gen.eol(), "", ""});
    }
    for (std::uint32_t n = gen.below(8); n > 0; --n) {
      const Form& form = forms()[gen.below(static_cast<std::uint32_t>(forms().size()))];
      for (std::size_t from = 0, to = 0; from <= form.text.size(); from = to + 1) {
        to = std::min(form.text.find('~', from), form.text.size());
        lines.push_back({form.text.substr(from, to - from) + gen.eol(),
                         form.value && local ? fold(path) : "", form.name});
      }
      if (form.value && local) (*model)[fold(path)][form.name] = *form.value;
    }
  }
  // The last line may lack its line end, or keep only the CR of it.
  if (gen.one_in(3)) {
    std::string& last = lines.back().bytes;
    const bool keep_cr = last.ends_with("\r\n") && gen.one_in(2);
    while (last.ends_with('\n') || last.ends_with('\r')) last.pop_back();
    if (keep_cr && !last.empty()) last += '\r';
    if (last.empty()) lines.pop_back();
  }
  return lines;
}

// What a query answers, and the buffer after it (all of it when the data did not fit).
struct Answer {
  RegStatus status;
  Value value;
  std::uint32_t size;
};
Answer query(Registry& registry, KeyHandle key, const std::string& name, std::size_t room) {
  std::array<std::uint8_t, 512> buffer;
  buffer.fill(0xEE);
  Answer a{};
  a.status = registry.query_value(key, name, &a.value.type, std::span(buffer).first(room), &a.size);
  a.value.data.assign(buffer.begin(), buffer.begin() + (a.status == 0 ? a.size : room));
  return a;
}

// A fresh registry on the file against the model, over every key path and value name given.
std::string compare_reading(const std::filesystem::path& path, const Model& model,
                            const std::set<std::string>& paths) {
  FileRegistry registry(path.string());
  for (const std::string& key_path : paths) {
    KeyHandle key = kNoKey;
    const auto want = model.find(fold(key_path));
    if ((registry.open_key(key_path, KeyAccess::kRead, &key) == 0) != (want != model.end()))
      return "key " + key_path;
    for (std::string_view name : kValueNames) {
      if (key == kNoKey) break;
      const Answer got = query(registry, key, std::string(name), 512);
      const auto value = want->second.find(fold(std::string(name)));
      if ((got.status == 0) != (value != want->second.end()) ||
          (got.status == 0 && !(got.value == value->second)))
        return "key " + key_path + " value " + std::string(name);
    }
  }
  return "";
}

}  // namespace

std::string check_registry_property(const Choices& below, const std::filesystem::path& path) {
  const Generator gen{below};
  Model model;
  const std::vector<OwnedLine> original = generate(gen, &model);
  std::string text;
  for (const OwnedLine& line : original) text += line.bytes;
  std::filesystem::remove(path);
  if (!original.empty()) std::ofstream(path, std::ios::binary) << text;

  std::set<std::string> paths;
  for (int i = 0; i < 40; ++i) paths.insert(gen.key_path(3));
  if (std::string broke = compare_reading(path, model, paths); !broke.empty())
    return "as loaded: " + broke + "\n" + text;

  const Model loaded = model;
  std::set<std::pair<std::string, std::string>> touched;
  struct Open {
    KeyHandle handle;
    std::string path;
    RegStatus refused;  // what a change through it answers: 0, 5 when read-only, 6 when closed
  };
  std::vector<Open> open{{999, "", 6}};  // a handle never given out
  bool created_any = false;
  bool saved_between = false;  // a flush on the way saved a registry other than the loaded one
  struct stat before {};
  const bool existed = stat(path.c_str(), &before) == 0;
  {
    FileRegistry registry(path.string());
    for (std::uint32_t step = 4 + below(24); step > 0; --step) {
      const std::uint32_t what = below(11);
      const std::uint32_t odd = below(12);  // below 5: a name the call must refuse
      bool ok = true;
      if (what <= 1) {
        std::string key_path = gen.spell(gen.key_path(3));
        if (odd < 5) {
          key_path =
              std::array<std::string, 5>{"\\" + key_path, key_path + "\\", key_path + "\\\\a",
                                         "HKEY_LOCAL_MACHINE\\" + key_path, ""}[odd];
        }
        const bool writable = !gen.one_in(4);
        KeyHandle key = 7;
        const RegStatus status =
            registry.open_key(key_path, writable ? KeyAccess::kAllAccess : KeyAccess::kRead, &key);
        ok = status == (odd >= 5 && model.count(fold(key_path)) ? 0 : 2) &&
             (status == 0) == (key != kNoKey);
        if (status == 0) open.push_back({key, fold(key_path), writable ? 0 : 5});
        if (!ok) return "open " + key_path + "\n" + text;
        continue;
      }
      Open& at = open[below(static_cast<std::uint32_t>(open.size()))];
      std::string name = gen.spell(gen.pick(kValueNames));
      if (what == 2) {
        const Value v = gen.value();
        if (odd == 0) name += '\n';
        const RegStatus want = at.refused != 0 ? at.refused : odd == 0 ? 87 : 0;
        ok = registry.set_value(at.handle, name, v.type, v.data) == want;
        if (want == 0) model[at.path][fold(name)] = v;
        if (want == 0) touched.insert({at.path, fold(name)});
      } else if (what <= 4) {
        const bool present = at.refused == 0 && model[at.path].count(fold(name)) != 0;
        ok = registry.delete_value(at.handle, name) == (at.refused != 0 ? at.refused
                                                        : present       ? 0
                                                                        : 2);
        if (present) model[at.path].erase(fold(name));
        if (present) touched.insert({at.path, fold(name)});
      } else if (what == 5) {
        std::string sub = gen.spell(gen.key_path(2));
        std::string class_name = gen.one_in(3) ? "" : gen.text();
        if (odd < 4)
          sub = std::array<std::string, 4>{"", sub + "\\", "\\" + sub, sub + "\\\\a"}[odd];
        if (odd == 4) (gen.one_in(2) ? sub : class_name) += '\n';
        const std::string full = at.path + "\\" + fold(sub);
        const bool existed_key = model.count(full) != 0;
        const RegStatus want = at.refused != 0 ? at.refused : odd < 4 ? 2 : odd == 4 ? 87 : 0;
        KeyHandle key = 7;
        std::uint32_t disposition = 0;
        const RegStatus status =
            registry.create_key(at.handle, sub, class_name, &key, &disposition);
        ok = status == want &&
             (status == 0 ? disposition == (existed_key ? 2u : 1u) : key == kNoKey);
        if (want == 0) {
          created_any = created_any || !existed_key;
          add_key(&model, full);
          open.push_back({key, full, 0});
        }
      } else if (what == 6) {
        ok = registry.flush() == 0;
        saved_between = saved_between || created_any || model != loaded;
      } else if (what == 7) {
        registry.close_key(at.handle);
        at.refused = 6;
      } else {
        const std::size_t room = gen.one_in(3) ? gen.below(6) : 512;
        const Answer got = query(registry, at.handle, name, room);
        const auto values = model.find(at.path);
        const Value* want = at.refused == 6 || !values->second.count(fold(name))
                                ? nullptr
                                : &values->second.at(fold(name));
        ok = at.refused == 6            ? got.status == 6
             : want == nullptr          ? got.status == 2
             : want->data.size() > room ? got.status == 234 && got.size == want->data.size() &&
                                              got.value == Value{want->type, Bytes(room, 0xEE)}
                                        : got.status == 0 && got.value == *want;
      }
      if (!ok)
        return "call " + std::to_string(what) + " on " + at.path + " \"" + name + "\"\n" + text;
    }
    if (registry.flush() != 0) return "final flush failed\n" + text;
  }

  const std::string saved = read_file(path);
  for (const Open& o : open) paths.insert(o.path);
  if (std::string broke = compare_reading(path, model, paths); !broke.empty())
    return "as saved: " + broke + "\n" + text + "saved:\n" + saved;
  // Every line of a value no call touched, and every other line, in its order.
  std::vector<std::string> lines;
  for (std::size_t start = 0, end = 0; start < saved.size(); start = end) {
    end = std::min(saved.find('\n', start), saved.size() - 1) + 1;
    lines.push_back(saved.substr(start, end - start));
  }
  std::size_t at = 0;
  for (const OwnedLine& line : original) {
    if (!line.key.empty() && touched.count({line.key, line.value})) continue;
    while (at < lines.size() && !lines[at].starts_with(line.bytes)) ++at;
    if (at++ == lines.size())
      return "line lost or moved: " + line.bytes + text + "saved:\n" + saved;
  }
  // A registry that ends as it was loaded keeps its bytes, and its file is not written (nor made)
  // unless a flush on the way saved another one.
  struct stat after {};
  const bool exists = stat(path.c_str(), &after) == 0;
  if (!created_any && model == loaded &&
      (saved != text || (!saved_between && (exists != existed || after.st_ino != before.st_ino))))
    return "the file was written although nothing changed\n" + text;
  // A file with a byte no line may hold, anywhere, is refused whole.
  if (gen.one_in(2) && text.size() > 10) {
    std::string damaged = text;
    const std::size_t at_byte = 9 + below(static_cast<std::uint32_t>(text.size() - 9));
    damaged.insert(at_byte, 1, std::array<char, 4>{'\x01', '\x1f', '\x00', '\r'}[below(4)]);
    if (damaged[at_byte] == '\r' && damaged[at_byte + 1] == '\n') damaged[at_byte] = '\x0b';
    std::ofstream(path, std::ios::binary | std::ios::trunc) << damaged;
    FileRegistry registry(path.string());
    KeyHandle key = kNoKey;
    if (registry.open_key("a", KeyAccess::kRead, &key) != 1009)
      return "a damaged file was read: byte " + std::to_string(at_byte) + " of\n" + damaged;
  }
  return "";
}

}  // namespace reg7140::test
