// The open text files of a file layer: a handle is a slot of a small table, as in the C
// run-time's own stream table. A `Stream` tells by `is_open()` whether its slot is taken.
#pragma once

#include <array>

#include "platform/text_files.h"

namespace reg7140 {

template <class Stream>
class StreamTable {
 public:
  static constexpr int kSlots = 16;

  // The stream behind an open handle; nullptr for any other handle.
  Stream* find(FileHandle handle) {
    if (handle < 0 || handle >= kSlots || !streams_[handle].is_open()) return nullptr;
    return &streams_[handle];
  }
  // A slot that no open stream holds; kNoFile when all are taken.
  FileHandle free_slot() const {
    for (int i = 0; i < kSlots; ++i) {
      if (!streams_[i].is_open()) return i;
    }
    return kNoFile;
  }
  Stream& operator[](FileHandle handle) { return streams_[handle]; }

 private:
  std::array<Stream, kSlots> streams_{};
};

}  // namespace reg7140
