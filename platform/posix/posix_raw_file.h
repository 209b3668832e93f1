// The host's files as raw bytes at offsets, on file descriptors.
#pragma once

#include "platform/raw_file.h"

namespace reg7140 {

class PosixRawFiles : public RawFiles {
 public:
  int open(std::string_view path, OpenMode mode, RawHandle* file) override;
  int read_at(RawHandle file, long long offset, std::span<char> into, std::size_t* count) override;
  int write_at(RawHandle file, long long offset, std::string_view bytes,
               std::size_t* count) override;
  int flush(RawHandle file) override;
  int size(RawHandle file, long long* bytes) override;
  int close(RawHandle file) override;
};

}  // namespace reg7140
