// The emulated machine's Windows paths on the host's file system.
#pragma once

#include <string>
#include <string_view>

namespace reg7140 {

// Maps a Windows-style path (as a job builds it: the Windows directory, then a relative path with
// backslashes) onto the host. Each backslash becomes '/', and each component is looked up as on a
// FAT disk: an entry spelled exactly so wins, otherwise the first entry in byte order that matches
// without regard to ASCII letter case. Components that do not exist keep the given spelling.
std::string to_host_path(std::string_view windows_path);

}  // namespace reg7140
