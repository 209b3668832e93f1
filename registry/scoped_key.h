// A registry key open for the length of a scope: closed when the scope ends, so that no way out
// of a step leaves a key open, and every report is printed after the step's keys are closed.
#pragma once

#include "app/report.h"
#include "platform/registry.h"

namespace reg7140 {

class ScopedKey {
 public:
  explicit ScopedKey(Registry& registry) : registry_(registry) {}
  ScopedKey(const ScopedKey&) = delete;
  ScopedKey& operator=(const ScopedKey&) = delete;
  ~ScopedKey() {
    if (key_ != kNoKey) registry_.close_key(key_);
  }

  KeyHandle* receive() { return &key_; }
  KeyHandle get() const { return key_; }

 private:
  Registry& registry_;
  KeyHandle key_ = kNoKey;
};

}  // namespace reg7140
