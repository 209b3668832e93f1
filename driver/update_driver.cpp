#include "driver/update_driver.h"

#include <cstdint>

#include "driver/driver_sites.h"
#include "platform/fixed_text.h"
#include "platform/windows_errors.h"

namespace reg7140 {

namespace {

constexpr std::string_view kSourceName = "\\zvnd32.sys";
constexpr std::string_view kDestinationName = "\\system\\zvnd32.sys";

// The job's paths are built in 256 bytes.
using DriverPath = FixedText<256>;

bool is_separator(char c) { return c == '\\' || c == '/'; }

// The directory part of a path, without its last separator.
std::string_view directory_of(std::string_view path) {
  std::size_t end = path.size();
  while (end > 0 && !is_separator(path[end - 1])) --end;
  return path.substr(0, end > 0 ? end - 1 : 0);
}

}  // namespace

bool names_directory(std::string_view program_path) {
  for (char c : program_path) {
    if (is_separator(c)) return true;
  }
  return false;
}

void update_driver_file(FileStore& files, Environment& environment, const Reporter& reporter,
                        std::string_view program_path) {
  DriverPath source;
  if (!source.assign(directory_of(program_path)) || !source.append(kSourceName)) {
    report_error(reporter, site::kDriverPathTooLong, kErrorFilenameExcedRange);
    return;
  }
  std::int64_t source_time = 0;
  if (!files.file_time(source.view(), &source_time)) {
    report_error(reporter, site::kNoSourceDriver, kErrorFileNotFound);
    return;
  }

  const char* windir = environment.get_env("WINDIR");
  if (windir == nullptr || *windir == '\0') {
    report_error(reporter, site::kDriverNoWindir);
    return;
  }
  DriverPath destination;
  if (!destination.assign(windir) || !destination.append(kDestinationName)) {
    report_error(reporter, site::kDriverPathTooLong, kErrorFilenameExcedRange);
    return;
  }

  std::int64_t destination_time = 0;
  if (files.file_time(destination.view(), &destination_time)) {
    if (destination_time >= source_time) return;
    if (!files.access(destination.view(), AccessMode::kWrite)) {
      files.make_writable(destination.view());
    }
  }
  const int error = files.copy_file(source.view(), destination.view());
  if (error != 0) report_error(reporter, site::kCopyDriver, error);
}

}  // namespace reg7140
