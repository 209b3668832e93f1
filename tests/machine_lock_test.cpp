#include "platform/posix/machine_lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
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

// Whether another open of `directory` could take the lock right now.
bool lock_is_free(const std::filesystem::path& directory) {
  const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY);
  EXPECT_GE(fd, 0);
  const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  EXPECT_TRUE(free || errno == EWOULDBLOCK);
  ::close(fd);
  return free;
}

// Whether a byte arrives on `fd` within `milliseconds`; an end of file counts as none.
bool byte_within(int fd, int milliseconds) {
  pollfd wait_for{fd, POLLIN, 0};
  char byte = 0;
  return ::poll(&wait_for, 1, milliseconds) == 1 && ::read(fd, &byte, 1) == 1;
}

// The child's exit status, or -1 when it had to be killed because it did not end in time.
int reap_within(pid_t child, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (::waitpid(child, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(child, SIGKILL);
      ::waitpid(child, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Held until destroyed, also while files inside the directory are renamed.
TEST(MachineLock, HeldUntilDestroyed) {
  test::TempDir dir;
  test::write_file(dir / "system.reg", "REGEDIT4\r\n");
  {
    MachineLock lock;
    ASSERT_TRUE(lock.acquire(dir.path().string()));
    std::filesystem::rename(dir / "system.reg", dir / "system.old");
    EXPECT_FALSE(lock_is_free(dir.path()));
  }
  EXPECT_TRUE(lock_is_free(dir.path()));
}

// A second run takes the lock only once the first lets it go. Every wait is bounded, so a lock
// that is never granted fails the test instead of hanging it.
TEST(MachineLock, SecondRunWaitsForTheFirst) {
  test::TempDir dir;
  int go[2];
  int acquired[2];
  ASSERT_EQ(::pipe(go), 0);
  ASSERT_EQ(::pipe(acquired), 0);
  // The child is started before the lock is taken: an inherited descriptor would hold it too.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::alarm(60);  // the child's own bound, should the parent be gone
    ::close(go[1]);
    ::close(acquired[0]);
    char byte = 0;
    if (::read(go[0], &byte, 1) != 1) ::_exit(2);
    MachineLock second;
    if (!second.acquire(dir.path().string())) ::_exit(1);
    ::_exit(::write(acquired[1], "y", 1) == 1 ? 0 : 3);
  }
  ::close(go[0]);
  ::close(acquired[1]);
  std::optional<MachineLock> first;
  first.emplace();
  const bool locked = first->acquire(dir.path().string());
  EXPECT_EQ(::write(go[1], "x", 1), 1);
  ::close(go[1]);
  const bool too_early = byte_within(acquired[0], 300);
  first.reset();
  const bool after_release = too_early || byte_within(acquired[0], 20000);
  ::close(acquired[0]);
  EXPECT_EQ(reap_within(child, std::chrono::seconds(20)), 0);
  EXPECT_TRUE(locked);
  EXPECT_FALSE(too_early) << "the second run did not wait";
  EXPECT_TRUE(after_release) << "the second run never got the lock";
}

TEST(MachineLock, FailsWithoutADirectory) {
  test::TempDir dir;
  test::write_file(dir / "file", "x");
  MachineLock lock;
  EXPECT_FALSE(lock.acquire((dir / "missing").string()));
  EXPECT_FALSE(lock.acquire((dir / "file").string()));
}

}  // namespace
}  // namespace reg7140
