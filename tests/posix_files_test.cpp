#include "platform/posix/posix_files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/test_util.h"

namespace reg7140 {
namespace {

namespace fs = std::filesystem;
using test::read_file;
using test::TempDir;
using test::write_file;

constexpr std::size_t kBuffer = PosixFiles::kBufferSize;
constexpr std::size_t kLineLimit = 255;  // the INF job's limit: 254 characters a read

std::string letters(std::size_t count, std::size_t seed = 0) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) text.push_back(static_cast<char>('a' + (seed + i) % 26));
  return text;
}

FileHandle open_file(PosixFiles& files, const fs::path& path, OpenMode mode) {
  FileHandle file = kNoFile;
  EXPECT_EQ(files.open_text(path.string(), mode, &file), 0) << path;
  return file;
}

std::string read_piece(PosixFiles& files, FileHandle file, LineStatus status = LineStatus::kLine) {
  std::array<char, kLineLimit + 1> buffer;
  const LineResult line = files.read_line(file, std::span<char>(buffer.data(), kLineLimit));
  EXPECT_EQ(line.status, status);
  EXPECT_LE(line.length, kLineLimit - 1);
  EXPECT_EQ(buffer[line.length], '\0');
  return std::string(buffer.data(), line.length);
}

// The cases of tests/data/text_reads.txt. The pieces that reads with the INF job's limit give are
// the text cut after each line feed and after every 254 characters.
TEST(PosixFiles, ReadsTextLikeTheWindowsRunTime) {
  const auto rows = test::load_table("data/text_reads.txt");
  ASSERT_GT(rows.size(), 20u);
  for (auto row : rows) {
    SCOPED_TRACE(row[0]);
    ASSERT_EQ(row.size(), 4u);
    for (std::string* field : {&row[1], &row[2]}) {
      for (std::size_t at; (at = field->find("<fill ")) != std::string::npos;) {
        const std::size_t end = field->find('>', at);
        const long offset = std::stol(field->substr(at + 6, end - at - 6));
        const std::string fill = letters(kBuffer + offset - 2) + (field == &row[1] ? "\r\n" : "\n");
        field->replace(at, end + 1 - at, fill);
      }
    }
    std::vector<std::string> expected;
    for (std::size_t at = 0; at < row[2].size();) {
      const std::size_t line_end = std::min(row[2].find('\n', at), row[2].size() - 1) + 1;
      const std::size_t length = std::min(line_end - at, kLineLimit - 1);
      expected.push_back(row[2].substr(at, length));
      at += length;
    }
    TempDir dir;
    write_file(dir / "in.inf", row[1]);
    PosixFiles files;
    const FileHandle file = open_file(files, dir / "in.inf", OpenMode::kReadText);
    std::vector<std::string> pieces;
    while (pieces.size() < expected.size()) pieces.push_back(read_piece(files, file));
    EXPECT_EQ(pieces, expected);
    EXPECT_EQ(read_piece(files, file, LineStatus::kEndOfFile), "");
    EXPECT_EQ(files.ended_cleanly(file), row[3] == "clean");
    EXPECT_EQ(files.close(file), 0);
  }
}

// Positions told before each read are the stored offsets, for long lines and every kind of line
// end, across buffer fills; a seek back to one reads the same piece again.
TEST(PosixFiles, PositionsAreStoredOffsets) {
  struct Line {
    std::string text;
    std::string end;
  };
  std::vector<Line> lines;
  for (std::size_t length : {253u, 254u, 255u, 256u, 507u, 508u, 100000u}) {
    lines.push_back({letters(length), "\r\n"});
  }
  for (std::size_t i = 0; i < 1200; ++i) {
    lines.push_back({letters(i % 300, i), i % 3 == 0 ? "\r\n" : (i % 3 == 1 ? "\r\r\n" : "\n")});
  }
  std::string stored;
  for (const Line& line : lines) stored += line.text + line.end;
  ASSERT_GT(stored.size(), 3 * kBuffer);
  TempDir dir;
  write_file(dir / "in.inf", stored);
  PosixFiles files;
  const FileHandle file = open_file(files, dir / "in.inf", OpenMode::kReadText);
  std::vector<long> positions;
  std::vector<std::string> pieces;
  long line_start = 0;
  for (const Line& line : lines) {
    const std::string text = line.text + (line.end == "\r\r\n" ? "\r\n" : "\n");
    for (std::size_t done = 0; done < text.size();) {
      long position = -1;
      ASSERT_EQ(files.tell(file, &position), 0);
      ASSERT_EQ(position, line_start + static_cast<long>(done));
      pieces.push_back(read_piece(files, file));
      positions.push_back(position);
      ASSERT_EQ(pieces.back(), text.substr(done, kLineLimit - 1));
      done += pieces.back().size();
    }
    line_start += static_cast<long>(line.text.size() + line.end.size());
  }
  for (std::size_t i = pieces.size(); i-- > 0;) {
    ASSERT_EQ(files.seek(file, positions[i]), 0);
    ASSERT_EQ(read_piece(files, file), pieces[i]) << "piece " << i;
  }
}

// Ctrl-Z ends the text only where the read meets it: past it, after a seek, the bytes are text
// again, and the end found last decides whether the text ended cleanly.
TEST(PosixFiles, SeekingAroundTheEndOfText) {
  TempDir dir;
  write_file(dir / "in.inf", "ab\r\nc\rd\r\n\x1Atail");
  PosixFiles files;
  const FileHandle file = open_file(files, dir / "in.inf", OpenMode::kReadText);
  EXPECT_EQ(read_piece(files, file), "ab\n");
  EXPECT_FALSE(files.ended_cleanly(file));  // not at the end yet
  EXPECT_EQ(read_piece(files, file), "c\rd\n");
  long position = -1;
  ASSERT_EQ(files.tell(file, &position), 0);
  EXPECT_EQ(position, 9);
  read_piece(files, file, LineStatus::kEndOfFile);
  EXPECT_FALSE(files.ended_cleanly(file));
  ASSERT_EQ(files.seek(file, 4), 0);
  EXPECT_FALSE(files.ended_cleanly(file));
  EXPECT_EQ(read_piece(files, file), "c\rd\n");
  ASSERT_EQ(files.seek(file, 10), 0);
  EXPECT_EQ(read_piece(files, file), "tail");
  read_piece(files, file, LineStatus::kEndOfFile);
  EXPECT_TRUE(files.ended_cleanly(file));
  ASSERT_EQ(files.seek(file, 0), 0);
  EXPECT_FALSE(files.ended_cleanly(file));
}

// Every LF written is stored as CR LF, other bytes as they are, in buffered runs: also the pair
// whose CR ends a buffer. An existing file is truncated by the open.
TEST(PosixFiles, WritesStoreEveryLineFeedAsCrLf) {
  TempDir dir;
  write_file(dir / "out.new", "a much longer old content\r\n");
  PosixFiles files;
  FileHandle file = open_file(files, dir / "out.new", OpenMode::kWriteText);
  ASSERT_EQ(files.write(file, "new\n"), 0);
  ASSERT_EQ(files.close(file), 0);
  EXPECT_EQ(read_file(dir / "out.new"), "new\r\n");

  file = open_file(files, dir / "out.new", OpenMode::kWriteText);
  std::string stored;
  const auto write = [&](const std::string& text) {
    ASSERT_EQ(files.write(file, text), 0);
    for (const char c : text) stored += c == '\n' ? std::string("\r\n") : std::string(1, c);
    long position = -1;
    ASSERT_EQ(files.tell(file, &position), 0);
    EXPECT_EQ(position, static_cast<long>(stored.size()));
  };
  for (const std::string& text : {std::string("a\n"), std::string(), std::string("\r\0\x1A\n", 4),
                                  letters(3 * kBuffer) + "\n"}) {
    write(text);
  }
  write(std::string(kBuffer - 1 - stored.size() % kBuffer, 'x') + "\n");  // its CR ends a buffer
  ASSERT_EQ(files.close(file), 0);
  EXPECT_EQ(read_file(dir / "out.new"), stored);
}

// The shape of an insertion: remember a position, write on, rewind, write the inserted text and
// the same lines again; a seek within text not yet flushed keeps the rest.
TEST(PosixFiles, WritesOverwriteFromASeekPosition) {
  TempDir dir;
  PosixFiles files;
  FileHandle file = open_file(files, dir / "out.new", OpenMode::kWriteText);
  ASSERT_EQ(files.write(file, "[sec]\n"), 0);
  long remembered = -1;
  ASSERT_EQ(files.tell(file, &remembered), 0);
  EXPECT_EQ(remembered, 7);
  ASSERT_EQ(files.write(file, "; note\n" + std::string(kBuffer, 'y') + "\n"), 0);
  ASSERT_EQ(files.seek(file, remembered), 0);
  ASSERT_EQ(files.write(file, "INSERTED\n; note\n" + std::string(kBuffer, 'y') + "\n[next]\n"), 0);
  long position = -1;
  ASSERT_EQ(files.tell(file, &position), 0);
  EXPECT_EQ(position, static_cast<long>(7 + 10 + 8 + kBuffer + 2 + 8));
  ASSERT_EQ(files.close(file), 0);
  EXPECT_EQ(read_file(dir / "out.new"),
            "[sec]\r\nINSERTED\r\n; note\r\n" + std::string(kBuffer, 'y') + "\r\n[next]\r\n");

  {
    // The files still open when the object goes are flushed and closed.
    PosixFiles scoped;
    file = open_file(scoped, dir / "short.new", OpenMode::kWriteText);
    ASSERT_EQ(scoped.write(file, "one\ntwo\nthree\n"), 0);
    ASSERT_EQ(scoped.seek(file, 5), 0);
    ASSERT_EQ(scoped.write(file, "TW"), 0);
  }
  EXPECT_EQ(read_file(dir / "short.new"), "one\r\nTWo\r\nthree\r\n");
}

TEST(PosixFiles, FailuresComeWithErrnoAndNoHandle) {
  TempDir dir;
  write_file(dir / "inf/readonly.new", "keep");
  fs::permissions(dir / "inf/readonly.new", fs::perms(0444));
  PosixFiles files;
  const struct {
    fs::path path;
    OpenMode mode;
    int error;
  } opens[] = {
      {dir / "missing.inf", OpenMode::kReadText, ENOENT},
      {dir / "inf", OpenMode::kReadText, EACCES},
      {dir / "inf", OpenMode::kWriteText, EISDIR},
      {dir / "none/x.new", OpenMode::kWriteText, ENOENT},
      {dir / "inf/readonly.new", OpenMode::kWriteText, EACCES},
  };
  for (const auto& c : opens) {
    FileHandle file = 7;
    EXPECT_EQ(files.open_text(c.path.string(), c.mode, &file), c.error) << c.path;
    EXPECT_EQ(file, kNoFile) << c.path;
  }
  EXPECT_EQ(read_file(dir / "inf/readonly.new"), "keep");

  // Handles of the wrong kind, unknown or closed; buffers too small to hold a character.
  const FileHandle out = open_file(files, dir / "a.new", OpenMode::kWriteText);
  std::array<char, 16> buffer;
  EXPECT_EQ(files.read_line(out, buffer).error, EBADF);
  EXPECT_EQ(files.write(out + 1, "x"), EBADF);
  EXPECT_EQ(files.write(kNoFile, "x"), EBADF);
  long position = 0;
  EXPECT_EQ(files.tell(99, &position), EBADF);
  EXPECT_EQ(files.seek(out, -1), EINVAL);
  EXPECT_EQ(files.close(out), 0);
  EXPECT_EQ(files.close(out), EBADF);
  write_file(dir / "in.inf", "abc\r\n");
  const FileHandle in = open_file(files, dir / "in.inf", OpenMode::kReadText);
  EXPECT_EQ(files.read_line(in, std::span<char>(buffer.data(), 1)).error, EINVAL);
  EXPECT_EQ(files.read_line(in, std::span<char>(buffer.data(), 2)).length, 1u);
  EXPECT_EQ(read_piece(files, in), "bc\n");

  // The table of open files runs out; a freed entry is used again.
  std::vector<FileHandle> open{in};
  FileHandle file = kNoFile;
  int error = 0;
  while ((error = files.open_text((dir / "in.inf").string(), OpenMode::kReadText, &file)) == 0) {
    open.push_back(file);
    ASSERT_LT(open.size(), 1000u);
  }
  EXPECT_EQ(error, EMFILE);
  ASSERT_EQ(files.close(open[1]), 0);
  ASSERT_EQ(files.open_text((dir / "in.inf").string(), OpenMode::kReadText, &file), 0);
  EXPECT_EQ(file, open[1]);

  // Reading this process's memory at address 0 fails with EIO.
  PosixFiles other;
  const FileHandle memory = open_file(other, "/proc/self/mem", OpenMode::kReadText);
  EXPECT_EQ(other.read_line(memory, buffer).error, EIO);
  EXPECT_FALSE(other.ended_cleanly(memory));

  // On a full device short text waits in the buffer and fails when flushed; once text is lost,
  // nothing later may look successful.
  FileHandle full = open_file(other, "/dev/full", OpenMode::kWriteText);
  ASSERT_EQ(other.write(full, "short\n"), 0);
  EXPECT_EQ(other.close(full), ENOSPC);
  full = open_file(other, "/dev/full", OpenMode::kWriteText);
  EXPECT_EQ(other.write(full, std::string(kBuffer + 1, 'x')), ENOSPC);
  EXPECT_EQ(other.write(full, "x"), ENOSPC);
  EXPECT_EQ(other.seek(full, 0), ENOSPC);
  EXPECT_EQ(other.close(full), ENOSPC);
  full = open_file(other, "/dev/full", OpenMode::kWriteText);
  ASSERT_EQ(other.write(full, "x\n"), 0);
  EXPECT_EQ(other.seek(full, 0), ENOSPC);
  EXPECT_EQ(other.close(full), ENOSPC);
}

// The owner's write bit stands for the read-only attribute: make_writable sets it and keeps every
// other bit.
TEST(PosixFiles, AccessAndTheReadOnlyAttribute) {
  const struct {
    unsigned mode;
    bool write;
    bool read_write;
    unsigned writable_mode;
  } cases[] = {{0644, true, true, 0644},    {0444, false, false, 0644}, {0555, false, false, 0755},
               {0200, true, false, 0600},   {0400, false, false, 0600}, {0077, false, false, 0677},
               {01471, false, false, 01671}};
  TempDir dir;
  const std::string path = (dir / "f.inf").string();
  PosixFiles files;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "mode 0" << std::oct << c.mode);
    write_file(path, "x");
    ASSERT_EQ(::chmod(path.c_str(), c.mode), 0);
    EXPECT_EQ(files.access(path, AccessMode::kWrite), c.write);
    EXPECT_EQ(files.access(path, AccessMode::kReadWrite), c.read_write);
    files.make_writable(path);
    struct stat status;
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, c.writable_mode);
  }
  const std::string missing = (dir / "missing.inf").string();
  EXPECT_FALSE(files.access(missing, AccessMode::kWrite));
  EXPECT_FALSE(files.access(missing, AccessMode::kReadWrite));
  files.make_writable(missing);
  EXPECT_FALSE(fs::exists(missing));
}

void set_mtime(const fs::path& path, time_t seconds, long nanoseconds) {
  const struct timespec times[2] = {{seconds, 0}, {seconds, nanoseconds}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

TEST(PosixFiles, ReplaceFileTimeAndProgramFile) {
  TempDir dir;
  write_file(dir / "netzor.inf", "old");
  write_file(dir / "netzor.new", "new");
  PosixFiles files;
  const std::string inf = (dir / "netzor.inf").string();
  const std::string scratch = (dir / "netzor.new").string();
  ASSERT_EQ(files.replace_file(scratch, inf), 0);
  EXPECT_EQ(read_file(inf), "new");
  EXPECT_FALSE(fs::exists(scratch));
  EXPECT_EQ(files.replace_file(scratch, inf), ENOENT);
  EXPECT_EQ(read_file(inf), "new");

  set_mtime(inf, 946684799, 999999999);
  std::int64_t seconds = 0;
  ASSERT_TRUE(files.file_time(inf, &seconds));
  EXPECT_EQ(seconds, 946684799);
  EXPECT_FALSE(files.file_time(scratch, &seconds));
}

// A copy puts the source's bytes and last-write time in the destination's place at once, keeps
// the destination's mode with write allowed, and on failure leaves it and no scratch file.
TEST(PosixFiles, CopyFile) {
  TempDir dir;
  const std::string bytes = std::string("MZ\0\x1A\r\n", 6) + std::string(200000, 'd');
  const std::string source = (dir / "disk/zvnd32.sys").string();
  const std::string target = (dir / "system/zvnd32.sys").string();
  write_file(source, bytes);
  set_mtime(source, 1000000000, 500000000);
  fs::create_directories(dir / "system");
  PosixFiles files;
  struct stat status;
  ASSERT_EQ(files.copy_file(source, target), 0);
  EXPECT_EQ(read_file(target), bytes);
  ASSERT_EQ(::stat(target.c_str(), &status), 0);
  EXPECT_EQ(status.st_mtim.tv_sec, 1000000000);
  EXPECT_EQ(status.st_mtim.tv_nsec, 500000000);
  EXPECT_EQ(status.st_mode & 07777, 0644u);

  write_file(target, "old driver");
  ASSERT_EQ(::chmod(target.c_str(), 0450), 0);
  // A reader of the old file keeps seeing the old file: it is replaced, not rewritten.
  const int reader = ::open(target.c_str(), O_RDONLY);
  ASSERT_GE(reader, 0);
  ASSERT_EQ(files.copy_file(source, target), 0);
  std::array<char, 32> old_bytes{};
  const ssize_t n = ::pread(reader, old_bytes.data(), old_bytes.size(), 0);
  ::close(reader);
  EXPECT_EQ(std::string(old_bytes.data(), static_cast<std::size_t>(std::max<ssize_t>(n, 0))),
            "old driver");
  EXPECT_EQ(read_file(target), bytes);
  ASSERT_EQ(::stat(target.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0650u);
  EXPECT_EQ(status.st_mtim.tv_sec, 1000000000);

  write_file(target, "old driver");
  EXPECT_EQ(files.copy_file((dir / "disk/missing.sys").string(), target), ENOENT);
  EXPECT_EQ(files.copy_file(source, (dir / "nodir/zvnd32.sys").string()), ENOENT);
  EXPECT_FALSE(fs::exists(dir / "nodir"));
  fs::create_directories(dir / "system/sub.sys");
  EXPECT_NE(files.copy_file(source, (dir / "system/sub.sys").string()), 0);
  EXPECT_EQ(files.copy_file((dir / "disk").string(), target), EISDIR);
  EXPECT_EQ(read_file(target), "old driver");
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir / "system")) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"sub.sys", "zvnd32.sys"}));
}

}  // namespace
}  // namespace reg7140
