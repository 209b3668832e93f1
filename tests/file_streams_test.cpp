// The text streams of both systems over raw files in memory that fail on demand: text mode as
// the Windows C run-time has it (the INF job reads pieces of at most 254 characters), where
// positions are told, and what a failing disk leaves.
#include "platform/file_streams.h"

#include <gtest/gtest.h>

#include <random>
#include <tuple>

#include "tests/fault.h"
#include "tests/test_util.h"

namespace {
using namespace reg7140;

using Pieces = std::vector<std::pair<long, std::string>>;  // where told, text

// What a reader from `from` on must see: CR LF as LF, the text ended by Ctrl-Z, pieces that end
// after a line feed or 254 characters.
Pieces text_of(std::string_view stored, std::size_t from) {
  Pieces pieces;
  for (std::size_t at = from; at < stored.size() && stored[at] != '\x1A'; ++at) {
    if (pieces.empty() || pieces.back().second.size() == 254 || pieces.back().second.back() == '\n')
      pieces.emplace_back(static_cast<long>(at), "");
    const bool cr_lf = stored.substr(at, 2) == "\r\n";
    pieces.back().second += cr_lf ? '\n' : stored[at];
    at += cr_lf;
  }
  return pieces;
}

// `stored` read as the INF job reads it, from its start and then from `from`, against text_of;
// it ends cleanly at the physical end or with only Ctrl-Z bytes after the first. With
// `fail_at`, the raw reads fail from that one on, as the buffer is filled again: the text ends
// with the pieces whole before it. Returns the text read from the start.
std::string expect_reads(const std::string& stored, std::size_t from, int fail_at = 0) {
  test::Fault fault(fail_at);
  fault.from_on = true;
  test::FaultRawFiles raw(fault);
  raw.files["in.inf"] = stored;
  FileStreams files(raw);
  FileHandle file = kNoFile;
  std::string whole;
  EXPECT_EQ(files.open("in.inf", OpenMode::kReadText, &file), 0);
  const bool fails = fail_at != 0 && stored.find('\x1A') == std::string::npos;
  for (int pass = 0; pass < (fail_at ? 1 : 2); ++pass) {
    const std::size_t start = pass ? from : 0, ctrl_z = stored.find('\x1A', start);
    Pieces expected = text_of(fail_at ? stored.substr(0, FileStreams::kBufferSize) : stored, start),
           pieces;
    if (fails && !expected.back().second.ends_with('\n') && expected.back().second.size() < 254)
      expected.pop_back();
    EXPECT_EQ(files.seek(file, static_cast<long>(start)), 0);
    std::array<char, 255> buffer;
    LineResult last;
    for (long at = -1; files.tell(file, &at) == 0 && (last = files.read_line(file, buffer)).length;)
      pieces.emplace_back(at, std::string(buffer.data(), last.length));
    EXPECT_EQ(pieces, expected) << "from " << start;
    EXPECT_EQ(std::tuple(last.status, last.error, files.read_line(file, buffer).status),
              fails ? std::tuple(LineStatus::kError, EIO, LineStatus::kError)
                    : std::tuple(LineStatus::kEndOfFile, 0, LineStatus::kEndOfFile));
    EXPECT_EQ(files.ended_cleanly(file),
              fail_at == 0 && (ctrl_z == std::string::npos ||
                               stored.find_first_not_of('\x1A', ctrl_z) == std::string::npos));
    for (const auto& piece : pieces) whole += pass ? "" : piece.second;
  }
  return whole;
}

// The cases of tests/data/text_reads.txt, then generated files with every kind of line end
// across the 64 KB buffer, then reads that fail where the buffer is filled again: a CR is a line
// end only once the byte after it is read.
TEST(FileStreams, ReadsTextLikeTheWindowsRunTime) {
  std::mt19937 random(7140);
  for (const auto& row : test::load_table("data/text_reads.txt"))
    EXPECT_EQ(expect_reads(row[1], random() % (row[1].size() + 1)), row[2]) << row[0];
  for (const std::string bytes : {"", "a\r\n", "a\r\nbc", "a\r", "a\x1A"})
    expect_reads(std::string(65536 - bytes.size(), 'x') + bytes + "\r\nlast", 0, 2);
  // Text waits in the buffer and is stored with CR LF; a seek back overwrites; a write that
  // stores part is followed by one for the rest, one that stores nothing is a full disk; once
  // text is lost, nothing later may look successful.
  std::string big, written;
  for (int i = 0; i < 20000; ++i) big += "abc\n", written += "abc\r\n";
  written += "x";
  const std::tuple<std::size_t, int, int, std::vector<int>, std::string> cases[] = {
      {1000, 0, 0, {0, 0, 0, 0, 0}, "y" + written.substr(1)},
      {SIZE_MAX, 1, 0, {ENOSPC, ENOSPC, ENOSPC, ENOSPC, ENOSPC}, ""},
      {1000, 3, EIO, {EIO, EIO, EIO, EIO, EIO}, written.substr(0, 2000)},
      {SIZE_MAX, 2, ENOSPC, {0, 0, ENOSPC, ENOSPC, ENOSPC}, written.substr(0, 65536)},
      {SIZE_MAX, 4, EIO, {0, 0, 0, 0, EIO}, "y" + written.substr(1)}};
  for (const auto& [most, nth, failure, results, after] : cases) {
    SCOPED_TRACE(nth);
    test::Fault fault(nth);
    test::FaultRawFiles raw(fault, failure);
    raw.most = most;
    FileStreams streams(raw);
    FileHandle file = kNoFile;
    ASSERT_EQ(streams.open("out.new", OpenMode::kWriteText, &file), 0);
    EXPECT_EQ((std::vector{streams.write(file, big), streams.write(file, "x"),
                           streams.seek(file, 0), streams.write(file, "y"), streams.close(file)}),
              results);
    EXPECT_TRUE(raw.files["out.new"] == after);
  }
}

}  // namespace
