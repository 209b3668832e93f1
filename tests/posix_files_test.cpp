#include "platform/posix/posix_files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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

struct Pieces {
  std::vector<std::string> lines;
  bool clean = false;
};

// Reads the whole file as the INF job does, in reads with a limit of 255.
Pieces read_all(PosixFiles& files, FileHandle file) {
  Pieces result;
  std::array<char, kLineLimit + 1> buffer;
  for (;;) {
    LineResult line = files.read_line(file, std::span<char>(buffer.data(), kLineLimit));
    if (line.status != LineStatus::kLine) {
      EXPECT_EQ(line.status, LineStatus::kEndOfFile);
      break;
    }
    EXPECT_LE(line.length, kLineLimit - 1);
    EXPECT_EQ(buffer[line.length], '\0');
    result.lines.emplace_back(buffer.data(), line.length);
  }
  result.clean = files.ended_cleanly(file);
  return result;
}

std::string letters(std::size_t count, std::size_t seed = 0) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) text.push_back(static_cast<char>('a' + (seed + i) % 26));
  return text;
}

// Stored CR LF lines of 100 letters, then one shorter line, so that the next byte stored lands
// at `offset`; the lines read from it come with it.
struct Filler {
  std::string stored;
  std::vector<std::string> lines;
};
Filler filler_to(std::size_t offset) {
  Filler f;
  while (offset - f.stored.size() >= 102 + 2) {
    f.stored += letters(100, f.lines.size()) + "\r\n";
    f.lines.push_back(letters(100, f.lines.size()) + "\n");
  }
  std::size_t rest = offset - f.stored.size() - 2;
  f.stored += std::string(rest, 'f') + "\r\n";
  f.lines.push_back(std::string(rest, 'f') + "\n");
  return f;
}

struct ReadCase {
  std::string name;
  std::string stored;
  std::vector<std::string> lines;
  bool clean;
};

std::vector<ReadCase> read_cases() {
  using std::string;
  std::vector<ReadCase> cases = {
      {"EmptyFile", "", {}, true},
      {"CrLfBecomesLf", "a\r\nb\r\n", {"a\n", "b\n"}, true},
      {"BareLfStays", "a\nb\n", {"a\n", "b\n"}, true},
      {"LoneCrStays", "a\rb\r\n", {"a\rb\n"}, true},
      {"CrCrLf", "a\r\r\nb\r\n", {"a\r\n", "b\n"}, true},
      {"CrAtPhysicalEnd", "a\r", {"a\r"}, true},
      {"NoFinalLineFeed", "a\r\nlast", {"a\n", "last"}, true},
      {"EmptyLines", "\r\n\r\n", {"\n", "\n"}, true},
      {"NulBytesCount", string("a\0b\r\n\0", 6), {string("a\0b\n", 4), string("\0", 1)}, true},
      {"CtrlZAtEnd", "a\r\n\x1A", {"a\n"}, true},
      {"CtrlZPadding", "a\r\nb\x1A\x1A\x1A", {"a\n", "b"}, true},
      {"CtrlZAlone", "\x1A", {}, true},
      {"CtrlZInMiddle",
       "a\r\nb\x1A"
       "c\r\n",
       {"a\n", "b"},
       false},
      {"TextAfterCtrlZPadding", "a\x1A\x1A x", {"a"}, false},
      {"CrBeforeCtrlZ", "a\r\x1A", {"a\r"}, true},
  };

  // A CR as the last byte of one buffer fill and its LF as the first of the next.
  Filler f = filler_to(kBuffer - 1);
  cases.push_back({"CrLfAcrossFill", f.stored + "\r\nnext\r\n", f.lines, true});
  cases.back().lines.insert(cases.back().lines.end(), {"\n", "next\n"});
  cases.push_back({"LoneCrAtFillEnd", f.stored + "\rnext\r\n", f.lines, true});
  cases.back().lines.insert(cases.back().lines.end(), {"\rnext\n"});
  cases.push_back({"CrCrLfAcrossFill", f.stored + "\r\r\n", f.lines, true});
  cases.back().lines.insert(cases.back().lines.end(), {"\r\n"});
  cases.push_back({"CrAtFillEndThenEnd", f.stored + "\r", f.lines, true});
  cases.back().lines.insert(cases.back().lines.end(), {"\r"});
  Filler g = filler_to(kBuffer);
  cases.push_back({"CtrlZFirstOfFill", g.stored + "\x1A" + "x", g.lines, false});
  cases.push_back({"LfFirstOfFill", g.stored + "\nx", g.lines, true});
  cases.back().lines.insert(cases.back().lines.end(), {"\n", "x"});
  return cases;
}

void PrintTo(const ReadCase& c, std::ostream* out) { *out << c.name; }

class TextRead : public testing::TestWithParam<ReadCase> {};

TEST_P(TextRead, TranslatesLikeTheWindowsRunTime) {
  TempDir dir;
  write_file(dir / "in.inf", GetParam().stored);
  PosixFiles files;
  FileHandle file = kNoFile;
  ASSERT_EQ(files.open_text((dir / "in.inf").string(), OpenMode::kReadText, &file), 0);
  Pieces read = read_all(files, file);
  EXPECT_EQ(read.lines, GetParam().lines);
  EXPECT_EQ(read.clean, GetParam().clean);
  EXPECT_EQ(files.close(file), 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, TextRead, testing::ValuesIn(read_cases()),
                         [](const testing::TestParamInfo<ReadCase>& param_info) {
                           return param_info.param.name;
                         });

// Lines longer than a read arrive in pieces of 254 characters; the positions between them are
// the stored offsets.
class LongLine : public testing::TestWithParam<std::size_t> {};

TEST_P(LongLine, ArrivesInPiecesWithStoredPositions) {
  const std::size_t length = GetParam();
  const std::string text = letters(length);
  TempDir dir;
  write_file(dir / "in.inf", text + "\r\nend\r\n");
  PosixFiles files;
  FileHandle file = kNoFile;
  ASSERT_EQ(files.open_text((dir / "in.inf").string(), OpenMode::kReadText, &file), 0);

  std::string joined;
  std::array<char, 256> buffer;
  std::size_t pieces = 0;
  while (joined.empty() || joined.back() != '\n') {
    LineResult line = files.read_line(file, std::span<char>(buffer.data(), kLineLimit));
    ASSERT_EQ(line.status, LineStatus::kLine);
    joined.append(buffer.data(), line.length);
    ++pieces;
    if (joined.back() != '\n') {
      EXPECT_EQ(line.length, 254u);
      long position = -1;
      ASSERT_EQ(files.tell(file, &position), 0);
      EXPECT_EQ(position, static_cast<long>(joined.size()));
    }
  }
  EXPECT_EQ(joined, text + "\n");
  EXPECT_EQ(pieces, (length + 1 + 253) / 254);
  long position = -1;
  ASSERT_EQ(files.tell(file, &position), 0);
  EXPECT_EQ(position, static_cast<long>(length + 2));
  LineResult last = files.read_line(file, std::span<char>(buffer.data(), kLineLimit));
  EXPECT_EQ(std::string(buffer.data(), last.length), "end\n");
}

INSTANTIATE_TEST_SUITE_P(Lengths, LongLine,
                         testing::Values(253u, 254u, 255u, 256u, 507u, 508u, 100000u));

TEST(TextReadLimit, SmallBuffersStoreOneCharacterLessThanTheirSize) {
  TempDir dir;
  write_file(dir / "in.inf", "abc\r\n");
  PosixFiles files;
  FileHandle file = kNoFile;
  ASSERT_EQ(files.open_text((dir / "in.inf").string(), OpenMode::kReadText, &file), 0);
  std::array<char, 4> buffer;
  LineResult line = files.read_line(file, std::span<char>(buffer.data(), 2));
  ASSERT_EQ(line.status, LineStatus::kLine);
  EXPECT_EQ(std::string(buffer.data(), 2), std::string("a\0", 2));
  EXPECT_EQ(files.read_line(file, std::span<char>(buffer.data(), 1)).error, EINVAL);
  line = files.read_line(file, std::span<char>(buffer.data(), 4));
  EXPECT_EQ(std::string(buffer.data(), line.length), "bc\n");
}

TEST(TextReadErrors, ReadFailureIsReportedWithErrno) {
  // Reading this process's memory at address 0 fails with EIO.
  PosixFiles files;
  FileHandle file = kNoFile;
  ASSERT_EQ(files.open_text("/proc/self/mem", OpenMode::kReadText, &file), 0);
  std::array<char, 256> buffer;
  LineResult line = files.read_line(file, buffer);
  EXPECT_EQ(line.status, LineStatus::kError);
  EXPECT_EQ(line.error, EIO);
  EXPECT_FALSE(files.ended_cleanly(file));
}

TEST(TextOpenErrors, ReportErrnoAndGiveNoHandle) {
  TempDir dir;
  fs::create_directories(dir / "inf");
  write_file(dir / "inf" / "readonly.new", "keep");
  fs::permissions(dir / "inf" / "readonly.new", fs::perms(0444));
  PosixFiles files;
  struct Case {
    std::string path;
    OpenMode mode;
    int error;
  };
  for (const Case& c : {
           Case{(dir / "missing.inf").string(), OpenMode::kReadText, ENOENT},
           Case{(dir / "inf").string(), OpenMode::kReadText, EACCES},
           Case{(dir / "inf").string(), OpenMode::kWriteText, EISDIR},
           Case{(dir / "none" / "x.new").string(), OpenMode::kWriteText, ENOENT},
           Case{(dir / "inf" / "readonly.new").string(), OpenMode::kWriteText, EACCES},
       }) {
    FileHandle file = 7;
    EXPECT_EQ(files.open_text(c.path, c.mode, &file), c.error) << c.path;
    EXPECT_EQ(file, kNoFile) << c.path;
  }
  EXPECT_EQ(read_file(dir / "inf" / "readonly.new"), "keep");
}

TEST(TextHandles, UnknownOrWrongKindOfHandleIsRefused) {
  TempDir dir;
  PosixFiles files;
  FileHandle out = kNoFile;
  ASSERT_EQ(files.open_text((dir / "a.new").string(), OpenMode::kWriteText, &out), 0);
  std::array<char, 16> buffer;
  EXPECT_EQ(files.read_line(out, buffer).error, EBADF);
  EXPECT_EQ(files.write(out + 1, "x"), EBADF);
  EXPECT_EQ(files.write(kNoFile, "x"), EBADF);
  long position = 0;
  EXPECT_EQ(files.tell(99, &position), EBADF);
  EXPECT_EQ(files.seek(out, -1), EINVAL);
  EXPECT_EQ(files.close(out), 0);
  EXPECT_EQ(files.close(out), EBADF);
}

TEST(TextHandles, TableRunsOutThenFreedHandlesAreReused) {
  TempDir dir;
  write_file(dir / "in.inf", "x");
  PosixFiles files;
  std::vector<FileHandle> open;
  FileHandle file = kNoFile;
  int error = 0;
  while ((error = files.open_text((dir / "in.inf").string(), OpenMode::kReadText, &file)) == 0) {
    open.push_back(file);
    ASSERT_LT(open.size(), 1000u);
  }
  EXPECT_EQ(error, EMFILE);
  ASSERT_GE(open.size(), 2u);
  ASSERT_EQ(files.close(open[1]), 0);
  ASSERT_EQ(files.open_text((dir / "in.inf").string(), OpenMode::kReadText, &file), 0);
  EXPECT_EQ(file, open[1]);
}

struct WriteCase {
  std::string name;
  std::vector<std::string> writes;
  std::string stored;
};

std::vector<WriteCase> write_cases() {
  std::string big_text;
  std::string big_stored;
  for (int i = 0; i < 300; ++i) {
    big_text += letters(40, i) + "\n";
    big_stored += letters(40, i) + "\r\n";
  }
  return {
      {"LfBecomesCrLf", {"a\n", "b\n"}, "a\r\nb\r\n"},
      {"EmptyLine", {"\n"}, "\r\n"},
      {"CrWrittenAsIs", {"a\r\n", "\r"}, "a\r\r\n\r"},
      {"NoLineFeed",
       {"HKR,,MemoryBaseAddress,1,01,00,00,00", "\n"},
       "HKR,,MemoryBaseAddress,1,01,00,00,00\r\n"},
      {"TrailingBlanksKept", {"00,00,00,00                \n"}, "00,00,00,00                \r\n"},
      {"NulAndCtrlZBytes", {std::string("a\0\x1A\n", 4)}, std::string("a\0\x1A\r\n", 5)},
      {"EmptyWrite", {"", "x", ""}, "x"},
      {"LargerThanBuffer", {big_text}, big_stored},
      {"CrLfAcrossFlush",
       {std::string(kBuffer - 1, 'x') + "\n"},
       std::string(kBuffer - 1, 'x') + "\r\n"},
  };
}

void PrintTo(const WriteCase& c, std::ostream* out) { *out << c.name; }

class TextWrite : public testing::TestWithParam<WriteCase> {};

TEST_P(TextWrite, StoresEveryLineFeedAsCrLf) {
  TempDir dir;
  PosixFiles files;
  FileHandle file = kNoFile;
  ASSERT_EQ(files.open_text((dir / "out.new").string(), OpenMode::kWriteText, &file), 0);
  for (const std::string& text : GetParam().writes) ASSERT_EQ(files.write(file, text), 0);
  long position = -1;
  ASSERT_EQ(files.tell(file, &position), 0);
  EXPECT_EQ(position, static_cast<long>(GetParam().stored.size()));
  ASSERT_EQ(files.close(file), 0);
  EXPECT_EQ(read_file(dir / "out.new"), GetParam().stored);
}

INSTANTIATE_TEST_SUITE_P(Cases, TextWrite, testing::ValuesIn(write_cases()),
                         [](const testing::TestParamInfo<WriteCase>& param_info) {
                           return param_info.param.name;
                         });

TEST(TextWriteErrors, CreateTruncatesAnExistingFile) {
  TempDir dir;
  write_file(dir / "out.new", "a much longer old content\r\n");
  PosixFiles files;
  FileHandle file = kNoFile;
  ASSERT_EQ(files.open_text((dir / "out.new").string(), OpenMode::kWriteText, &file), 0);
  ASSERT_EQ(files.write(file, "new\n"), 0);
  ASSERT_EQ(files.close(file), 0);
  EXPECT_EQ(read_file(dir / "out.new"), "new\r\n");
}

TEST(TextWriteErrors, FullDeviceFailsTheWriteOrTheClose) {
  PosixFiles files;
  FileHandle file = kNoFile;
  // Short text waits in the buffer: the failure surfaces when it is flushed.
  ASSERT_EQ(files.open_text("/dev/full", OpenMode::kWriteText, &file), 0);
  ASSERT_EQ(files.write(file, "short\n"), 0);
  EXPECT_EQ(files.close(file), ENOSPC);

  ASSERT_EQ(files.open_text("/dev/full", OpenMode::kWriteText, &file), 0);
  EXPECT_EQ(files.write(file, std::string(kBuffer + 1, 'x')), ENOSPC);
  // Text is lost now: nothing later may look successful.
  EXPECT_EQ(files.write(file, "x"), ENOSPC);
  EXPECT_EQ(files.seek(file, 0), ENOSPC);
  EXPECT_EQ(files.close(file), ENOSPC);

  ASSERT_EQ(files.open_text("/dev/full", OpenMode::kWriteText, &file), 0);
  ASSERT_EQ(files.write(file, "x\n"), 0);
  EXPECT_EQ(files.seek(file, 0), ENOSPC);
  EXPECT_EQ(files.close(file), ENOSPC);
}

TEST(TextSeek, ReadPositionsRoundTripAcrossFills) {
  TempDir dir;
  std::string stored;
  for (int i = 0; stored.size() < 3 * kBuffer; ++i) {
    stored += letters(static_cast<std::size_t>(i % 300), static_cast<std::size_t>(i));
    stored += i % 3 == 0 ? "\r\n" : (i % 3 == 1 ? "\r\r\n" : "\n");
  }
  write_file(dir / "in.inf", stored);
  PosixFiles files;
  FileHandle file = kNoFile;
  ASSERT_EQ(files.open_text((dir / "in.inf").string(), OpenMode::kReadText, &file), 0);

  std::vector<long> positions;
  std::vector<std::string> lines;
  std::array<char, 256> buffer;
  for (;;) {
    long position = -1;
    ASSERT_EQ(files.tell(file, &position), 0);
    LineResult line = files.read_line(file, std::span<char>(buffer.data(), kLineLimit));
    if (line.status != LineStatus::kLine) {
      EXPECT_EQ(position, static_cast<long>(stored.size()));
      break;
    }
    positions.push_back(position);
    lines.emplace_back(buffer.data(), line.length);
  }
  ASSERT_GT(lines.size(), 30u);
  for (std::size_t i = lines.size(); i-- > 0;) {
    ASSERT_EQ(files.seek(file, positions[i]), 0);
    LineResult line = files.read_line(file, std::span<char>(buffer.data(), kLineLimit));
    ASSERT_EQ(line.status, LineStatus::kLine);
    EXPECT_EQ(std::string(buffer.data(), line.length), lines[i]) << "line " << i;
  }
}

TEST(TextSeek, ReadingAfterTheEndResumesAfterSeek) {
  TempDir dir;
  write_file(dir / "in.inf", "ab\r\nc\rd\r\n\x1Atail");
  PosixFiles files;
  FileHandle file = kNoFile;
  ASSERT_EQ(files.open_text((dir / "in.inf").string(), OpenMode::kReadText, &file), 0);
  std::array<char, 256> buffer;
  ASSERT_EQ(files.read_line(file, buffer).length, 3u);
  EXPECT_FALSE(files.ended_cleanly(file));  // not at the end yet
  long position = -1;
  ASSERT_EQ(files.tell(file, &position), 0);
  EXPECT_EQ(position, 4);
  ASSERT_EQ(files.read_line(file, buffer).length, 4u);
  ASSERT_EQ(files.tell(file, &position), 0);
  EXPECT_EQ(position, 9);
  EXPECT_EQ(files.read_line(file, buffer).status, LineStatus::kEndOfFile);
  EXPECT_FALSE(files.ended_cleanly(file));

  ASSERT_EQ(files.seek(file, 4), 0);
  EXPECT_FALSE(files.ended_cleanly(file));
  LineResult line = files.read_line(file, buffer);
  ASSERT_EQ(line.status, LineStatus::kLine);
  EXPECT_EQ(std::string(buffer.data(), line.length), "c\rd\n");
  // Past the Ctrl-Z the bytes are text again.
  ASSERT_EQ(files.seek(file, 10), 0);
  line = files.read_line(file, buffer);
  EXPECT_EQ(std::string(buffer.data(), line.length), "tail");
  EXPECT_EQ(files.read_line(file, buffer).status, LineStatus::kEndOfFile);
  EXPECT_TRUE(files.ended_cleanly(file));
  ASSERT_EQ(files.seek(file, 0), 0);
  EXPECT_FALSE(files.ended_cleanly(file));
}

TEST(TextSeek, WriteOverwritesFromTheRememberedPosition) {
  // The shape of an insertion: remember a position, write on, rewind, write the inserted text
  // and then the same lines again.
  TempDir dir;
  PosixFiles files;
  FileHandle file = kNoFile;
  ASSERT_EQ(files.open_text((dir / "out.new").string(), OpenMode::kWriteText, &file), 0);
  ASSERT_EQ(files.write(file, "[sec]\n"), 0);
  long remembered = -1;
  ASSERT_EQ(files.tell(file, &remembered), 0);
  EXPECT_EQ(remembered, 7);
  ASSERT_EQ(files.write(file, "; note\n"), 0);
  ASSERT_EQ(files.write(file, std::string(kBuffer, 'y') + "\n"), 0);
  ASSERT_EQ(files.seek(file, remembered), 0);
  long position = -1;
  ASSERT_EQ(files.tell(file, &position), 0);
  EXPECT_EQ(position, remembered);
  ASSERT_EQ(files.write(file, "INSERTED\n; note\n"), 0);
  ASSERT_EQ(files.write(file, std::string(kBuffer, 'y') + "\n[next]\n"), 0);
  ASSERT_EQ(files.tell(file, &position), 0);
  EXPECT_EQ(position, static_cast<long>(7 + 10 + 8 + kBuffer + 2 + 8));
  ASSERT_EQ(files.close(file), 0);
  EXPECT_EQ(read_file(dir / "out.new"),
            "[sec]\r\nINSERTED\r\n; note\r\n" + std::string(kBuffer, 'y') + "\r\n[next]\r\n");
}

TEST(TextSeek, SeekWithinUnflushedTextKeepsTheRest) {
  TempDir dir;
  PosixFiles files;
  FileHandle file = kNoFile;
  ASSERT_EQ(files.open_text((dir / "out.new").string(), OpenMode::kWriteText, &file), 0);
  ASSERT_EQ(files.write(file, "one\ntwo\nthree\n"), 0);
  ASSERT_EQ(files.seek(file, 5), 0);
  ASSERT_EQ(files.write(file, "TW"), 0);
  ASSERT_EQ(files.close(file), 0);
  EXPECT_EQ(read_file(dir / "out.new"), "one\r\nTWo\r\nthree\r\n");
}

TEST(TextClose, DestructorFlushesAndClosesOpenFiles) {
  TempDir dir;
  {
    PosixFiles files;
    FileHandle file = kNoFile;
    ASSERT_EQ(files.open_text((dir / "out.new").string(), OpenMode::kWriteText, &file), 0);
    ASSERT_EQ(files.write(file, "kept\n"), 0);
  }
  EXPECT_EQ(read_file(dir / "out.new"), "kept\r\n");
}

struct AccessCase {
  unsigned mode;
  bool write;
  bool read_write;
  unsigned writable_mode;  // after make_writable
};

void PrintTo(const AccessCase& c, std::ostream* out) { *out << "mode 0" << std::oct << c.mode; }

class AccessBits : public testing::TestWithParam<AccessCase> {};

TEST_P(AccessBits, OwnerBitsStandForTheReadOnlyAttribute) {
  const AccessCase& c = GetParam();
  TempDir dir;
  write_file(dir / "f.inf", "x");
  ASSERT_EQ(::chmod((dir / "f.inf").c_str(), c.mode), 0);
  PosixFiles files;
  std::string path = (dir / "f.inf").string();
  EXPECT_EQ(files.access(path, AccessMode::kWrite), c.write);
  EXPECT_EQ(files.access(path, AccessMode::kReadWrite), c.read_write);
  files.make_writable(path);
  struct stat status;
  ASSERT_EQ(::stat(path.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, c.writable_mode);
  EXPECT_TRUE(files.access(path, AccessMode::kReadWrite));
}

INSTANTIATE_TEST_SUITE_P(
    Modes, AccessBits,
    testing::Values(AccessCase{0644, true, true, 0644}, AccessCase{0444, false, false, 0644},
                    AccessCase{0555, false, false, 0755}, AccessCase{0200, true, false, 0600},
                    AccessCase{0400, false, false, 0600}, AccessCase{0077, false, false, 0677},
                    AccessCase{01471, false, false, 01671}));

TEST(Access, MissingFileHasNoAccessAndStaysMissing) {
  TempDir dir;
  PosixFiles files;
  std::string path = (dir / "missing.inf").string();
  EXPECT_FALSE(files.access(path, AccessMode::kWrite));
  EXPECT_FALSE(files.access(path, AccessMode::kReadWrite));
  files.make_writable(path);
  EXPECT_FALSE(fs::exists(path));
}

TEST(ReplaceFile, RenamesOverTheTargetOrLeavesItAlone) {
  TempDir dir;
  write_file(dir / "netzor.inf", "old");
  write_file(dir / "netzor.new", "new");
  PosixFiles files;
  std::string inf = (dir / "netzor.inf").string();
  std::string scratch = (dir / "netzor.new").string();
  ASSERT_EQ(files.replace_file(scratch, inf), 0);
  EXPECT_EQ(read_file(inf), "new");
  EXPECT_FALSE(fs::exists(scratch));
  EXPECT_EQ(files.replace_file(scratch, inf), ENOENT);
  EXPECT_EQ(read_file(inf), "new");
}

void set_mtime(const fs::path& path, time_t seconds, long nanoseconds) {
  const struct timespec times[2] = {{seconds, 0}, {seconds, nanoseconds}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

TEST(FileTime, WholeSecondsOfTheLastWrite) {
  TempDir dir;
  write_file(dir / "zvnd32.sys", "x");
  set_mtime(dir / "zvnd32.sys", 946684799, 999999999);
  PosixFiles files;
  std::int64_t seconds = 0;
  ASSERT_TRUE(files.file_time((dir / "zvnd32.sys").string(), &seconds));
  EXPECT_EQ(seconds, 946684799);
  EXPECT_FALSE(files.file_time((dir / "missing.sys").string(), &seconds));
}

class CopyFile : public testing::Test {
 protected:
  void SetUp() override {
    write_file(dir_ / "disk" / "zvnd32.sys", source_bytes_);
    set_mtime(dir_ / "disk" / "zvnd32.sys", 1000000000, 500000000);
    fs::create_directories(dir_ / "system");
  }
  std::string source() const { return (dir_ / "disk" / "zvnd32.sys").string(); }
  std::string target() const { return (dir_ / "system" / "zvnd32.sys").string(); }
  std::vector<std::string> system_names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_ / "system")) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }

  TempDir dir_;
  std::string source_bytes_ = std::string("MZ\0\x1A\r\n", 6) + std::string(200000, 'd');
  PosixFiles files_;
};

TEST_F(CopyFile, NewFileGetsBytesTimeAndMode) {
  ASSERT_EQ(files_.copy_file(source(), target()), 0);
  EXPECT_EQ(read_file(target()), source_bytes_);
  struct stat status;
  ASSERT_EQ(::stat(target().c_str(), &status), 0);
  EXPECT_EQ(status.st_mtim.tv_sec, 1000000000);
  EXPECT_EQ(status.st_mtim.tv_nsec, 500000000);
  EXPECT_EQ(status.st_mode & 07777, 0644u);
  EXPECT_EQ(system_names(), std::vector<std::string>{"zvnd32.sys"});
}

TEST_F(CopyFile, ReplacesAtOnceKeepingTheModeWithWriteAllowed) {
  write_file(target(), "old driver");
  ASSERT_EQ(::chmod(target().c_str(), 0450), 0);
  // A reader of the old file keeps seeing the old file: it is replaced, not rewritten.
  int reader = ::open(target().c_str(), O_RDONLY);
  ASSERT_GE(reader, 0);
  ASSERT_EQ(files_.copy_file(source(), target()), 0);
  std::array<char, 32> old_bytes{};
  ssize_t n = ::pread(reader, old_bytes.data(), old_bytes.size(), 0);
  ::close(reader);
  EXPECT_EQ(std::string(old_bytes.data(), static_cast<std::size_t>(n < 0 ? 0 : n)), "old driver");
  EXPECT_EQ(read_file(target()), source_bytes_);
  struct stat status;
  ASSERT_EQ(::stat(target().c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0650u);
  std::int64_t seconds = 0;
  ASSERT_TRUE(files_.file_time(target(), &seconds));
  EXPECT_EQ(seconds, 1000000000);
  EXPECT_EQ(system_names(), std::vector<std::string>{"zvnd32.sys"});
}

TEST_F(CopyFile, FailureLeavesTheDestinationAndNoScratchFile) {
  write_file(target(), "old driver");
  EXPECT_EQ(files_.copy_file((dir_ / "disk" / "missing.sys").string(), target()), ENOENT);
  EXPECT_EQ(files_.copy_file(source(), (dir_ / "nodir" / "zvnd32.sys").string()), ENOENT);
  EXPECT_FALSE(fs::exists(dir_ / "nodir"));
  // A directory in the destination's place cannot be replaced by a file.
  fs::create_directories(dir_ / "system" / "sub.sys");
  EXPECT_NE(files_.copy_file(source(), (dir_ / "system" / "sub.sys").string()), 0);
  // A directory as the source: reading it fails.
  EXPECT_EQ(files_.copy_file((dir_ / "disk").string(), target()), EISDIR);
  EXPECT_EQ(read_file(target()), "old driver");
  std::vector<std::string> names = system_names();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"sub.sys", "zvnd32.sys"}));
}

TEST(ProgramFile, IsTheRunningTestProgram) {
  PosixFiles files;
  fs::path program(std::string(files.program_file()));
  EXPECT_TRUE(program.is_absolute());
  EXPECT_EQ(program.filename(), "reg7140_tests");
  EXPECT_TRUE(fs::equivalent(program, "/proc/self/exe"));
}

}  // namespace
}  // namespace reg7140
