// Sections of this file:
//   1. Attributes
//   2. Text: passed to the shared streams over the host's raw files
//   3. Whole files: replacing, times, copying
#include "platform/posix/posix_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <memory>
#include <string>

#include "platform/file_streams.h"
#include "platform/posix/durable_file.h"
#include "platform/posix/host_path.h"
#include "platform/posix/posix_raw_file.h"
#include "platform/posix/raw_io.h"

namespace reg7140 {

struct PosixFiles::State {
  PosixRawFiles raw;
  FileStreams streams{raw};
};

PosixFiles::PosixFiles() : state_(std::make_unique<State>()) {}

PosixFiles::~PosixFiles() = default;

// ---- 1. Attributes ------------------------------------------------------------------------------

bool PosixFiles::access(std::string_view path, AccessMode mode) {
  // The owner's bits stand for the read-only attribute: root would pass access(2) for any file.
  struct stat status;
  if (::stat(to_host_path(path).c_str(), &status) != 0) return false;
  mode_t needed = mode == AccessMode::kReadWrite ? (S_IRUSR | S_IWUSR) : S_IWUSR;
  return (status.st_mode & needed) == needed;
}

void PosixFiles::make_writable(std::string_view path) {
  std::string host = to_host_path(path);
  struct stat status;
  if (::stat(host.c_str(), &status) != 0) return;
  ::chmod(host.c_str(), (status.st_mode & 07777) | S_IRUSR | S_IWUSR);
}

// ---- 2. Text: passed to the shared streams over the host's raw files -------------------------

int PosixFiles::open_text(std::string_view path, OpenMode mode, FileHandle* file) {
  return state_->streams.open(path, mode, file);
}

LineResult PosixFiles::read_line(FileHandle file, std::span<char> buffer) {
  return state_->streams.read_line(file, buffer);
}

int PosixFiles::write(FileHandle file, std::string_view text) {
  return state_->streams.write(file, text);
}

int PosixFiles::tell(FileHandle file, long* position) {
  return state_->streams.tell(file, position);
}

int PosixFiles::seek(FileHandle file, long position) {
  return state_->streams.seek(file, position);
}

bool PosixFiles::ended_cleanly(FileHandle file) { return state_->streams.ended_cleanly(file); }

int PosixFiles::close(FileHandle file) { return state_->streams.close(file); }

// ---- 3. Whole files: replacing, times, copying --------------------------------------------------

int PosixFiles::replace_file(std::string_view from, std::string_view to) {
  std::string host_from;
  std::string host_to;
  // An unreadable directory hides how the files are spelled; guessing could leave the old file
  // in place beside a new one.
  if (int error = to_host_path_for_writing(from, &host_from); error != 0) return error;
  if (int error = to_host_path_for_writing(to, &host_to); error != 0) return error;
  return replace_durably(host_from, host_to);
}

bool PosixFiles::file_time(std::string_view path, std::int64_t* seconds) {
  struct stat status;
  if (::stat(to_host_path(path).c_str(), &status) != 0) return false;
  *seconds = static_cast<std::int64_t>(status.st_mtim.tv_sec);
  return true;
}

int PosixFiles::copy_file(std::string_view from, std::string_view to) {
  std::string host_to;
  if (int error = to_host_path_for_writing(to, &host_to); error != 0) return error;
  const int source = ::open(to_host_path(from).c_str(), O_RDONLY | O_CLOEXEC);
  if (source < 0) return errno;
  const auto copy = [source, &host_to]() -> int {
    struct stat source_status;
    if (::fstat(source, &source_status) != 0) return errno;
    // The destination keeps its mode, with writing allowed.
    mode_t mode = 0644;
    struct stat target_status;
    if (::stat(host_to.c_str(), &target_status) == 0) {
      mode = (target_status.st_mode & 07777) | S_IWUSR;
    } else if (errno != ENOENT) {
      return errno;
    }
    DurableFile target;
    if (const int error = target.create(host_to); error != 0) return error;
    std::array<char, 65536> chunk;
    for (;;) {
      const ssize_t n = read_retrying(source, chunk.data(), chunk.size());
      if (n < 0) return errno;
      if (n == 0) break;
      const int error = target.write(std::string_view(chunk.data(), static_cast<std::size_t>(n)));
      if (error != 0) return error;
    }
    const struct timespec times[2] = {{0, UTIME_NOW}, source_status.st_mtim};
    if (::fchmod(target.fd(), mode) != 0 || ::futimens(target.fd(), times) != 0) return errno;
    return target.commit();
  };
  const int error = copy();
  ::close(source);
  return error;
}

}  // namespace reg7140
