#include "platform/win32/win32_registry.h"

#include <windows.h>

#include <limits>

#include "platform/fixed_text.h"

namespace reg7140 {
namespace {

HKEY to_hkey(KeyHandle key) { return reinterpret_cast<HKEY>(key); }
KeyHandle to_handle(HKEY key) { return reinterpret_cast<KeyHandle>(key); }

// Key paths and value names, NUL-terminated for the API.
using NameText = FixedText<kMaxPath>;

// 0, or why `text` cannot be handed to the API: one with a NUL inside would name another key.
RegStatus to_c_name(std::string_view text, NameText* out) {
  if (text.find('\0') != std::string_view::npos) return kErrorInvalidParameter;
  return out->assign(text) ? kErrorSuccess : kErrorFilenameExcedRange;
}

}  // namespace

RegStatus Win32Registry::open_key(std::string_view path, KeyAccess access, KeyHandle* key) {
  *key = kNoKey;
  NameText c_path;
  if (const RegStatus status = to_c_name(path, &c_path); status != kErrorSuccess) return status;
  HKEY opened = nullptr;
  const REGSAM sam = access == KeyAccess::kRead ? KEY_READ : KEY_ALL_ACCESS;
  const LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, c_path.c_str(), 0, sam, &opened);
  if (status == ERROR_SUCCESS) *key = to_handle(opened);
  return status;
}

RegStatus Win32Registry::create_key(KeyHandle parent, std::string_view subkey,
                                    std::string_view class_name, KeyHandle* key,
                                    std::uint32_t* disposition) {
  *key = kNoKey;
  NameText c_subkey;
  NameText c_class;
  if (const RegStatus status = to_c_name(subkey, &c_subkey); status != kErrorSuccess) {
    return status;
  }
  if (const RegStatus status = to_c_name(class_name, &c_class); status != kErrorSuccess) {
    return status;
  }
  HKEY created = nullptr;
  DWORD how = 0;
  const LONG status =
      RegCreateKeyExA(to_hkey(parent), c_subkey.c_str(), 0, c_class.data(), REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, &created, &how);
  if (status == ERROR_SUCCESS) {
    *key = to_handle(created);
    if (disposition != nullptr) *disposition = how;
  }
  return status;
}

RegStatus Win32Registry::query_value(KeyHandle key, std::string_view name, std::uint32_t* type,
                                     std::span<std::uint8_t> buffer, std::uint32_t* size) {
  NameText c_name;
  if (const RegStatus status = to_c_name(name, &c_name); status != kErrorSuccess) return status;
  if (buffer.size() > std::numeric_limits<DWORD>::max()) return ERROR_INVALID_PARAMETER;
  // Without a buffer the API reports the length and success; a value that does not fit an empty
  // buffer must still read as ERROR_MORE_DATA.
  BYTE none = 0;
  BYTE* data = buffer.empty() ? &none : buffer.data();
  DWORD value_type = 0;
  DWORD length = static_cast<DWORD>(buffer.size());
  const LONG status =
      RegQueryValueExA(to_hkey(key), c_name.c_str(), nullptr, &value_type, data, &length);
  if (type != nullptr) *type = value_type;
  if (size != nullptr) *size = length;
  return status;
}

RegStatus Win32Registry::set_value(KeyHandle key, std::string_view name, std::uint32_t type,
                                   std::span<const std::uint8_t> data) {
  NameText c_name;
  if (const RegStatus status = to_c_name(name, &c_name); status != kErrorSuccess) return status;
  if (data.size() > std::numeric_limits<DWORD>::max()) return ERROR_INVALID_PARAMETER;
  return RegSetValueExA(to_hkey(key), c_name.c_str(), 0, type, data.data(),
                        static_cast<DWORD>(data.size()));
}

RegStatus Win32Registry::delete_value(KeyHandle key, std::string_view name) {
  NameText c_name;
  if (const RegStatus status = to_c_name(name, &c_name); status != kErrorSuccess) return status;
  return RegDeleteValueA(to_hkey(key), c_name.c_str());
}

void Win32Registry::close_key(KeyHandle key) {
  if (key != kNoKey) RegCloseKey(to_hkey(key));
}

}  // namespace reg7140
