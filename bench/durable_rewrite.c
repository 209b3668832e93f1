/* The benchmark's baseline: rewrites each file named on the command line durably, the least a
 * program that changes these files safely has to do. The file is read and written to a temporary
 * file beside it, which is flushed and renamed over it; then the directory is flushed so that the
 * rename itself survives a crash. The content stays the same.
 *
 *     durable_rewrite FILE...      exit status 0 when every file was rewritten, 1 otherwise
 */
#define _POSIX_C_SOURCE 200809L
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static int write_all(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    data += n;
    size -= (size_t)n;
  }
  return 0;
}

/* Copies in to out in blocks; -1 on a failed read or write. */
static int copy(int in, int out) {
  static char block[1 << 16];
  for (;;) {
    ssize_t n = read(in, block, sizeof block);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) return 0;
    if (write_all(out, block, (size_t)n) != 0) return -1;
  }
}

static int rewrite(const char* path) {
  size_t length = strlen(path);
  char* temp = malloc(length + sizeof ".XXXXXX");
  char* directory = malloc(length + 2);
  if (!temp || !directory) return -1;
  memcpy(temp, path, length);
  memcpy(temp + length, ".XXXXXX", sizeof ".XXXXXX");
  memcpy(directory, path, length + 1);
  char* slash = strrchr(directory, '/');
  if (slash)
    slash[1] = '\0';
  else
    strcpy(directory, ".");

  int ok = 0, in = open(path, O_RDONLY), out = -1;
  struct stat st;
  if (in >= 0 && fstat(in, &st) == 0 && (out = mkstemp(temp)) >= 0) {
    ok = copy(in, out) == 0 && fchmod(out, st.st_mode & 07777) == 0 && fsync(out) == 0;
    ok = close(out) == 0 && ok;
    ok = ok && rename(temp, path) == 0;
    if (!ok) unlink(temp);
  }
  if (in >= 0) close(in);
  if (ok) {
    int dir = open(directory, O_RDONLY | O_DIRECTORY);
    ok = dir >= 0 && fsync(dir) == 0;
    if (dir >= 0) close(dir);
  }
  if (!ok) perror(path);
  free(temp);
  free(directory);
  return ok ? 0 : -1;
}

int main(int argc, char** argv) {
  int status = 0;
  for (int i = 1; i < argc; ++i)
    if (rewrite(argv[i]) != 0) status = 1;
  return status;
}
