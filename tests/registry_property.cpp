#include "tests/registry_property.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <set>
#include <span>

#include "platform/ascii.h"
#include "platform/posix/file_registry.h"
#include "tests/test_util.h"

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

std::string fold(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = fold_ascii(c);
  return out;
}
void add_key(Model* model, const std::string& path) {
  for (std::size_t sep = path.find('\\'); sep != std::string::npos; sep = path.find('\\', sep + 1))
    (*model)[fold(path.substr(0, sep))];
  (*model)[fold(path)];
}
const Value* find(const Model& model, std::string_view key, std::string_view name) {
  const auto values = model.find(fold(key));
  if (values == model.end() || values->second.count(fold(name)) == 0) return nullptr;
  return &values->second.at(fold(name));
}

// The rows of data/registry_lines.txt: a line's text ("~" where it goes on to the next line) and,
// for a value line, the value's folded name and the value.
struct Form {
  std::string text, name;
  bool is_value = false;
  Value value;
};
const std::vector<Form>& forms() {
  static const std::vector<Form> table = [] {
    std::vector<Form> rows;
    for (const auto& row : load_table("data/registry_lines.txt")) {
      Form& form = rows.emplace_back(Form{row[0], "", row.size() > 1, {}});
      if (!form.is_value) continue;
      form.name = row[1];
      form.value.type = std::stoul(row[2]);
      std::istringstream bytes(row[3]);
      for (unsigned byte = 0; bytes >> std::hex >> byte;)
        form.value.data.push_back(static_cast<std::uint8_t>(byte));
    }
    return rows;
  }();
  return table;
}

struct Generator {
  const Choices& below;

  bool one_in(std::uint32_t n) const { return below(n) == 0; }
  std::string pick(std::span<const std::string_view> items) const {
    return std::string(items[below(static_cast<std::uint32_t>(items.size()))]);
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
    std::string out(one_in(8) ? 300 : below(12), ' ');
    for (char& ch : out) ch = "aZ \\\"=[];\xe9@,"[below(12)];
    return out;
  }
  // Data as a caller sets it: any of the table's values, whatever name it comes with.
  const Value& value() const {
    for (;;)
      if (const Form& form = forms()[below(static_cast<std::uint32_t>(forms().size()))];
          form.is_value)
        return form.value;
  }
  std::string eol() const { return one_in(3) ? "\n" : "\r\n"; }
};

// One line of the generated file with its line end, and the value it holds (key "" for others).
struct OwnedLine {
  std::string bytes, key, value;
};

// A file as regedit or a person might have written it: keys out of order and twice, comments,
// blank lines, class lines, repeated values, other roots, mixed line ends; or no file at all.
std::vector<OwnedLine> generate(const Generator& gen, Model* model) {
  if (gen.one_in(12)) return {};
  std::vector<OwnedLine> lines{{"REGEDIT4" + gen.eol(), "", ""}, {"; c" + gen.eol(), "", ""}};
  for (std::uint32_t sections = gen.below(9); sections > 0; --sections) {
    const bool local = !gen.one_in(6);
    const std::string path = gen.key_path(3);
    lines.push_back({(gen.one_in(4) ? " [" : "[") +
                         gen.spell(local ? "HKEY_LOCAL_MACHINE" : "HKEY_USERS") + "\\" +
                         gen.spell(path) + "]" + (gen.one_in(5) ? " " : "") + gen.eol(),
                     "", ""});
    if (local) add_key(model, path);
    if (gen.one_in(4)) lines.push_back({";class=\"a \\\\ \\\"\"" + gen.eol(), "", ""});
    for (std::uint32_t n = gen.below(8); n > 0; --n) {
      const Form& form = forms()[gen.below(static_cast<std::uint32_t>(forms().size()))];
      for (std::size_t from = 0, to = 0; from <= form.text.size(); from = to + 1) {
        to = std::min(form.text.find('~', from), form.text.size());
        lines.push_back({form.text.substr(from, to - from) + gen.eol(),
                         form.is_value && local ? fold(path) : "", form.name});
      }
      if (form.is_value && local) (*model)[fold(path)][form.name] = form.value;
    }
  }
  // The last line may lack its line end, or keep only the CR of it.
  std::string& last = lines.back().bytes;
  while (gen.one_in(3) && (last.ends_with('\n') || last.ends_with('\r'))) last.pop_back();
  return lines;
}

// Whether a query answers as `want` says (nothing: no such value) into a buffer of `room` bytes,
// which it leaves alone when the data does not fit.
bool answers(Registry& registry, KeyHandle key, std::string_view name, const Value* want,
             std::size_t room) {
  std::array<std::uint8_t, 512> buffer;
  buffer.fill(0xEE);
  Value got;
  std::uint32_t size = 0;
  const RegStatus status =
      registry.query_value(key, name, &got.type, std::span(buffer).first(room), &size);
  got.data.assign(buffer.begin(), buffer.begin() + (status == 0 ? size : 0));
  if (want == nullptr) return status == 2;
  if (want->data.size() <= room) return status == 0 && got == *want;
  return status == 234 && size == want->data.size() && got.type == want->type &&
         std::count(buffer.begin(), buffer.end(), 0xEE) == 512;
}

// Whether a fresh registry on the file holds what the model does, over the key paths given.
bool reads_as(const std::filesystem::path& path, const Model& model,
              const std::set<std::string>& paths) {
  FileRegistry registry(path.string());
  for (const std::string& key_path : paths) {
    KeyHandle key = kNoKey;
    const bool has = model.count(fold(key_path)) != 0;
    if ((registry.open_key(key_path, KeyAccess::kRead, &key) == 0) != has) return false;
    for (std::string_view name : kValueNames)
      if (has && !answers(registry, key, name, find(model, key_path, name), 512)) return false;
  }
  return true;
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
      Open& at = open[below(static_cast<std::uint32_t>(open.size()))];
      const std::string name =
          gen.spell(gen.pick(kValueNames)) + (what == 2 && odd == 0 ? "\n" : "");
      RegStatus want = at.refused;
      RegStatus got = 0;
      if (what <= 1) {  // open
        std::string key_path = gen.spell(gen.key_path(3));
        if (odd < 5)
          key_path =
              std::array<std::string, 5>{"\\" + key_path, key_path + "\\", key_path + "\\\\a",
                                         "HKEY_LOCAL_MACHINE\\" + key_path, ""}[odd];
        const bool writable = !gen.one_in(4);
        KeyHandle key = 7;
        got =
            registry.open_key(key_path, writable ? KeyAccess::kAllAccess : KeyAccess::kRead, &key);
        want = odd >= 5 && model.count(fold(key_path)) ? 0 : 2;
        if (got == 0) open.push_back({key, fold(key_path), writable ? 0 : 5});
        if ((got == 0) != (key != kNoKey)) got = 1;
      } else if (what == 2) {  // set
        const Value v = gen.value();
        want = want != 0 ? want : odd == 0 ? 87 : 0;
        got = registry.set_value(at.handle, name, v.type, v.data);
        if (want == 0) model[at.path][fold(name)] = v, touched.insert({at.path, fold(name)});
      } else if (what <= 4) {  // delete
        const bool present = want == 0 && find(model, at.path, name) != nullptr;
        want = want != 0 ? want : present ? 0 : 2;
        got = registry.delete_value(at.handle, name);
        if (present) model[at.path].erase(fold(name)), touched.insert({at.path, fold(name)});
      } else if (what == 5) {  // create
        std::string sub = gen.spell(gen.key_path(2));
        std::string class_name = gen.one_in(3) ? "" : gen.text();
        if (odd < 4)
          sub = std::array<std::string, 4>{"", sub + "\\", "\\" + sub, sub + "\\\\a"}[odd];
        if (odd == 4) (gen.one_in(2) ? sub : class_name) += '\n';
        const std::string full = at.path + "\\" + fold(sub);
        const bool existed_key = model.count(full) != 0;
        want = want != 0 ? want : odd < 4 ? 2 : odd == 4 ? 87 : 0;
        KeyHandle key = 7;
        std::uint32_t disposition = 0;
        got = registry.create_key(at.handle, sub, class_name, &key, &disposition);
        if (got == 0 ? disposition != (existed_key ? 2u : 1u) : key != kNoKey) got = 1;
        if (want == 0) {
          created_any = created_any || !existed_key;
          add_key(&model, full);
          open.push_back({key, full, 0});
        }
      } else if (what == 6) {
        want = 0;
        got = registry.flush();
        saved_between = saved_between || created_any || model != loaded;
      } else if (what == 7) {
        registry.close_key(at.handle);
        got = at.refused = 6;
        want = 6;
      } else if (want != 6) {  // query, into a buffer that may be too small
        got = want = 0;
        if (!answers(registry, at.handle, name, find(model, at.path, name),
                     gen.one_in(3) ? below(6) : 512))
          got = 1;
      } else {
        std::uint32_t size = 0;
        got = registry.query_value(at.handle, name, nullptr, {}, &size);
      }
      if (got != want)
        return "call " + std::to_string(what) + " answered " + std::to_string(got) + " in\n" + text;
    }
    if (registry.flush() != 0) return "the last flush failed";
  }

  const std::string saved = read_file(path);
  std::set<std::string> paths;
  for (int i = 0; i < 40; ++i) paths.insert(gen.key_path(3));
  for (const Open& o : open) paths.insert(o.path);
  if (!reads_as(path, model, paths))
    return "the saved file reads otherwise\n" + text + "saved:\n" + saved;
  // Every line of a value no call touched, and every other line, in its order.
  std::size_t at = 0;
  for (const OwnedLine& line : original) {
    if (!line.key.empty() && touched.count({line.key, line.value})) continue;
    // The next place it starts a line: a blank line's CR LF also ends every other line.
    while ((at = saved.find(line.bytes, at)) != std::string::npos && at > 0 &&
           saved[at - 1] != '\n')
      ++at;
    if (at == std::string::npos) return "line lost or moved: " + line.bytes + "saved:\n" + saved;
    at += line.bytes.size();
  }
  // A registry that ends as it was loaded keeps its bytes, and its file is not written (nor made)
  // unless a flush on the way saved another one.
  struct stat after {};
  const bool exists = stat(path.c_str(), &after) == 0;
  if (!created_any && model == loaded &&
      (saved != text || (!saved_between && (exists != existed || after.st_ino != before.st_ino))))
    return "the file was written although nothing changed\n" + text;
  return "";
}

}  // namespace reg7140::test
