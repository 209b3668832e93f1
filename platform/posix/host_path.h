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

// As to_host_path, for a path that is about to be written: 0, or the errno of a directory on the
// way that could not be listed while the component is not there as spelled. It may be there under
// another spelling, and a new file under the job's spelling would stand beside it.
int to_host_path_for_writing(std::string_view windows_path, std::string* host);

}  // namespace reg7140
