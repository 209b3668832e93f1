// Files as raw bytes at offsets, the little that the text streams (platform/file_streams.h) need
// of a system; one implementation per system. Paths are Windows paths as the jobs build them;
// each implementation maps them onto its own file system. Results are 0 or the C run-time's
// errno as the platform's <cerrno> spells it.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "platform/text_files.h"

namespace reg7140 {

// A file descriptor or a system handle, whichever the system gives.
using RawHandle = std::intptr_t;

class RawFiles {
 public:
  virtual ~RawFiles() = default;

  // kReadText: an existing file; a directory is refused with EACCES. kWriteText: created, or
  // truncated once it is known to be writable (a read-only file keeps its content: EACCES).
  // Bytes are stored as given in either mode.
  virtual int open(std::string_view path, OpenMode mode, RawHandle* file) = 0;
  // Reads up to `into.size()` bytes from `offset` on; `count` is 0 at the physical end.
  virtual int read_at(RawHandle file, long long offset, std::span<char> into,
                      std::size_t* count) = 0;
  // Stores some of `bytes` at `offset`, perhaps fewer than all without an error: `count` says
  // how many (write_fully below stores the rest).
  virtual int write_at(RawHandle file, long long offset, std::string_view bytes,
                       std::size_t* count) = 0;
  // Hands what the system holds of the file to the disk.
  virtual int flush(RawHandle file) = 0;
  virtual int size(RawHandle file, long long* bytes) = 0;
  // Lets go of the handle even when it fails.
  virtual int close(RawHandle file) = 0;
};

// Stores all of `bytes` through `write_some(std::string_view rest, std::size_t* count)`, which
// answers 0 or errno as RawFiles::write_at does: a write that stores part is followed by one for
// the rest, and one that stores nothing and tells no error means a full disk. `written`
// receives how many bytes were stored.
template <class WriteSome>
int write_fully(std::string_view bytes, std::size_t* written, WriteSome&& write_some) {
  std::size_t done = 0;
  int error = 0;
  while (done < bytes.size()) {
    std::size_t count = 0;
    error = write_some(std::string_view(bytes.data() + done, bytes.size() - done), &count);
    if (error == 0 && count == 0) error = ENOSPC;
    if (error != 0) break;
    done += count;
  }
  *written = done;
  return error;
}

}  // namespace reg7140
