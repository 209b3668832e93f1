#include "platform/win32/win32_environment.h"

#include <windows.h>

#include <array>

namespace reg7140 {

std::unique_ptr<char[]> read_environment(const char* name) {
  // The length asked for grows until the value fits: another thread of the process could
  // change it between two calls.
  DWORD room = 256;
  for (;;) {
    std::unique_ptr<char[]> value(new char[room]);
    SetLastError(ERROR_SUCCESS);
    const DWORD length = GetEnvironmentVariableA(name, value.get(), room);
    if (length == 0) {
      // An empty value is a set variable, told apart by the error.
      if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return nullptr;
      value[0] = '\0';
      return value;
    }
    if (length < room) return value;
    room = length + 1;
  }
}

const char* Win32Environment::get_env(const char* name) {
  const std::string_view wanted(name);
  Value* slot = &values_.back();
  for (Value& value : values_) {
    if (value.name == wanted || value.name.empty()) {
      slot = &value;
      break;
    }
  }
  slot->name = wanted;
  slot->text = read_environment(name);
  return slot->text.get();
}

std::string_view Win32Environment::program_file() {
  if (program_.empty()) {
    std::array<char, MAX_PATH + 1> path{};
    const DWORD length = GetModuleFileNameA(nullptr, path.data(), MAX_PATH);
    if (length > 0 && length < MAX_PATH) program_.assign(std::string_view(path.data(), length));
  }
  return program_.view();
}

}  // namespace reg7140
