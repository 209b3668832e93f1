#pragma once

#include <string>

namespace reg7140 {

// Runs on one emulated machine happen one after another: an exclusive lock on the Windows
// directory itself (it survives the rename of the registry file), held until destroyed.
class MachineLock {
 public:
  MachineLock() = default;
  MachineLock(const MachineLock&) = delete;
  MachineLock& operator=(const MachineLock&) = delete;
  ~MachineLock();

  // Blocks until the lock is held; false when the directory cannot be opened.
  bool acquire(const std::string& host_directory);

 private:
  int fd_ = -1;
};

}  // namespace reg7140
