#include "platform/posix/host_path.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>
#include <string_view>

#include "platform/ascii.h"

namespace reg7140 {
namespace {

enum class Lookup { kFound, kMissing, kUnknown };

// The spelling under which `name` exists in `directory`: the exact one when present, else the
// first case-insensitive match in byte order. kUnknown when the directory cannot be listed (in
// full) and `name` is not there as spelled: it may be there under another spelling.
Lookup find_entry(const std::string& directory, std::string_view name, std::string* spelling,
                  int* error) {
  int listing_error = 0;
  bool found = false;
  DIR* dir = ::opendir(directory.c_str());
  if (dir == nullptr) {
    listing_error = errno;
  } else {
    for (;;) {
      errno = 0;
      const dirent* entry = ::readdir(dir);
      if (entry == nullptr) {
        listing_error = errno;
        break;
      }
      std::string_view candidate(entry->d_name);
      if (candidate == name) {
        spelling->assign(name);
        found = true;
        break;
      }
      if (equals_folded(candidate, name) && (!found || candidate < *spelling)) {
        spelling->assign(candidate);
        found = true;
      }
    }
    ::closedir(dir);
  }
  if (listing_error == 0) return found ? Lookup::kFound : Lookup::kMissing;
  if (listing_error == ENOENT || listing_error == ENOTDIR) return Lookup::kMissing;

  // Without the whole listing only the given spelling can be checked.
  std::string full = directory + "/" + std::string(name);
  struct stat status;
  if (::lstat(full.c_str(), &status) == 0) {
    spelling->assign(name);
    return Lookup::kFound;
  }
  *error = listing_error;
  return Lookup::kUnknown;
}

int map_path(std::string_view windows_path, bool strict, std::string* host) {
  std::string& result = *host;
  result.clear();
  result.reserve(windows_path.size());
  bool looking_up = true;
  std::size_t begin = 0;
  for (bool first = true;; first = false) {
    std::size_t end = begin;
    while (end < windows_path.size() && windows_path[end] != '\\' && windows_path[end] != '/') {
      ++end;
    }
    std::string_view component = windows_path.substr(begin, end - begin);
    // Where this component is looked for: the current directory for the first component of a
    // relative path, the root when only separators came before it.
    std::string directory = first ? "." : (result.empty() ? "/" : result);
    if (!first) result.push_back('/');
    if (looking_up && !component.empty() && component != "." && component != "..") {
      std::string spelling;
      int error = 0;
      const Lookup found = find_entry(directory, component, &spelling, &error);
      if (found == Lookup::kUnknown && strict) return error;
      if (found == Lookup::kFound) {
        result += spelling;
      } else {
        // Nothing below a missing entry can exist: the rest keeps the job's spelling.
        looking_up = false;
        result += component;
      }
    } else {
      result += component;
    }
    if (end == windows_path.size()) break;
    begin = end + 1;
  }
  return 0;
}

}  // namespace

std::string to_host_path(std::string_view windows_path) {
  std::string host;
  map_path(windows_path, false, &host);
  return host;
}

int to_host_path_for_writing(std::string_view windows_path, std::string* host) {
  return map_path(windows_path, true, host);
}

}  // namespace reg7140
