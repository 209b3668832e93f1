#include "tests/registry_property.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <vector>

#include "platform/posix/file_registry.h"

namespace reg7140::test {

namespace {

using Bytes = std::vector<std::uint8_t>;

// The names keys and values are drawn from: few, so that calls meet what the file holds.
constexpr std::array<std::string_view, 4> kKeyNames = {"a", "Bb", "n/1", "0000"};
constexpr std::array<std::string_view, 6> kValueNames = {"",        "v",           "Value2",
                                                         "q\"uote", "back\\slash", "ForcedConfig"};

std::string fold(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  return out;
}

struct ModelValue {
  std::uint32_t type = 0;
  Bytes data;
  bool operator==(const ModelValue&) const = default;
};

// The registry below HKEY_LOCAL_MACHINE as the calls leave it: every key by its folded path, with
// its values by folded name; class strings of the keys the calls created.
struct Model {
  std::map<std::string, std::map<std::string, ModelValue>> keys;
  std::map<std::string, std::string> classes;

  void add_key(const std::string& path) {
    for (std::size_t sep = path.find('\\'); sep != std::string::npos;
         sep = path.find('\\', sep + 1)) {
      keys[fold(path.substr(0, sep))];
    }
    keys[fold(path)];
  }
  bool has(const std::string& path) const { return keys.count(fold(path)) != 0; }
};

// One line of the generated file with its line end, and the value it names (an empty key for
// other lines).
struct OwnedLine {
  std::string bytes;
  std::string key;
  std::string value;
};

class Generator {
 public:
  explicit Generator(Choices& choices) : c_(choices) {}

  bool one_in(std::uint32_t n) { return c_.below(n) == 0; }
  template <class T, std::size_t N>
  const T& pick(const std::array<T, N>& items) {
    return items[c_.below(N)];
  }

  std::string spell(std::string_view name) {
    std::string out(name);
    for (char& ch : out) {
      if (ch >= 'a' && ch <= 'z' && one_in(2)) ch = static_cast<char>(ch - 'a' + 'A');
      if (ch >= 'A' && ch <= 'Z' && one_in(2)) ch = static_cast<char>(ch - 'A' + 'a');
    }
    return out;
  }

  std::string key_path(std::size_t max_depth) {
    std::string path;
    const std::size_t depth = 1 + c_.below(static_cast<std::uint32_t>(max_depth));
    for (std::size_t i = 0; i < depth; ++i) {
      if (!path.empty()) path += '\\';
      path += pick(kKeyNames);
    }
    return path;
  }

  std::string value_name() {
    if (one_in(8)) return "New" + std::to_string(c_.below(3));
    return spell(pick(kValueNames));
  }

  Bytes bytes(std::size_t length) {
    Bytes out(length);
    for (auto& b : out) b = static_cast<std::uint8_t>(one_in(3) ? c_.below(16) : c_.below(256));
    return out;
  }
  std::size_t length() { return one_in(6) ? 300 : c_.below(9); }

  std::string text() {
    static constexpr std::string_view kAlphabet = "aZ \\\"=[];\xe9@,";
    std::string out;
    const std::size_t n = one_in(8) ? 300 : c_.below(12);
    for (std::size_t i = 0; i < n; ++i) out += kAlphabet[c_.below(kAlphabet.size())];
    return out;
  }

  // Data as a caller would set it: any type, any length, text that a line can show or not.
  ModelValue data() {
    ModelValue v;
    switch (c_.below(6)) {
      case 0: {
        const std::string t = text();
        v.type = 1;
        v.data.assign(t.begin(), t.end());
        v.data.push_back(0);
        break;
      }
      case 1:
        v.type = 4;
        v.data = bytes(one_in(4) ? 2 : 4);
        break;
      case 2:
        v.type = 1;
        v.data = bytes(length());
        break;
      default:
        v.type = one_in(2) ? 3 : std::array<std::uint32_t, 5>{0, 2, 7, 0x10, 0xFFFF}[c_.below(5)];
        v.data = bytes(length());
    }
    return v;
  }

  std::string eol() { return one_in(3) ? "\n" : "\r\n"; }
  std::string indent() { return std::array<std::string, 5>{"", "", " ", "\t", "  "}[c_.below(5)]; }

  static std::string quoted(std::string_view text) {
    std::string out = "\"";
    for (char ch : text) {
      if (ch == '\\' || ch == '"') out += '\\';
      out += ch;
    }
    return out + "\"";
  }

  std::string hex_digits(std::uint32_t value, std::size_t min_width) {
    static constexpr std::string_view kDigits = "0123456789abcdef";
    std::string out;
    do {
      out.insert(out.begin(), kDigits[value & 15]);
      value >>= 4;
    } while (value != 0);
    while (out.size() < min_width) out.insert(out.begin(), '0');
    return spell(out);
  }

  // A value written in any of the forms the format allows, spread over lines as it comes.
  std::vector<std::string> value_lines(const std::string& name, const ModelValue& v) {
    std::vector<std::string> lines;
    std::string line = indent() + (name.empty() && one_in(2) ? "@" : quoted(name)) + "=";
    const bool text = v.type == 1 && !v.data.empty() && v.data.back() == 0 &&
                      std::count(v.data.begin(), v.data.end(), 0) == 1 &&
                      std::none_of(v.data.begin(), v.data.end() - 1,
                                   [](std::uint8_t b) { return b < 0x20 && b != '\t'; });
    if (text && !one_in(4)) {
      lines.push_back(line + quoted(std::string(v.data.begin(), v.data.end() - 1)) + eol());
      return lines;
    }
    if (v.type == 4 && v.data.size() == 4 && !one_in(4)) {
      const std::uint32_t dword = v.data[0] | (v.data[1] << 8) | (v.data[2] << 16) |
                                  (static_cast<std::uint32_t>(v.data[3]) << 24);
      lines.push_back(line + "dword:" + hex_digits(dword, 1 + c_.below(8)) + eol());
      return lines;
    }
    line += v.type == 3 && !one_in(4) ? "hex:" : "hex(" + hex_digits(v.type, c_.below(3)) + "):";
    for (std::size_t i = 0; i < v.data.size(); ++i) {
      line += hex_digits(v.data[i], one_in(2) ? 2 : 1);
      if (i + 1 == v.data.size()) break;
      line += one_in(5) ? " , " : ",";
      if (one_in(6) || line.size() > 90) {
        lines.push_back(line + (one_in(3) ? " \\" : "\\") + eol());
        line = indent() + (one_in(3) ? " " : "");
      }
    }
    lines.push_back(line + eol());
    return lines;
  }

  // A file as regedit or a person might have written it, and the model of what it holds.
  std::vector<OwnedLine> file(Model* model) {
    std::vector<OwnedLine> lines;
    const auto other = [&](std::string bytes) { lines.push_back({std::move(bytes), "", ""}); };
    other("REGEDIT4" + eol());
    const auto filler = [&] {
      while (one_in(3)) {
        other(one_in(2) ? eol()
                        : indent() +
                              pick(std::array<std::string_view, 3>{"; comment", ";",
                                                                   ";class is not here"})
                                  .data() +
                              eol());
      }
    };
    const std::size_t sections = c_.below(9);
    for (std::size_t s = 0; s < sections; ++s) {
      filler();
      const bool local = !one_in(6);
      const std::string path = key_path(3);
      std::string spelled;
      for (std::size_t i = 0; i < path.size(); ++i) spelled += spell(path.substr(i, 1));
      other(indent() + "[" + spell(local ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER") + "\\" +
            spelled + "]" + (one_in(5) ? " " : "") + eol());
      if (local) model->add_key(path);
      if (one_in(4)) other(";class=" + quoted(text()) + eol());
      const std::size_t values = c_.below(5);
      for (std::size_t i = 0; i < values; ++i) {
        filler();
        const std::string name = value_name();
        const ModelValue v = data();
        for (std::string& l : value_lines(name, v)) {
          lines.push_back({std::move(l), local ? fold(path) : "", fold(name)});
        }
        if (local) model->keys[fold(path)][fold(name)] = v;
      }
    }
    filler();
    // The last line may lack its line end, or keep only the CR of it.
    if (one_in(3)) {
      std::string& last = lines.back().bytes;
      const bool keep_cr = last.size() >= 2 && last.substr(last.size() - 2) == "\r\n" && one_in(2);
      while (!last.empty() && (last.back() == '\n' || last.back() == '\r')) last.pop_back();
      if (keep_cr && !last.empty()) last += '\r';
      if (last.empty()) lines.pop_back();
      if (lines.empty()) other("REGEDIT4");
    }
    return lines;
  }

 private:
  Choices& c_;
};

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    lines.push_back(text.substr(start, end - start));
    start = end;
  }
  return lines;
}

std::string describe(const ModelValue* v) {
  if (v == nullptr) return "<none>";
  std::ostringstream out;
  out << "type " << v->type << ":";
  for (std::uint8_t b : v->data) out << ' ' << static_cast<int>(b);
  return out.str();
}

// What a fresh registry on the file holds, compared with the model key by key and value by
// value, over every key and value name the generator and the calls use.
std::string compare_reading(const std::filesystem::path& path, const Model& model,
                            const std::set<std::string>& paths,
                            const std::set<std::string>& names) {
  FileRegistry registry(path.string());
  for (const std::string& key_path : paths) {
    KeyHandle key = kNoKey;
    const RegStatus opened = registry.open_key(key_path, KeyAccess::kRead, &key);
    if ((opened == kErrorSuccess) != model.has(key_path)) {
      return "key " + key_path + ": open gives " + std::to_string(opened);
    }
    if (opened != kErrorSuccess) continue;
    const auto& values = model.keys.at(fold(key_path));
    for (const std::string& name : names) {
      std::array<std::uint8_t, 512> buffer{};
      ModelValue got;
      std::uint32_t size = 0;
      const RegStatus status = registry.query_value(key, name, &got.type, buffer, &size);
      got.data.assign(buffer.begin(), buffer.begin() + (status == kErrorSuccess ? size : 0));
      const auto expected = values.find(fold(name));
      const ModelValue* want = expected == values.end() ? nullptr : &expected->second;
      if (status != kErrorSuccess ? want != nullptr : want == nullptr || !(got == *want)) {
        return "key " + key_path + " value \"" + name + "\": read " +
               (status == kErrorSuccess ? describe(&got) : "status " + std::to_string(status)) +
               ", model " + describe(want);
      }
    }
    registry.close_key(key);
  }
  return "";
}

// The keys the file's key lines name below HKEY_LOCAL_MACHINE, with the keys they imply, and the
// class strings under them.
std::string compare_key_lines(const std::string& text, const Model& model) {
  Model seen;
  std::map<std::string, std::string> classes;
  const std::vector<std::string> lines = split_lines(text);
  constexpr std::string_view kRoot = "[hkey_local_machine\\";
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string l = lines[i].substr(lines[i].find_first_not_of(" \t") == std::string::npos
                                        ? lines[i].size()
                                        : lines[i].find_first_not_of(" \t"));
    if (fold(l).rfind(kRoot, 0) != 0) continue;
    const std::string path = fold(l.substr(kRoot.size(), l.rfind(']') - kRoot.size()));
    seen.add_key(path);
    if (i + 1 < lines.size() && lines[i + 1].rfind(";class=\"", 0) == 0) {
      classes[path] = lines[i + 1];
    }
  }
  for (const auto& [key, values] : model.keys) {
    if (!seen.keys.count(key)) return "key " + key + " has no key line";
  }
  for (const auto& [key, values] : seen.keys) {
    if (!model.keys.count(key)) return "key line for " + key + ", which the model lacks";
  }
  for (const auto& [key, class_name] : model.classes) {
    std::string line = ";class=" + Generator::quoted(class_name);
    const auto found = classes.find(key);
    if (found == classes.end() || found->second.rfind(line, 0) != 0) {
      return "key " + key + " lacks its class line " + line;
    }
  }
  return "";
}

}  // namespace

std::string check_registry_property(Choices& choices, const std::filesystem::path& path) {
  Generator gen(choices);
  Model model;
  const std::vector<OwnedLine> original = gen.file(&model);
  std::string text;
  for (const OwnedLine& line : original) text += line.bytes;
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
  }

  std::set<std::string> paths;
  for (std::size_t i = 0; i < 40; ++i) paths.insert(gen.key_path(3));
  std::set<std::string> names(kValueNames.begin(), kValueNames.end());
  names.insert({"New0", "New1", "New2"});
  if (std::string broke = compare_reading(path, model, paths, names); !broke.empty()) {
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
  struct stat before {};
  stat(path.c_str(), &before);
  {
    FileRegistry registry(path.string());
    const std::size_t steps = 4 + choices.below(24);
    for (std::size_t step = 0; step < steps; ++step) {
      const std::uint32_t what = open.empty() ? 0 : choices.below(10);
      std::string failure;
      if (what <= 1) {
        const std::string key_path = gen.spell(gen.key_path(3));
        const bool writable = !gen.one_in(4);
        KeyHandle key = kNoKey;
        const RegStatus status =
            registry.open_key(key_path, writable ? KeyAccess::kAllAccess : KeyAccess::kRead, &key);
        calls << "open " << key_path << " -> " << status << "\n";
        if ((status == kErrorSuccess) != model.has(key_path)) failure = "open";
        if (status == kErrorSuccess) open.push_back({key, fold(key_path), writable});
        continue;
      }
      Open& at = open[choices.below(static_cast<std::uint32_t>(open.size()))];
      const std::string name = gen.value_name();
      auto& values = model.keys[at.path];
      if (what == 2) {
        const ModelValue v = gen.data();
        const RegStatus status = registry.set_value(at.handle, name, v.type, v.data);
        calls << "set " << at.path << " \"" << name << "\" " << describe(&v) << " -> " << status
              << "\n";
        if (status != (at.writable ? kErrorSuccess : kErrorAccessDenied)) failure = "set";
        if (at.writable) {
          values[fold(name)] = v;
          touched.insert({at.path, fold(name)});
        }
      } else if (what == 3 || what == 4) {
        const RegStatus status = registry.delete_value(at.handle, name);
        calls << "delete " << at.path << " \"" << name << "\" -> " << status << "\n";
        const bool present = values.count(fold(name)) != 0;
        if (status != (!at.writable ? kErrorAccessDenied
                       : present    ? kErrorSuccess
                                    : kErrorFileNotFound)) {
          failure = "delete";
        }
        if (at.writable && present) {
          values.erase(fold(name));
          touched.insert({at.path, fold(name)});
        }
      } else if (what == 5) {
        std::string sub = gen.spell(gen.key_path(2));
        const std::string class_name = gen.one_in(3) ? "" : gen.text();
        KeyHandle key = kNoKey;
        std::uint32_t disposition = 0;
        const RegStatus status =
            registry.create_key(at.handle, sub, class_name, &key, &disposition);
        calls << "create " << at.path << " + " << sub << " -> " << status << " " << disposition
              << "\n";
        const std::string full = at.path + "\\" + fold(sub);
        if (!at.writable) {
          if (status != kErrorAccessDenied) failure = "create";
        } else {
          const bool existed = model.has(full);
          if (status != kErrorSuccess ||
              disposition != (existed ? kRegOpenedExistingKey : kRegCreatedNewKey)) {
            failure = "create";
          }
          if (!existed) {
            model.add_key(full);
            created_any = true;
            if (!class_name.empty()) model.classes[full] = class_name;
          }
          open.push_back({key, full, true});
        }
      } else if (what == 6) {
        const RegStatus status = registry.flush();
        calls << "flush -> " << status << "\n";
        if (status != kErrorSuccess) failure = "flush";
      } else {
        std::array<std::uint8_t, 512> buffer{};
        ModelValue got;
        std::uint32_t size = 0;
        const RegStatus status = registry.query_value(at.handle, name, &got.type, buffer, &size);
        got.data.assign(buffer.begin(), buffer.begin() + (status == kErrorSuccess ? size : 0));
        const auto expected = values.find(fold(name));
        calls << "query " << at.path << " \"" << name << "\" -> " << status << "\n";
        if (expected == values.end() ? status != kErrorFileNotFound
                                     : status != kErrorSuccess || !(got == expected->second)) {
          failure = "query gives " + describe(&got) + ", model " +
                    (expected == values.end() ? "<none>" : describe(&expected->second));
        }
      }
      if (!failure.empty()) return failure + " failed after\n" + calls.str() + "in\n" + text;
    }
    if (registry.flush() != kErrorSuccess) return "final flush failed\n" + calls.str();
  }

  const std::string saved = read_file(path);
  const auto context = [&] {
    return "\ncalls:\n" + calls.str() + "file:\n" + text + "saved:\n" + saved;
  };
  for (const Open& o : open) paths.insert(o.path);
  if (std::string broke = compare_reading(path, model, paths, names); !broke.empty()) {
    return "as saved: " + broke + context();
  }
  if (std::string broke = compare_key_lines(saved, model); !broke.empty()) {
    return broke + context();
  }

  // Lines of values no call touched, and every other line, in their order.
  const std::vector<std::string> lines = split_lines(saved);
  std::size_t at = 0;
  for (const OwnedLine& line : original) {
    if (!line.key.empty() && touched.count({line.key, line.value})) continue;
    while (at < lines.size() && lines[at].rfind(line.bytes, 0) != 0) ++at;
    if (at == lines.size()) return "line lost or moved: " + line.bytes + context();
    ++at;
  }

  // A registry that ends as it was loaded is not written at all.
  struct stat after {};
  stat(path.c_str(), &after);
  if (!created_any && model.keys == loaded.keys &&
      (saved != text || after.st_ino != before.st_ino)) {
    return "the file was written although nothing changed" + context();
  }
  return "";
}

}  // namespace reg7140::test
