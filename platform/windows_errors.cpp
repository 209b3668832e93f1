#include "platform/windows_errors.h"

#include <array>
#include <cerrno>

namespace reg7140 {
namespace {

// The C run-time's own mapping of a Windows error onto errno, one range of codes a row, in
// ascending order; a code in no row gives EINVAL.
struct ErrnoRange {
  WinError first;
  WinError last;
  int error;
};

constexpr std::array<ErrnoRange, 40> kErrnoRanges = {{
    {1, 1, EINVAL},      {2, 3, ENOENT},     {4, 4, EMFILE},        {5, 5, EACCES},
    {6, 6, EBADF},       {7, 9, ENOMEM},     {10, 10, E2BIG},       {11, 11, ENOEXEC},
    {12, 13, EINVAL},    {15, 15, ENOENT},   {16, 16, EACCES},      {17, 17, EXDEV},
    {18, 18, ENOENT},    {19, 36, EACCES},   {53, 53, ENOENT},      {65, 65, EACCES},
    {67, 67, ENOENT},    {80, 80, EEXIST},   {82, 83, EACCES},      {87, 87, EINVAL},
    {89, 89, EAGAIN},    {108, 108, EACCES}, {109, 109, EPIPE},     {112, 112, ENOSPC},
    {114, 114, EBADF},   {124, 124, EINVAL}, {128, 129, ECHILD},    {130, 130, EBADF},
    {131, 131, EINVAL},  {132, 132, EACCES}, {145, 145, ENOTEMPTY}, {158, 158, EACCES},
    {161, 161, ENOENT},  {164, 164, EAGAIN}, {167, 167, EACCES},    {183, 183, EEXIST},
    {188, 202, ENOEXEC}, {206, 206, ENOENT}, {215, 215, EAGAIN},    {1816, 1816, ENOMEM},
}};

}  // namespace

int errno_from_windows_error(WinError error) {
  if (error == kErrorSuccess) return 0;
  for (const ErrnoRange& range : kErrnoRanges) {
    if (error < range.first) break;
    if (error <= range.last) return range.error;
  }
  return EINVAL;
}

}  // namespace reg7140
