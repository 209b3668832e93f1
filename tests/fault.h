// One fault for every stand-in: the Nth counted call fails, and one loop runs a job under it at
// N = 1, 2, ... until a run injects nothing. The stand-ins pass the other calls on.
#pragma once

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/raw_file.h"
#include "platform/registry.h"

namespace reg7140::test {

struct Fault {
  explicit Fault(int fail_at = 0, std::set<std::string> besides = {})
      : at(fail_at), also(std::move(besides)) {}
  int at;                      // the call that fails, counted from 1; 0: none
  std::set<std::string> also;  // calls that fail besides, by name
  bool from_on = false;        // every call from `at` on fails
  int calls = 0;
  std::string failed;  // the call that failed at `at`, "" while none has
  std::string last;
  bool fails(std::string call) {
    if (++calls == at) failed = call;
    last = call;
    return calls == at || (from_on && at > 0 && calls > at) || also.contains(call);
  }
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

// Failing calls answer `error`; closes cannot fail. Keys still open are in `open`.
class FaultRegistry : public Registry {
 public:
  FaultRegistry(Registry& inner, Fault& fault, RegStatus error)
      : inner_(inner), fault_(fault), error_(error) {}
  RegStatus open_key(std::string_view path, KeyAccess access, KeyHandle* key) override {
    if (fault_.fails("open " + std::string(path))) return error_;
    return opened(inner_.open_key(path, access, key), key);
  }
  RegStatus create_key(KeyHandle parent, std::string_view subkey, std::string_view class_name,
                       KeyHandle* key, std::uint32_t* disposition) override {
    if (fault_.fails("create " + std::string(subkey))) return error_;
    return opened(inner_.create_key(parent, subkey, class_name, key, disposition), key);
  }
  RegStatus query_value(KeyHandle key, std::string_view name, std::uint32_t* type,
                        std::span<std::uint8_t> buffer, std::uint32_t* size) override {
    if (fault_.fails("query " + std::string(name))) return error_;
    return inner_.query_value(key, name, type, buffer, size);
  }
  RegStatus set_value(KeyHandle key, std::string_view name, std::uint32_t type,
                      std::span<const std::uint8_t> data) override {
    return fault_.fails("set " + std::string(name)) ? error_
                                                    : inner_.set_value(key, name, type, data);
  }
  RegStatus delete_value(KeyHandle key, std::string_view name) override {
    return fault_.fails("delete " + std::string(name)) ? error_ : inner_.delete_value(key, name);
  }
  void close_key(KeyHandle key) override {
    open.erase(key);
    inner_.close_key(key);
  }
  RegStatus flush() override { return fault_.fails("flush") ? error_ : inner_.flush(); }

  std::set<KeyHandle> open;

 private:
  RegStatus opened(RegStatus status, const KeyHandle* key) {
    if (status == kErrorSuccess) open.insert(*key);
    return status;
  }
  Registry& inner_;
  Fault& fault_;
  RegStatus error_;
};

// Raw files in memory, by path; opens cannot fail. A failing write stores nothing (error 0: it
// tells no error, as a full disk may); `most` bytes at most are stored a write; a failing close
// still lets go of the file.
class FaultRawFiles : public RawFiles {
 public:
  explicit FaultRawFiles(Fault& fault, int error = EIO) : fault_(fault), error_(error) {}
  int open(std::string_view path, OpenMode mode, RawHandle* file) override {
    if (mode == OpenMode::kReadText && !files.contains(std::string(path))) return ENOENT;
    if (mode == OpenMode::kWriteText) files[std::string(path)].clear();
    handles_[++last_] = std::string(path);
    *file = last_;
    return 0;
  }
  int read_at(RawHandle file, long long offset, std::span<char> into, std::size_t* count) override {
    if (fault_.fails("read")) return error_;
    const std::string& bytes = files[handles_.at(file)];
    *count = offset < static_cast<long long>(bytes.size())
                 ? bytes.copy(into.data(), into.size(), static_cast<std::size_t>(offset))
                 : 0;
    return 0;
  }
  int write_at(RawHandle file, long long offset, std::string_view bytes,
               std::size_t* count) override {
    *count = 0;
    if (fault_.fails("write")) return error_;
    std::string& stored = files[handles_.at(file)];
    *count = std::min(bytes.size(), most);
    if (stored.size() < offset + *count) stored.resize(offset + *count);
    stored.replace(static_cast<std::size_t>(offset), *count, bytes.substr(0, *count));
    return 0;
  }
  int flush(RawHandle) override { return fault_.fails("flush") ? error_ : 0; }
  int size(RawHandle file, long long* bytes) override {
    *bytes = static_cast<long long>(files[handles_.at(file)].size());
    return 0;
  }
  int close(RawHandle file) override {
    handles_.erase(file);
    return fault_.fails("close") ? error_ : 0;
  }

  std::map<std::string, std::string> files;
  std::size_t most = SIZE_MAX;

 private:
  Fault& fault_;
  int error_;
  std::map<RawHandle, std::string> handles_;
  RawHandle last_ = 0;
};

// The INF job's text files: calls are named by kind and count ("write 3"). Files still open are
// in `open`.
class FaultFiles : public TextFiles {
 public:
  FaultFiles(TextFiles& inner, Fault& fault, int error) : in_(inner), f_(fault), error_(error) {}
  bool access(std::string_view path, AccessMode mode) override { return in_.access(path, mode); }
  void make_writable(std::string_view path) override { in_.make_writable(path); }
  int open_text(std::string_view path, OpenMode mode, FileHandle* file) override {
    *file = kNoFile;
    const int error = fails("open") ? error_ : in_.open_text(path, mode, file);
    if (error == 0) open.insert(*file);
    return error;
  }
  LineResult read_line(FileHandle file, std::span<char> line) override {
    return fails("read") ? LineResult{LineStatus::kError, 0, error_} : in_.read_line(file, line);
  }
  int write(FileHandle file, std::string_view text) override {
    writes.emplace_back(text);
    return fails("write") ? error_ : in_.write(file, text);
  }
  int tell(FileHandle file, long* at) override {
    return fails("tell") ? error_ : in_.tell(file, at);
  }
  int seek(FileHandle file, long at) override {
    return fails("seek") ? error_ : in_.seek(file, at);
  }
  bool ended_cleanly(FileHandle file) override { return in_.ended_cleanly(file); }
  int close(FileHandle file) override {
    open.erase(file);
    const int error = in_.close(file);
    return fails("close") ? error_ : error;
  }
  int replace_file(std::string_view from, std::string_view to) override {
    return fails("replace") ? error_ : in_.replace_file(from, to);
  }

  std::set<FileHandle> open;
  std::vector<std::string> writes;  // failed ones too

 private:
  bool fails(const std::string& kind) {
    return f_.fails(kind + " " + std::to_string(++count_[kind]));
  }
  std::map<std::string, int> count_;
  TextFiles& in_;
  Fault& f_;
  int error_;
};

}  // namespace reg7140::test
