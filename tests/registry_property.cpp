#include "tests/registry_property.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <vector>

#include "platform/ascii.h"
#include "platform/posix/file_registry.h"

namespace reg7140::test {

namespace {

using Bytes = std::vector<std::uint8_t>;

// The names keys and values are drawn from: few, so that calls meet what the file holds.
constexpr std::array<std::string_view, 4> kKeyNames = {"a", "Bb", "n/1", "0000"};
constexpr std::array<std::string_view, 8> kValueNames = {
    "", "v", "Value2", "q\"uote", "back\\slash", "ForcedConfig", "New0", "New1"};

std::string fold(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = fold_ascii(c);
  return out;
}

struct Value {
  std::uint32_t type = 0;
  Bytes data;
  bool operator==(const Value&) const = default;
};

// The registry below HKEY_LOCAL_MACHINE as the calls leave it: every key by its folded path with
// its values by folded name.
struct Model {
  std::map<std::string, std::map<std::string, Value>> keys;
  void add_key(const std::string& path) {
    for (std::size_t sep = path.find('\\'); sep != std::string::npos;
         sep = path.find('\\', sep + 1)) {
      keys[fold(path.substr(0, sep))];
    }
    keys[fold(path)];
  }
  bool has(const std::string& path) const { return keys.count(fold(path)) != 0; }
};

std::string describe(const Value& v) {
  std::ostringstream out;
  out << "type " << v.type << ":";
  for (std::uint8_t b : v.data) out << ' ' << static_cast<int>(b);
  return out.str();
}

class Generator {
 public:
  explicit Generator(Choices& choices) : c_(choices) {}

  bool one_in(std::uint32_t n) { return c_.below(n) == 0; }
  std::uint32_t below(std::uint32_t n) { return c_.below(n); }
  template <std::size_t N>
  std::string pick(const std::array<std::string_view, N>& items) {
    return std::string(items[c_.below(N)]);
  }

  std::string spell(std::string text) {
    for (char& ch : text) {
      if (std::isalpha(static_cast<unsigned char>(ch)) && one_in(2)) ch ^= 0x20;
    }
    return text;
  }
  std::string key_path(std::uint32_t max_depth) {
    std::string path = pick(kKeyNames);
    for (std::uint32_t depth = c_.below(max_depth); depth > 0; --depth)
      path += "\\" + pick(kKeyNames);
    return path;
  }
  std::string text() {
    static constexpr std::string_view kAlphabet = "aZ \\\"=[];\xe9@,";
    std::string out(one_in(8) ? 300 : c_.below(12), ' ');
    for (char& ch : out) ch = kAlphabet[c_.below(kAlphabet.size())];
    return out;
  }
  // Data as a caller sets it: any type and length, text a line can show or not.
  Value value() {
    const std::uint32_t kind = c_.below(6);
    Value v;
    v.type = kind == 0 || kind == 2 ? 1u
             : kind == 1            ? 4u
             : one_in(2)            ? 3u
                                    : 0x10u * c_.below(3) + 7;
    if (kind == 0) {
      const std::string t = text();
      v.data.assign(t.begin(), t.end());
      v.data.push_back(0);
      return v;
    }
    v.data.resize(kind == 1 ? (one_in(4) ? 2 : 4) : one_in(6) ? 300 : c_.below(9));
    for (auto& b : v.data) b = static_cast<std::uint8_t>(one_in(3) ? c_.below(16) : c_.below(256));
    return v;
  }

  std::string eol() { return one_in(3) ? "\n" : "\r\n"; }
  std::string indent() { return std::array<std::string, 4>{"", "", " ", "\t"}[c_.below(4)]; }
  static std::string quoted(std::string_view text) {
    std::string out = "\"";
    for (char ch : text) out += ch == '\\' || ch == '"' ? std::string{'\\', ch} : std::string{ch};
    return out + "\"";
  }
  std::string hex(std::uint32_t value, std::size_t width) {
    std::string out;
    do {
      out.insert(out.begin(), "0123456789abcdef"[value & 15]);
      value >>= 4;
    } while (value != 0);
    return spell(std::string(width > out.size() ? width - out.size() : 0, '0') + out);
  }

  // A value in any form the format allows, over as many lines as it comes: one-digit and
  // upper-case hex, blanks around commas, continuation lines.
  std::vector<std::string> lines_of(const std::string& name, const Value& v) {
    std::string line = indent() + (name.empty() && one_in(2) ? "@" : quoted(name)) + "=";
    const bool text = v.type == 1 && !v.data.empty() && v.data.back() == 0 &&
                      std::all_of(v.data.begin(), v.data.end() - 1,
                                  [](std::uint8_t b) { return b >= 0x20 || b == '\t'; });
    if (text && !one_in(4))
      return {line + quoted(std::string(v.data.begin(), v.data.end() - 1)) + eol()};
    if (v.type == 4 && v.data.size() == 4 && !one_in(4)) {
      std::uint32_t dword = 0;
      for (int i = 3; i >= 0; --i) dword = dword << 8 | v.data[static_cast<std::size_t>(i)];
      return {line + "dword:" + hex(dword, 1 + c_.below(8)) + eol()};
    }
    std::vector<std::string> lines;
    line += v.type == 3 && !one_in(4) ? "hex:" : "hex(" + hex(v.type, c_.below(3)) + "):";
    const bool as_regedit = one_in(2);  // two digits, no blanks, wrapped at column 77
    for (std::size_t i = 0; i < v.data.size(); ++i) {
      line += hex(v.data[i], as_regedit || one_in(2) ? 2 : 1);
      if (i + 1 == v.data.size()) break;
      line += !as_regedit && one_in(5) ? " , " : ",";
      if (as_regedit ? line.size() >= 77 : one_in(6) || line.size() > 90) {
        lines.push_back(line + (one_in(3) ? " \\" : "\\") + eol());
        line = indent() + " ";
      }
    }
    lines.push_back(line + eol());
    return lines;
  }

 private:
  Choices& c_;
};

// One line of the generated file with its line end, and the value it names ("" key for others).
struct OwnedLine {
  std::string bytes, key, value;
};

// A file as regedit or a person might have written it, and the model of what it holds: keys out
// of order and twice, comments, blank lines, class lines, repeated values, mixed line ends.
std::vector<OwnedLine> generate(Generator& gen, Model* model) {
  std::vector<OwnedLine> lines{{"REGEDIT4" + gen.eol(), "", ""}};
  const auto filler = [&] {
    for (std::uint32_t n = gen.below(3); n > 0; --n) {
      static constexpr std::array<std::string_view, 3> kComments = {"; comment", ";", ";class"};
      lines.push_back(
          {gen.one_in(2) ? gen.eol() : gen.indent() + gen.pick(kComments) + gen.eol(), "", ""});
    }
  };
  for (std::uint32_t sections = gen.below(9); sections > 0; --sections) {
    filler();
    const bool local = !gen.one_in(6);
    const std::string path = gen.key_path(3);
    lines.push_back({gen.indent() + "[" + gen.spell(local ? "HKEY_LOCAL_MACHINE" : "HKEY_USERS") +
                         "\\" + gen.spell(path) + "]" + (gen.one_in(5) ? " " : "") + gen.eol(),
                     "", ""});
    if (local) model->add_key(path);
    if (gen.one_in(4))
      lines.push_back({";class=" + Generator::quoted(gen.text()) + gen.eol(), "", ""});
    for (std::uint32_t values = gen.below(5); values > 0; --values) {
      filler();
      const std::string name = gen.spell(gen.pick(kValueNames));
      const Value v = gen.value();
      for (std::string& l : gen.lines_of(name, v))
        lines.push_back({l, local ? fold(path) : "", fold(name)});
      if (local) model->keys[fold(path)][fold(name)] = v;
    }
  }
  filler();
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

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A value as a query answers it, or nothing when the query fails.
std::optional<Value> query(Registry& registry, KeyHandle key, const std::string& name) {
  std::array<std::uint8_t, 512> buffer{};
  Value got;
  std::uint32_t size = 0;
  if (registry.query_value(key, name, &got.type, buffer, &size) != 0) return {};
  got.data.assign(buffer.begin(), buffer.begin() + size);
  return got;
}

// A fresh registry on the file, compared with the model over every key path and value name
// the generator and the calls use.
std::string compare_reading(const std::filesystem::path& path, const Model& model,
                            const std::set<std::string>& paths) {
  FileRegistry registry(path.string());
  for (const std::string& key_path : paths) {
    KeyHandle key = kNoKey;
    const bool opened = registry.open_key(key_path, KeyAccess::kRead, &key) == 0;
    if (opened != model.has(key_path)) return "key " + key_path + (opened ? " exists" : " missing");
    if (!opened) continue;
    const auto& values = model.keys.at(fold(key_path));
    for (std::string_view name : kValueNames) {
      const auto got = query(registry, key, std::string(name));
      const auto want = values.find(fold(name));
      if (got.has_value() != (want != values.end()) || (got && !(*got == want->second))) {
        return "key " + key_path + " value \"" + std::string(name) + "\": read " +
               (got ? describe(*got) : "nothing") + ", model " +
               (want != values.end() ? describe(want->second) : "nothing");
      }
    }
  }
  return "";
}

}  // namespace

std::string check_registry_property(Choices& choices, const std::filesystem::path& path) {
  Generator gen(choices);
  Model model;
  const std::vector<OwnedLine> original = generate(gen, &model);
  std::string text;
  for (const OwnedLine& line : original) text += line.bytes;
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;

  std::set<std::string> paths;
  for (int i = 0; i < 40; ++i) paths.insert(gen.key_path(3));
  if (std::string broke = compare_reading(path, model, paths); !broke.empty()) {
    return "as loaded: " + broke + "\n" + text;
  }

  const Model loaded = model;
  std::set<std::pair<std::string, std::string>> touched;
  std::ostringstream calls;
  struct Open {
    KeyHandle handle;
    std::string path;
    bool writable;
  };
  std::vector<Open> open;
  bool created_any = false;
  bool saved_between = false;  // a flush on the way saved a registry other than the loaded one
  struct stat before {};
  stat(path.c_str(), &before);
  {
    FileRegistry registry(path.string());
    for (std::uint32_t step = 4 + choices.below(24); step > 0; --step) {
      const std::uint32_t what = open.empty() ? 0 : choices.below(10);
      bool ok = true;
      if (what <= 1) {
        const std::string key_path = gen.spell(gen.key_path(3));
        const bool writable = !gen.one_in(4);
        KeyHandle key = kNoKey;
        const RegStatus status =
            registry.open_key(key_path, writable ? KeyAccess::kAllAccess : KeyAccess::kRead, &key);
        calls << "open " << key_path << " -> " << status << "\n";
        ok = (status == 0) == model.has(key_path);
        if (status == 0) open.push_back({key, fold(key_path), writable});
        if (!ok) return "open failed after\n" + calls.str() + "in\n" + text;
        continue;
      }
      const Open& at = open[choices.below(static_cast<std::uint32_t>(open.size()))];
      const std::string name = gen.spell(gen.pick(kValueNames));
      auto& values = model.keys[at.path];
      const RegStatus refused = at.writable ? 0 : 5;
      if (what == 2) {
        const Value v = gen.value();
        const RegStatus status = registry.set_value(at.handle, name, v.type, v.data);
        calls << "set " << at.path << " \"" << name << "\" " << describe(v) << " -> " << status
              << "\n";
        ok = status == refused;
        if (at.writable) values[fold(name)] = v;
        if (at.writable) touched.insert({at.path, fold(name)});
      } else if (what <= 4) {
        const RegStatus status = registry.delete_value(at.handle, name);
        calls << "delete " << at.path << " \"" << name << "\" -> " << status << "\n";
        const bool present = values.count(fold(name)) != 0;
        ok = status == (!at.writable ? 5 : present ? 0 : 2);
        if (at.writable && present) {
          values.erase(fold(name));
          touched.insert({at.path, fold(name)});
        }
      } else if (what == 5) {
        const std::string sub = gen.spell(gen.key_path(2));
        const std::string class_name = gen.one_in(3) ? "" : gen.text();
        const std::string full = at.path + "\\" + fold(sub);
        const bool existed = model.has(full);
        KeyHandle key = kNoKey;
        std::uint32_t disposition = 0;
        const RegStatus status =
            registry.create_key(at.handle, sub, class_name, &key, &disposition);
        calls << "create " << full << " -> " << status << " " << disposition << "\n";
        ok = status == refused && (!at.writable || disposition == (existed ? 2u : 1u));
        if (at.writable) {
          created_any = created_any || !existed;
          model.add_key(full);
          open.push_back({key, full, true});
        }
      } else if (what == 6) {
        calls << "flush\n";
        ok = registry.flush() == 0;
        saved_between = saved_between || created_any || model.keys != loaded.keys;
      } else {
        const auto got = query(registry, at.handle, name);
        const auto want = values.find(fold(name));
        calls << "query " << at.path << " \"" << name << "\"\n";
        ok = got.has_value() == (want != values.end()) && (!got || *got == want->second);
      }
      if (!ok) return "the last call failed after\n" + calls.str() + "in\n" + text;
    }
    if (registry.flush() != 0) return "final flush failed\n" + calls.str();
  }

  const std::string saved = read_file(path);
  const auto context = [&] {
    return "\ncalls:\n" + calls.str() + "file:\n" + text + "saved:\n" + saved;
  };
  for (const Open& o : open) paths.insert(o.path);
  if (std::string broke = compare_reading(path, model, paths); !broke.empty()) {
    return "as saved: " + broke + context();
  }
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
    if (at++ == lines.size()) return "line lost or moved: " + line.bytes + context();
  }
  // A registry that ends as it was loaded keeps its bytes, and is not written at all unless a
  // flush on the way saved another one.
  struct stat after {};
  stat(path.c_str(), &after);
  if (!created_any && model.keys == loaded.keys &&
      (saved != text || (!saved_between && after.st_ino != before.st_ino))) {
    return "the file was written although nothing changed" + context();
  }
  // A file with a byte no line may hold, anywhere, is refused whole.
  if (gen.one_in(2) && text.size() > 10) {
    std::string damaged = text;
    const std::size_t at_byte = 9 + gen.below(static_cast<std::uint32_t>(text.size() - 9));
    damaged.insert(at_byte, 1, std::array<char, 4>{'\x01', '\x1f', '\x00', '\r'}[gen.below(4)]);
    if (damaged[at_byte] == '\r' && damaged[at_byte + 1] == '\n') damaged[at_byte] = '\x0b';
    std::ofstream(path, std::ios::binary | std::ios::trunc) << damaged;
    FileRegistry registry(path.string());
    KeyHandle key = kNoKey;
    if (registry.open_key("a", KeyAccess::kRead, &key) != 1009) {
      return "a damaged file was read: byte " + std::to_string(at_byte) + " of\n" + damaged;
    }
  }
  return "";
}

}  // namespace reg7140::test
