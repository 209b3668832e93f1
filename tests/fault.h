// Stand-ins for the jobs' system interfaces: the Nth counted call fails (or every call from it
// on, or every call named in `also`), and the other calls pass on. Also a host whose standard
// output is kept in `text` and whose environment holds WINDIR alone (unset where nullptr).
#pragma once

#include <map>
#include <set>

#include "platform/console.h"
#include "platform/environment.h"
#include "platform/posix/file_registry.h"
#include "platform/posix/posix_files.h"

namespace reg7140::test {

struct Fault {
  explicit Fault(int fail_at = 0, std::set<std::string> besides = {})
      : at(fail_at), also(std::move(besides)) {}
  bool fails(const std::string& call) {
    failed = ++calls == at ? call : failed;
    last = call;
    return calls == at || (from_on && at > 0 && calls > at) || also.contains(call);
  }
  int at, calls = 0;  // at: counted from 1; 0: none
  std::set<std::string> also;
  bool from_on = false;
  std::string failed, last;  // "" while none has failed
};

// The last run of `body(fault)` is the clean one; answers how many runs there were.
template <class Body>
int each_fault(Body body, const std::set<std::string>& also = {}) {
  for (int at = 1;; ++at) {
    Fault fault(at, also);
    body(fault);
    if (fault.failed.empty()) return at;
  }
}

struct Host : Console, Environment {
  explicit Host(const char* value = nullptr) : windir(value) {}
  void write(std::string_view output) override { text.append(output); }
  const char* get_env(const char*) override { return windir; }
  std::string_view program_file() override { return ""; }
  const char* windir;
  std::string text;
};

// A registry file whose failing calls answer `e` (deletes cannot fail: the job ignores them);
// keys still open are in `open`.
struct FaultRegistry : FileRegistry {
  using R = FileRegistry;
  FaultRegistry(std::string path, Fault& fault, RegStatus error)
      : R(std::move(path)), f(fault), e(error) {}
  RegStatus open_key(std::string_view path, KeyAccess access, KeyHandle* key) override {
    return ok("open", path) ? opened(R::open_key(path, access, key), key) : e;
  }
  RegStatus create_key(KeyHandle parent, std::string_view name, std::string_view class_name,
                       KeyHandle* key, std::uint32_t* made) override {
    return ok("create", name) ? opened(R::create_key(parent, name, class_name, key, made), key) : e;
  }
  RegStatus query_value(KeyHandle key, std::string_view name, std::uint32_t* type,
                        std::span<std::uint8_t> buffer, std::uint32_t* size) override {
    return ok("query", name) ? R::query_value(key, name, type, buffer, size) : e;
  }
  RegStatus set_value(KeyHandle key, std::string_view name, std::uint32_t type,
                      std::span<const std::uint8_t> data) override {
    return ok("set", name) ? R::set_value(key, name, type, data) : e;
  }
  void close_key(KeyHandle key) override { open.erase(key), R::close_key(key); }
  RegStatus flush() override { return ok("flush", "") ? R::flush() : e; }
  bool ok(std::string kind, std::string_view name) {
    return !f.fails(name.empty() ? kind : kind + " " + std::string(name));
  }
  RegStatus opened(RegStatus status, const KeyHandle* key) {
    return status == kErrorSuccess ? (open.insert(*key), status) : status;
  }
  std::set<KeyHandle> open;
  Fault& f;
  RegStatus e;
};

// Raw files in memory, by path; opens cannot fail. A failing write stores nothing (error 0: it
// tells no error, as a full disk may); `most` bytes at most are stored a write; a failing close
// still lets go of the file.
struct FaultRawFiles : RawFiles {
  explicit FaultRawFiles(Fault& fault, int error = EIO) : f(fault), e(error) {}
  int open(std::string_view path, OpenMode mode, RawHandle* file) override {
    if (mode == OpenMode::kReadText && !files.contains(std::string(path))) return ENOENT;
    if (mode == OpenMode::kWriteText) files[std::string(path)].clear();
    handles[*file = ++last] = std::string(path);
    return 0;
  }
  int read_at(RawHandle file, long long at, std::span<char> into, std::size_t* count) override {
    const std::string& bytes = files[handles.at(file)];
    *count = at < std::ssize(bytes) ? bytes.copy(into.data(), into.size(), at) : 0;
    return f.fails("read") ? e : 0;
  }
  int write_at(RawHandle file, long long at, std::string_view bytes, std::size_t* count) override {
    std::string& stored = files[handles.at(file)];
    *count = f.fails("write") ? 0 : std::min(bytes.size(), most);
    stored.resize(std::max<std::size_t>(stored.size(), at + *count));
    stored.replace(at, *count, bytes.substr(0, *count));
    return *count == 0 ? e : 0;
  }
  int flush(RawHandle) override { return 0; }
  int size(RawHandle file, long long* bytes) override {
    return *bytes = std::ssize(files[handles.at(file)]), 0;
  }
  int close(RawHandle file) override { return handles.erase(file), f.fails("close") ? e : 0; }
  std::map<std::string, std::string> files;
  std::size_t most = SIZE_MAX;
  Fault& f;
  int e;
  std::map<RawHandle, std::string> handles;
  RawHandle last = 0;
};

// The host's text files, calls named by kind and count ("write 3").
struct FaultFiles : PosixFiles {
  using P = PosixFiles;
  FaultFiles(Fault& fault, int error) : f(fault), e(error) {}
  int open_text(std::string_view path, OpenMode mode, FileHandle* file) override {
    return fails("open") ? (*file = kNoFile, e) : P::open_text(path, mode, file);
  }
  LineResult read_line(FileHandle file, std::span<char> line) override {
    return fails("read") ? LineResult{LineStatus::kError, 0, e} : P::read_line(file, line);
  }
  int write(FileHandle file, std::string_view text) override {
    return fails("write") ? e : P::write(file, text);
  }
  int tell(FileHandle file, long* at) override { return fails("tell") ? e : P::tell(file, at); }
  int seek(FileHandle file, long at) override { return fails("seek") ? e : P::seek(file, at); }
  int close(FileHandle file) override {
    return fails("close") ? (P::close(file), e) : P::close(file);
  }
  int replace_file(std::string_view from, std::string_view to) override {
    return fails("replace") ? e : P::replace_file(from, to);
  }
  bool fails(const std::string& kind) {
    return f.fails(kind + " " + std::to_string(++count[kind]));
  }
  std::map<std::string, int> count;
  Fault& f;
  int e;
};

}  // namespace reg7140::test
