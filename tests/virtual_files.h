// An in-memory disk behind the Files interface, for tests: Windows paths (letter case ignored,
// '/' taken as '\'), the Windows C run-time's text mode (the platforms' own, over the stored
// bytes), and failures injected on demand.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_store.h"
#include "platform/text_files.h"
#include "platform/text_mode.h"

namespace reg7140::test {

// The kinds of operation that can be made to fail.
enum class FileOp {
  kOpen,
  kReadLine,
  kWrite,
  kTell,
  kSeek,
  kClose,
  kReplaceFile,
  kCopyFile,
  kFileTime,
};
inline constexpr std::size_t kFileOpCount = 9;

struct VirtualFile {
  std::string bytes;
  bool read_only = false;
  std::int64_t mtime = 0;
};

class VirtualFiles : public TextFiles, public FileStore {
 public:
  // The disk. Directories are implicit: any path can hold a file.
  void put(std::string_view path, std::string bytes, bool read_only = false,
           std::int64_t mtime = 0);
  void remove(std::string_view path);
  bool exists(std::string_view path) const;
  // The file's bytes; empty when it does not exist.
  std::string contents(std::string_view path) const;
  VirtualFile* find(std::string_view path) const;

  // From now on the `nth` call (counting from 1, since the start) of `op` fails with `error`.
  void fail_call(FileOp op, int nth, int error);
  // How many calls of `op` were made, the failed ones included.
  int calls(FileOp op) const { return calls_[static_cast<std::size_t>(op)]; }
  // Handles not closed yet.
  std::size_t open_handles() const { return streams_.size(); }
  // The text of every write call, in order, failed ones included.
  const std::vector<std::string>& write_log() const { return write_log_; }

  bool access(std::string_view path, AccessMode mode) override;
  void make_writable(std::string_view path) override;
  int open_text(std::string_view path, OpenMode mode, FileHandle* file) override;
  LineResult read_line(FileHandle file, std::span<char> buffer) override;
  int write(FileHandle file, std::string_view text) override;
  int tell(FileHandle file, long* position) override;
  int seek(FileHandle file, long position) override;
  bool ended_cleanly(FileHandle file) override;
  int close(FileHandle file) override;
  int replace_file(std::string_view from, std::string_view to) override;
  bool file_time(std::string_view path, std::int64_t* seconds) override;
  int copy_file(std::string_view from, std::string_view to) override;

 private:
  struct Stream {
    std::string key;
    OpenMode mode = OpenMode::kReadText;
    std::size_t position = 0;
    text_mode::ReadState read;
  };
  class Bytes;
  struct Fault {
    FileOp op;
    int nth;
    int error;
  };

  static std::string key_of(std::string_view path);
  // Counts the call; the injected errno when this one is to fail, else 0.
  int next_call(FileOp op);
  Stream* stream(FileHandle file);

  mutable std::map<std::string, VirtualFile> files_;
  std::map<FileHandle, Stream> streams_;
  FileHandle next_handle_ = 3;
  std::array<int, kFileOpCount> calls_{};
  std::vector<Fault> faults_;
  std::vector<std::string> write_log_;
};

}  // namespace reg7140::test
