// The files of the driver job: their times, and a copy that replaces a file whole. Paths as in
// platform/text_files.h.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/text_files.h"

namespace reg7140 {

class FileStore {
 public:
  virtual ~FileStore() = default;

  // Last-write time in whole seconds since 1970; false when the file does not exist.
  virtual bool file_time(std::string_view path, std::int64_t* seconds) = 0;
  // As TextFiles::access and TextFiles::make_writable.
  virtual bool access(std::string_view path, AccessMode mode) = 0;
  virtual void make_writable(std::string_view path) = 0;
  // Copies `from` over `to` so that `to` is the old or the new file, never a torn one, and keeps
  // the source's last-write time.
  virtual int copy_file(std::string_view from, std::string_view to) = 0;
};

}  // namespace reg7140
