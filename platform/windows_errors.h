// Windows error codes, as the registry functions return them and GetLastError tells them; the
// emulated machine answers with the same codes.
#pragma once

namespace reg7140 {

using WinError = long;

inline constexpr WinError kErrorSuccess = 0;
inline constexpr WinError kErrorFileNotFound = 2;
inline constexpr WinError kErrorAccessDenied = 5;
inline constexpr WinError kErrorInvalidHandle = 6;
inline constexpr WinError kErrorWriteProtect = 19;
inline constexpr WinError kErrorWriteFault = 29;
inline constexpr WinError kErrorInvalidParameter = 87;
inline constexpr WinError kErrorDiskFull = 112;
inline constexpr WinError kErrorCallNotImplemented = 120;
inline constexpr WinError kErrorFilenameExcedRange = 206;
inline constexpr WinError kErrorMoreData = 234;
inline constexpr WinError kErrorBadDb = 1009;

// errno as the Windows C run-time sets it for a Windows error code, on every platform with
// that platform's errno numbers.
int errno_from_windows_error(WinError error);

}  // namespace reg7140
