// The running Windows itself.
#include "platform/native.h"
#include "platform/win32/win32_console.h"
#include "platform/win32/win32_environment.h"
#include "platform/win32/win32_files.h"
#include "platform/win32/win32_registry.h"
#include "platform/win32/win32_version.h"

namespace reg7140 {

// No lock around a run, unlike the emulated machine, whose registry is one file read whole and
// written back: here every registry call is the system's own and complete in itself, and the
// files are replaced whole.
struct NativeMachine::Parts {
  Win32Registry registry;
  Win32Version version;
  Win32Environment environment;
  Win32Files files;
  Win32Console console;
  Machine machine{registry, version, environment, files, files, console};
};

NativeMachine::NativeMachine() : parts_(std::make_unique<Parts>()) {}

NativeMachine::~NativeMachine() = default;

Machine& NativeMachine::machine() { return parts_->machine; }

}  // namespace reg7140
