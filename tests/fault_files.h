// A stand-in for the INF job's text files that passes calls on to real ones, fails the Nth call of
// a kind, and keeps count of the calls, of what was written and of the files left open.
#pragma once

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/text_files.h"

namespace reg7140::test {

class FaultFiles : public TextFiles {
 public:
  explicit FaultFiles(TextFiles& inner) : inner_(inner) {}

  // The `nth` call (counted from 1) of `kind` fails with `error`; kinds: open, read, write, tell,
  // seek, close, replace.
  void fail(const std::string& kind, int nth, int error) { faults_[{kind, nth}] = error; }

  bool access(std::string_view path, AccessMode mode) override { return inner_.access(path, mode); }
  void make_writable(std::string_view path) override { inner_.make_writable(path); }
  int open_text(std::string_view path, OpenMode mode, FileHandle* file) override {
    *file = kNoFile;
    const int error = fails("open") ? error_ : inner_.open_text(path, mode, file);
    if (error == 0) open.insert(*file);
    return error;
  }
  LineResult read_line(FileHandle file, std::span<char> line) override {
    return fails("read") ? LineResult{LineStatus::kError, 0, error_} : inner_.read_line(file, line);
  }
  int write(FileHandle file, std::string_view text) override {
    writes.emplace_back(text);
    return fails("write") ? error_ : inner_.write(file, text);
  }
  int tell(FileHandle file, long* at) override {
    return fails("tell") ? error_ : inner_.tell(file, at);
  }
  int seek(FileHandle file, long at) override {
    return fails("seek") ? error_ : inner_.seek(file, at);
  }
  bool ended_cleanly(FileHandle file) override { return inner_.ended_cleanly(file); }
  // Like fclose, a close that fails still lets go of the file.
  int close(FileHandle file) override {
    open.erase(file);
    const int error = inner_.close(file);
    return fails("close") ? error_ : error;
  }
  int replace_file(std::string_view from, std::string_view to) override {
    return fails("replace") ? error_ : inner_.replace_file(from, to);
  }

  std::map<std::string, int> calls;
  std::vector<std::string> writes;  // the text of every write, failed ones included
  std::set<FileHandle> open;

 private:
  bool fails(const std::string& kind) {
    const auto fault = faults_.find({kind, ++calls[kind]});
    error_ = fault != faults_.end() ? fault->second : 0;
    return error_ != 0;
  }

  TextFiles& inner_;
  std::map<std::pair<std::string, int>, int> faults_;
  int error_ = 0;
};

}  // namespace reg7140::test
