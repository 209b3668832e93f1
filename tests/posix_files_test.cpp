// What the host's files add to the text streams: the failures an open reports, the read-only
// attribute, and whole files put in place.
#include "platform/posix/posix_files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <string>
#include <tuple>
#include <utility>

#include "tests/test_util.h"

namespace reg7140 {
namespace {

namespace fs = std::filesystem;

// The owner's write bit stands for the read-only attribute, for root too: make_writable sets it
// and the owner's read bit, and keeps every other bit.
TEST(PosixFiles, OwnerBitsAreTheReadOnlyAttribute) {
  test::TempDir dir;
  const std::string path = (dir / "f.inf").string();
  PosixFiles files;
  const std::array<unsigned, 4> cases[] = {{0644, 1, 1, 0644},
                                           {0444, 0, 0, 0644},
                                           {0200, 1, 0, 0600},
                                           {0400, 0, 0, 0600},
                                           {01071, 0, 0, 01671}};
  for (const auto& [mode, write, read_write, writable] : cases) {
    test::write_file(path, "x");
    ::chmod(path.c_str(), mode);
    EXPECT_EQ(files.access(path, AccessMode::kWrite), write != 0) << mode;
    EXPECT_EQ(files.access(path, AccessMode::kReadWrite), read_write != 0) << mode;
    files.make_writable(path);
    EXPECT_EQ(fs::status(path).permissions(), fs::perms(writable)) << mode;
  }
}

// A replacement puts the whole new file in place once it is flushed; a copy takes the source's
// bytes and last-write time and keeps the destination's mode, with writing allowed. Times are
// told in whole seconds.
TEST(PosixFiles, WholeFilesPutInPlace) {
  test::TempDir dir;
  const std::string inf = (dir / "netzor.inf").string(), scratch = (dir / "netzor.new").string();
  const std::string source = (dir / "disk/zvnd32.sys").string(),
                    target = (dir / "zvnd32.sys").string();
  test::write_file(inf, "old");
  test::write_file(scratch, "new");
  PosixFiles files;
  EXPECT_EQ((std::pair{files.replace_file(scratch, inf), files.replace_file(scratch, inf)}),
            std::pair(0, ENOENT));
  // A file that cannot be flushed never takes the old one's place.
  const int status = ::open("/proc/self/status", O_RDONLY);
  const int unflushable = ::fsync(status) == 0 ? 0 : errno;
  ::close(status);
  ASSERT_NE(unflushable, 0) << "files of /proc can be flushed here";
  EXPECT_EQ(files.replace_file("/proc/self/status", inf), unflushable);
  EXPECT_EQ(test::read_file(inf), "new");

  const std::string bytes = std::string("MZ\0\x1A\r\n", 6) + std::string(200000, 'd');
  test::write_file(source, bytes);
  const struct timespec times[2] = {{0, 0}, {1000000000, 999999999}};
  ::utimensat(AT_FDCWD, source.c_str(), times, 0);
  std::int64_t seconds = 0;
  EXPECT_EQ((std::pair{files.file_time(source, &seconds), seconds}), std::pair(true, 1000000000l));
  for (const unsigned mode : {0u, 0450u}) {
    if (mode != 0) test::write_file(target, "old driver");
    ::chmod(target.c_str(), mode);
    ASSERT_EQ(files.copy_file(source, target), 0);
    struct stat copied;
    ::stat(target.c_str(), &copied);
    EXPECT_EQ(std::tuple(test::read_file(target) == bytes, copied.st_mode & 07777,
                         copied.st_mtim.tv_sec, copied.st_mtim.tv_nsec),
              std::tuple(true, mode == 0 ? 0644u : 0650u, 1000000000l, 999999999l));
  }
  EXPECT_EQ(files.copy_file((dir / "disk/missing.sys").string(), target), ENOENT);
}

}  // namespace
}  // namespace reg7140
