#include "driver/update_driver.h"

#include <array>
#include <cstdint>
#include <cstring>

#include "driver/driver_sites.h"
#include "platform/registry.h"

namespace reg7140 {

namespace {

constexpr std::string_view kSourceName = "\\zvnd32.sys";
constexpr std::string_view kDestinationName = "\\system\\zvnd32.sys";
constexpr std::size_t kPathSize = 256;

using PathBuffer = std::array<char, kPathSize>;

bool is_separator(char c) { return c == '\\' || c == '/'; }

// The directory part of a path, without its last separator; empty when there is none.
std::string_view directory_of(std::string_view path, bool* has_separator) {
  for (std::size_t i = path.size(); i > 0; --i) {
    if (is_separator(path[i - 1])) {
      *has_separator = true;
      return path.substr(0, i - 1);
    }
  }
  *has_separator = false;
  return {};
}

// Joins two texts into `buffer`; false when they do not fit with the terminator.
bool join(PathBuffer& buffer, std::string_view head, std::string_view tail, std::string_view* out) {
  if (head.size() + tail.size() + 1 > buffer.size()) return false;
  std::memcpy(buffer.data(), head.data(), head.size());
  std::memcpy(buffer.data() + head.size(), tail.data(), tail.size());
  buffer[head.size() + tail.size()] = '\0';
  *out = std::string_view(buffer.data(), head.size() + tail.size());
  return true;
}

}  // namespace

void update_driver_file(Files& files, Environment& environment, const Reporter& reporter,
                        std::string_view program_path) {
  // The source disk is the directory the program was started from; a program found through
  // the search path gives no directory, and its own file tells where it lies.
  bool has_separator = false;
  std::string_view directory = directory_of(program_path, &has_separator);
  if (!has_separator) directory = directory_of(files.program_file(), &has_separator);

  PathBuffer source_buffer{};
  std::string_view source;
  if (!join(source_buffer, directory, kSourceName, &source)) {
    report_error(reporter, site::kDriverPathTooLong, kErrorFilenameExcedRange);
    return;
  }
  std::int64_t source_time = 0;
  if (!files.file_time(source, &source_time)) {
    report_error(reporter, site::kNoSourceDriver, kErrorFileNotFound);
    return;
  }

  const char* windir = environment.get_env("WINDIR");
  if (windir == nullptr || *windir == '\0') {
    report_error(reporter, site::kDriverNoWindir);
    return;
  }
  PathBuffer destination_buffer{};
  std::string_view destination;
  if (!join(destination_buffer, windir, kDestinationName, &destination)) {
    report_error(reporter, site::kDriverPathTooLong, kErrorFilenameExcedRange);
    return;
  }

  std::int64_t destination_time = 0;
  if (files.file_time(destination, &destination_time)) {
    if (destination_time >= source_time) return;
    if (!files.access(destination, AccessMode::kWrite)) files.make_writable(destination);
  }
  const int error = files.copy_file(source, destination);
  if (error != 0) report_error(reporter, site::kCopyDriver, error);
}

}  // namespace reg7140
