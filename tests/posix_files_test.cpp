// The host's files as the jobs see them: text read and written as the Windows C run-time's text
// mode does it (the INF job reads pieces of at most 254 characters), the failures it reports, the
// read-only attribute, and whole files put in place.
#include "platform/posix/posix_files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/file_streams.h"
#include "platform/posix/posix_raw_file.h"
#include "tests/test_util.h"

namespace reg7140 {
namespace {

namespace fs = std::filesystem;
using Pieces = std::vector<std::pair<long, std::string>>;  // where told, text

// The host's raw files, storing at most `most` bytes a write; the `nth` write or close fails with
// `error` (a write then stores nothing; error 0: it tells no error, as a full disk may).
class ShortRawFiles : public PosixRawFiles {
 public:
  ShortRawFiles(std::size_t most, int nth, int error) : most_(most), nth_(nth), error_(error) {}
  int write_at(RawHandle file, long long offset, std::string_view bytes,
               std::size_t* count) override {
    *count = 0;
    if (++calls_ == nth_) return error_;
    return PosixRawFiles::write_at(file, offset, bytes.substr(0, most_), count);
  }
  int close(RawHandle file) override {
    const int closed = PosixRawFiles::close(file);
    return ++calls_ == nth_ ? error_ : closed;
  }

 private:
  std::size_t most_;
  int nth_, error_, calls_ = 0;
};

FileHandle open_file(PosixFiles& files, const fs::path& path, OpenMode mode) {
  FileHandle file = kNoFile;
  EXPECT_EQ(files.open_text(path.string(), mode, &file), 0) << path;
  return file;
}

// Reads on as the INF job does, telling the position before each piece; `last`: the read that
// ended it.
Pieces read_all(PosixFiles& files, FileHandle file, LineResult* last = nullptr) {
  Pieces pieces;
  std::array<char, 255> buffer;
  LineResult line;
  for (long at = -1; files.tell(file, &at) == 0 && (line = files.read_line(file, buffer)).length;) {
    pieces.emplace_back(at, std::string(buffer.data(), line.length));
  }
  if (last != nullptr) *last = line;
  return pieces;
}

// What a reader from `from` on must see: CR LF as LF, the text ended by Ctrl-Z, pieces that end
// after a line feed or 254 characters; the text ends cleanly when only Ctrl-Z bytes follow it.
std::pair<Pieces, bool> text_of(const std::string& stored, std::size_t from) {
  Pieces pieces;
  std::size_t at = from;
  for (; at < stored.size() && stored[at] != '\x1A'; ++at) {
    if (pieces.empty() || pieces.back().second.size() == 254 ||
        pieces.back().second.back() == '\n') {
      pieces.emplace_back(static_cast<long>(at), "");
    }
    const bool cr_lf = stored.compare(at, 2, "\r\n") == 0;
    pieces.back().second += cr_lf ? '\n' : stored[at];
    at += cr_lf ? 1 : 0;
  }
  return {pieces, stored.find_first_not_of('\x1A', at) == std::string::npos};
}

// The host files read `stored` from its start and from the offset `from` as text_of says.
void expect_reads(const test::TempDir& dir, const std::string& stored, std::size_t from) {
  test::write_file(dir / "in.inf", stored);
  PosixFiles files;
  const FileHandle file = open_file(files, dir / "in.inf", OpenMode::kReadText);
  for (const std::size_t at : {std::size_t{0}, from}) {
    ASSERT_EQ(files.seek(file, static_cast<long>(at)), 0);
    EXPECT_FALSE(files.ended_cleanly(file));
    const auto [pieces, clean] = text_of(stored, at);
    LineResult last;
    EXPECT_EQ(read_all(files, file, &last), pieces) << "from " << at;
    EXPECT_EQ(std::pair(last.status, files.ended_cleanly(file)),
              std::pair(LineStatus::kEndOfFile, clean));
    std::array<char, 8> more;
    EXPECT_EQ(files.read_line(file, more).status, LineStatus::kEndOfFile);  // and stays there
  }
}

// The cases of tests/data/text_reads.txt, then generated files with every kind of line end
// across the 64 KB buffer.
TEST(PosixFiles, ReadsTextLikeTheWindowsRunTime) {
  test::TempDir dir;
  std::mt19937 random(7140);
  for (const auto& row : test::load_table("data/text_reads.txt")) {
    const auto [pieces, clean] = text_of(row[1], 0);
    std::string text;
    for (const auto& piece : pieces) text += piece.second;
    EXPECT_EQ(std::pair(text, clean), std::pair(row[2], row[3] == "clean")) << row[0];
    expect_reads(dir, row[1], random() % (row[1].size() + 1));
  }
  for (int round = 0; round < 4; ++round) {
    std::string stored;
    while (stored.size() < 150000) {
      const std::string_view ends[] = {"\r\n", "\n", "\r", "\r\r\n", {"\0", 1}};
      stored.append(random() % (round < 2 ? 40 : 600), 'a' + round).append(ends[random() % 5]);
    }
    const std::string tails[] = {"\x1A\x1A", "\x1Atail\r\n", "", std::string(512, '\x1A') + "x"};
    stored += tails[round];  // the last: text 512 bytes after the end
    expect_reads(dir, stored, random() % stored.size());
  }
}

// A read that fails part way, as on a bad disk (this process's memory read up to a page that is
// not mapped): the pieces before it arrive, then the error; a CR is a line end only once the byte
// after it is read; whether only Ctrl-Z bytes follow the end cannot be told.
TEST(PosixFiles, ReadErrorsEndTheText) {
  const long page = ::sysconf(_SC_PAGESIZE);
  auto* map = static_cast<char*>(
      ::mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ::munmap(map + page, page);
  const std::pair<std::string, std::size_t> cases[] = {
      {"", 0}, {"a\r\n", 1}, {"a\r\nbc", 1}, {"a\r", 0}, {"a\x1A", 1}};
  for (const auto& [bytes, count] : cases) {
    bytes.copy(map + page - bytes.size(), bytes.size());
    PosixFiles files;
    const FileHandle file = open_file(files, "/proc/self/mem", OpenMode::kReadText);
    ASSERT_EQ(files.seek(file, reinterpret_cast<long>(map + page - bytes.size())), 0);
    LineResult last;
    EXPECT_EQ(read_all(files, file, &last).size(), count) << bytes;
    EXPECT_EQ(last.error, bytes.ends_with('\x1A') ? 0 : EIO) << bytes;
    EXPECT_FALSE(files.ended_cleanly(file)) << bytes;
  }
  ::munmap(map, page);
}

// Every LF written is stored as CR LF where the position was told; a seek back overwrites from
// there and keeps the rest; a file still open when the files go is flushed. The open truncates.
TEST(PosixFiles, WritesTextWhereTold) {
  std::mt19937 random(7140);
  test::TempDir dir;
  for (int round = 0; round < 4; ++round) {
    test::write_file(dir / "out.new", std::string(300000, 'o'));
    std::string stored;
    std::vector<long> told{0};
    long at = 0;
    {
      PosixFiles files;
      const FileHandle file = open_file(files, dir / "out.new", OpenMode::kWriteText);
      for (int step = 0; step < 30; ++step) {
        if (random() % 4 == 0) {
          ASSERT_EQ(files.seek(file, at = told[random() % told.size()]), 0);
        }
        std::string text(random() % (step % 6 == 0 ? 100000 : 300), 'x'), bytes;
        for (char& c : text)
          bytes += (c = "ab\n\r\x1A"[random() % 5]) == '\n' ? "\r\n" : std::string(1, c);
        ASSERT_EQ(files.write(file, text), 0);
        stored.replace(at, bytes.size(), bytes);
        at += static_cast<long>(bytes.size());
        ASSERT_EQ(files.tell(file, &told.emplace_back()), 0);
        ASSERT_EQ(told.back(), at);
      }
      EXPECT_EQ(round % 2 == 0 ? files.close(file) : 0, 0);  // or it goes with the files, open
    }
    ASSERT_EQ(test::read_file(dir / "out.new"), stored) << "round " << round;
  }
}

TEST(PosixFiles, FailuresComeWithErrno) {
  test::TempDir dir;
  test::write_file(dir / "inf/readonly.new", "keep");
  test::write_file(dir / "in.inf", "abc\r\n");
  ::chmod((dir / "inf/readonly.new").c_str(), 0444);
  PosixFiles files;
  const std::tuple<const char*, OpenMode, int> opens[] = {
      {"missing.inf", OpenMode::kReadText, ENOENT},
      {"inf", OpenMode::kReadText, EACCES},
      {"inf", OpenMode::kWriteText, EISDIR},
      {"none/x.new", OpenMode::kWriteText, ENOENT},
      {"inf/readonly.new", OpenMode::kWriteText, EACCES}};
  for (const auto& [path, mode, error] : opens) {
    FileHandle file = 7;
    const int opened = files.open_text((dir / path).string(), mode, &file);
    EXPECT_EQ(std::pair(opened, file), std::pair(error, kNoFile)) << path;
  }
  EXPECT_EQ(test::read_file(dir / "inf/readonly.new"), "keep");

  // Handles of the other kind, unknown or closed; a buffer too small to hold a character.
  std::vector<FileHandle> open{open_file(files, dir / "in.inf", OpenMode::kReadText)};
  const FileHandle out = open_file(files, dir / "a.new", OpenMode::kWriteText);
  std::array<char, 2> two;
  long position = 0;
  EXPECT_EQ(files.read_line(out, two).error, EBADF);
  EXPECT_EQ(files.write(open[0], "x"), EBADF);
  EXPECT_EQ(files.tell(16, &position), EBADF);
  EXPECT_EQ(files.read_line(16, two).error, EBADF);
  EXPECT_EQ((std::pair{files.close(out), files.close(out)}), std::pair(0, EBADF));
  EXPECT_EQ(files.read_line(open[0], std::span(two.data(), 1)).error, EINVAL);
  EXPECT_EQ(files.read_line(open[0], two).length, 1u);

  // The table of open files runs out at 16; a freed entry is used again.
  int error = 0;
  while (error == 0)
    error = files.open_text((dir / "in.inf").string(), OpenMode::kReadText, &open.emplace_back());
  EXPECT_EQ(std::pair(error, open.size()), std::pair(EMFILE, 17ul));
  ASSERT_EQ(files.close(open[3]), 0);
  EXPECT_EQ(open_file(files, dir / "in.inf", OpenMode::kReadText), open[3]);

  // Text waits in the buffer; a write that stores part is followed by one for the rest, one that
  // stores nothing is a full disk; once text is lost, nothing later may look successful.
  std::string big;
  for (int i = 0; i < 20000; ++i) big += "abc\n";
  std::string stored;
  for (const char c : big + "x") stored += c == '\n' ? "\r\n" : std::string(1, c);
  const std::tuple<std::size_t, int, int, std::vector<int>, std::string> cases[] = {
      {1000, 0, 0, {0, 0, 0, 0, 0}, "y" + stored.substr(1)},
      {SIZE_MAX, 1, 0, {ENOSPC, ENOSPC, ENOSPC, ENOSPC, ENOSPC}, ""},
      {1000, 3, EIO, {EIO, EIO, EIO, EIO, EIO}, stored.substr(0, 2000)},
      {SIZE_MAX, 2, ENOSPC, {0, 0, ENOSPC, ENOSPC, ENOSPC}, stored.substr(0, 65536)},
      {SIZE_MAX, 4, EIO, {0, 0, 0, 0, EIO}, "y" + stored.substr(1)}};
  for (const auto& [most, nth, failure, results, after] : cases) {
    ShortRawFiles raw(most, nth, failure);
    FileStreams streams(raw);
    FileHandle file = kNoFile;
    ASSERT_EQ(streams.open((dir / "out.new").string(), OpenMode::kWriteText, &file), 0);
    EXPECT_EQ((std::vector{streams.write(file, big), streams.write(file, "x"),
                           streams.seek(file, 0), streams.write(file, "y"), streams.close(file)}),
              results)
        << most << " " << nth;
    EXPECT_TRUE(test::read_file(dir / "out.new") == after) << most << " " << nth;
  }
  // A whole-file copy needs besides a raw file's size, and a flush that can fail.
  PosixRawFiles raw;
  RawHandle in = 0, proc = 0;
  long long size = 0;
  ASSERT_EQ(raw.open((dir / "out.new").string(), OpenMode::kReadText, &in) +
                raw.open("/proc/self/status", OpenMode::kReadText, &proc),
            0);
  EXPECT_EQ(std::tuple(raw.size(in, &size), raw.flush(in), raw.flush(proc) != 0),
            std::tuple(0, 0, true));
  EXPECT_EQ(std::pair(size, raw.close(in) + raw.close(proc)),
            std::pair(static_cast<long long>(stored.size()), 0));
}

// The owner's write bit stands for the read-only attribute, for root too: make_writable sets it
// and the owner's read bit, and keeps every other bit.
TEST(PosixFiles, OwnerBitsAreTheReadOnlyAttribute) {
  test::TempDir dir;
  const std::string path = (dir / "f.inf").string(), missing = (dir / "missing").string();
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
  files.make_writable(missing);
  EXPECT_FALSE(files.access(missing, AccessMode::kWrite) || fs::exists(missing));
}

// A replacement or a copy puts the whole new file in place at once, or leaves the old one and no
// scratch file; a copy takes the source's bytes and last-write time and keeps the destination's
// mode, with writing allowed. Times are told in whole seconds.
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
  test::write_file(target, "old driver");
  fs::create_directories(dir / "sub.sys");
  EXPECT_EQ(files.copy_file((dir / "disk/missing.sys").string(), target), ENOENT);
  EXPECT_EQ(files.copy_file(source, (dir / "none/zvnd32.sys").string()), ENOENT);
  EXPECT_NE(files.copy_file(source, (dir / "sub.sys").string()), 0);
  EXPECT_EQ(test::read_file(target), "old driver");
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir.path()))
    names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"disk", "netzor.inf", "sub.sys", "zvnd32.sys"}));
}

}  // namespace
}  // namespace reg7140
