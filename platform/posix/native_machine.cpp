// The emulated Windows 95 machine: the directory that WINDIR names, with its registry in the
// REGEDIT4 file system.reg.
#include <cstdlib>
#include <string>

#include "platform/native.h"
#include "platform/posix/file_registry.h"
#include "platform/posix/host_path.h"
#include "platform/posix/machine_lock.h"
#include "platform/posix/posix_console.h"
#include "platform/posix/posix_environment.h"
#include "platform/posix/posix_files.h"
#include "platform/registry_version.h"

namespace reg7140 {

namespace {

// The registry file of the machine; empty without a Windows directory, which reads as a machine
// without a registry.
std::string registry_file(const char* windir) {
  if (windir == nullptr || *windir == '\0') return {};
  return to_host_path(std::string(windir) + "\\system.reg");
}

}  // namespace

struct NativeMachine::Parts {
  // Runs on one machine take turns: the lock is held before anything is read (the registry file
  // is read at its first use).
  explicit Parts(const char* windir) : registry(registry_file(windir)), version(registry) {
    if (windir != nullptr && *windir != '\0') lock.acquire(to_host_path(windir));
  }

  MachineLock lock;
  FileRegistry registry;
  RegistryVersionSource version;
  PosixEnvironment environment;
  PosixFiles files;
  PosixConsole console;
  Machine machine{registry, version, environment, files, files, console};
};

NativeMachine::NativeMachine() { parts_ = std::make_unique<Parts>(std::getenv("WINDIR")); }

NativeMachine::~NativeMachine() = default;

Machine& NativeMachine::machine() { return parts_->machine; }

}  // namespace reg7140
