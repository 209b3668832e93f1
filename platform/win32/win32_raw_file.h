// The running Windows's files as raw bytes at offsets, on KERNEL32 handles.
#pragma once

#include <string_view>

#include "platform/fixed_text.h"
#include "platform/raw_file.h"

namespace reg7140 {

class Win32RawFiles : public RawFiles {
 public:
  int open(std::string_view path, OpenMode mode, RawHandle* file) override;
  int read_at(RawHandle file, long long offset, std::span<char> into, std::size_t* count) override;
  int write_at(RawHandle file, long long offset, std::string_view bytes,
               std::size_t* count) override;
  int flush(RawHandle file) override;
  int size(RawHandle file, long long* bytes) override;
  int close(RawHandle file) override;
};

// 0, or why `path` cannot be handed to the system as a C string: EINVAL when empty or with a NUL
// inside (it would name another file), ENAMETOOLONG when longer than MAX_PATH allows.
int to_c_path(std::string_view path, PathText* out);

}  // namespace reg7140
