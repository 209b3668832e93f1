#include "platform/posix/machine_lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <optional>
#include <thread>

#include "tests/test_util.h"

namespace reg7140 {
namespace {

using test::TempDir;

// Whether another open of `directory` could take the lock right now.
bool lock_is_free(const std::filesystem::path& directory) {
  int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY);
  EXPECT_GE(fd, 0);
  bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  int error = errno;
  if (!free) {
    EXPECT_EQ(error, EWOULDBLOCK);
  }
  ::close(fd);
  return free;
}

TEST(MachineLock, HeldUntilDestroyed) {
  TempDir dir;
  {
    MachineLock lock;
    ASSERT_TRUE(lock.acquire(dir.path().string()));
    EXPECT_FALSE(lock_is_free(dir.path()));
  }
  EXPECT_TRUE(lock_is_free(dir.path()));
}

TEST(MachineLock, SurvivesRenamesInsideTheDirectory) {
  TempDir dir;
  test::write_file(dir / "system.reg", "REGEDIT4\r\n");
  MachineLock lock;
  ASSERT_TRUE(lock.acquire(dir.path().string()));
  std::filesystem::rename(dir / "system.reg", dir / "system.old");
  EXPECT_FALSE(lock_is_free(dir.path()));
}

TEST(MachineLock, SecondRunWaitsForTheFirst) {
  TempDir dir;
  // The child is started before the lock is taken: an inherited descriptor would hold it too.
  int go[2];
  ASSERT_EQ(::pipe(go), 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(go[1]);
    char byte;
    if (::read(go[0], &byte, 1) != 1) ::_exit(2);
    MachineLock second;
    ::_exit(second.acquire(dir.path().string()) ? 0 : 1);
  }
  ::close(go[0]);
  std::optional<MachineLock> first;
  first.emplace();
  bool locked = first->acquire(dir.path().string());
  EXPECT_EQ(::write(go[1], "x", 1), 1);
  ::close(go[1]);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  int status = 0;
  pid_t early = ::waitpid(child, &status, WNOHANG);
  first.reset();
  if (early == 0) {
    ASSERT_EQ(::waitpid(child, &status, 0), child);
  }
  EXPECT_TRUE(locked);
  EXPECT_EQ(early, 0) << "the second run did not wait";
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(MachineLock, FailsWithoutADirectory) {
  TempDir dir;
  test::write_file(dir / "file", "x");
  MachineLock lock;
  EXPECT_FALSE(lock.acquire((dir / "missing").string()));
  EXPECT_FALSE(lock.acquire((dir / "file").string()));
}

}  // namespace
}  // namespace reg7140
