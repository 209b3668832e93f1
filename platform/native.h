// The machine the program runs on: the real Windows API in the Windows build, the emulated
// Windows directory named by WINDIR in the POSIX build.
#pragma once

#include <memory>

#include "platform/machine.h"

namespace reg7140 {

class NativeMachine {
 public:
  NativeMachine();
  NativeMachine(const NativeMachine&) = delete;
  NativeMachine& operator=(const NativeMachine&) = delete;
  ~NativeMachine();

  Machine& machine();

 private:
  struct Parts;
  std::unique_ptr<Parts> parts_;
};

}  // namespace reg7140
