// Stand-ins for the jobs' system interfaces: the Nth counted call fails (or every call from it
// on, or every call named in `also`), and the other calls pass on. Also standard output kept in
// `text` and an environment holding WINDIR alone (unset where nullptr).
#pragma once

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <utility>

#include "platform/console.h"
#include "platform/environment.h"
#include "platform/raw_file.h"
#include "platform/registry.h"
#include "platform/text_files.h"

namespace reg7140::test {

struct Fault {
  explicit Fault(int fail_at = 0, std::set<std::string> besides = {})
      : at(fail_at), also(std::move(besides)) {}
  bool fails(const std::string& call) {
    if (++calls == at) failed = call;
    last = call;
    return calls == at || (from_on && at > 0 && calls > at) || also.contains(call);
  }
  int at;  // counted from 1; 0: none
  std::set<std::string> also;
  bool from_on = false;
  int calls = 0;
  std::string failed, last;  // "" while none has failed
};

// The last run of `body(fault)` is the clean one.
template <class Body>
void each_fault(Body body, const std::set<std::string>& also = {}) {
  for (int at = 1;; ++at) {
    Fault fault(at, also);
    body(fault);
    if (fault.failed.empty()) return;
  }
}

struct CaptureConsole : Console {
  void write(std::string_view output) override { text.append(output); }
  std::string text;
};

struct WindirEnvironment : Environment {
  explicit WindirEnvironment(const char* value) : windir(value) {}
  const char* get_env(const char*) override { return windir; }
  std::string_view program_file() override { return ""; }
  const char* windir;
};

// Failing calls answer `e`; keys still open are in `open`.
struct FaultRegistry : Registry {
  FaultRegistry(Registry& inner, Fault& fault, RegStatus error) : in(inner), f(fault), e(error) {}
  RegStatus open_key(std::string_view path, KeyAccess access, KeyHandle* key) override {
    return f.fails("open " + std::string(path)) ? e : opened(in.open_key(path, access, key), key);
  }
  RegStatus create_key(KeyHandle parent, std::string_view name, std::string_view class_name,
                       KeyHandle* key, std::uint32_t* made) override {
    return f.fails("create " + std::string(name))
               ? e
               : opened(in.create_key(parent, name, class_name, key, made), key);
  }
  RegStatus query_value(KeyHandle key, std::string_view name, std::uint32_t* type,
                        std::span<std::uint8_t> buffer, std::uint32_t* size) override {
    return f.fails("query " + std::string(name)) ? e
                                                 : in.query_value(key, name, type, buffer, size);
  }
  RegStatus set_value(KeyHandle key, std::string_view name, std::uint32_t type,
                      std::span<const std::uint8_t> data) override {
    return f.fails("set " + std::string(name)) ? e : in.set_value(key, name, type, data);
  }
  RegStatus delete_value(KeyHandle key, std::string_view name) override {
    return f.fails("delete " + std::string(name)) ? e : in.delete_value(key, name);
  }
  void close_key(KeyHandle key) override { open.erase(key), in.close_key(key); }
  RegStatus flush() override { return f.fails("flush") ? e : in.flush(); }
  RegStatus opened(RegStatus status, const KeyHandle* key) {
    return status == kErrorSuccess ? (open.insert(*key), status) : status;
  }
  std::set<KeyHandle> open;
  Registry& in;
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

// The INF job's text files: calls are named by kind and count ("write 3"); files still open
// are in `open`.
struct FaultFiles : TextFiles {
  FaultFiles(TextFiles& inner, Fault& fault, int error) : in(inner), f(fault), e(error) {}
  bool access(std::string_view path, AccessMode mode) override { return in.access(path, mode); }
  void make_writable(std::string_view path) override { in.make_writable(path); }
  int open_text(std::string_view path, OpenMode mode, FileHandle* file) override {
    const int error = fails("open") ? (*file = kNoFile, e) : in.open_text(path, mode, file);
    return error == 0 ? (open.insert(*file), 0) : error;
  }
  LineResult read_line(FileHandle file, std::span<char> line) override {
    return fails("read") ? LineResult{LineStatus::kError, 0, e} : in.read_line(file, line);
  }
  int write(FileHandle file, std::string_view text) override {
    return fails("write") ? e : in.write(file, text);
  }
  int tell(FileHandle file, long* at) override { return fails("tell") ? e : in.tell(file, at); }
  int seek(FileHandle file, long at) override { return fails("seek") ? e : in.seek(file, at); }
  bool ended_cleanly(FileHandle file) override { return in.ended_cleanly(file); }
  int close(FileHandle file) override {
    const int error = (open.erase(file), in.close(file));
    return fails("close") ? e : error;
  }
  int replace_file(std::string_view from, std::string_view to) override {
    return fails("replace") ? e : in.replace_file(from, to);
  }
  bool fails(const std::string& kind) {
    return f.fails(kind + " " + std::to_string(++count[kind]));
  }
  std::set<FileHandle> open;
  std::map<std::string, int> count;
  TextFiles& in;
  Fault& f;
  int e;
};

}  // namespace reg7140::test
