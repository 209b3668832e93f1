// The text streams of both systems over raw files in memory that fail the Nth call: text mode
// as the Windows C run-time has it (the INF job reads pieces of at most 254 characters), where
// positions are told, and what a failing disk leaves.
#include "platform/file_streams.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "tests/fault.h"
#include "tests/test_util.h"

namespace reg7140 {
namespace {

using Pieces = std::vector<std::pair<long, std::string>>;  // where told, text

// Reads on as the INF job does, telling the position before each piece; `last`: the read that
// ended it.
Pieces read_all(FileStreams& files, FileHandle file, LineResult* last) {
  Pieces pieces;
  std::array<char, 255> buffer;
  for (long at = -1; files.tell(file, &at) == 0 && (*last = files.read_line(file, buffer)).length;)
    pieces.emplace_back(at, std::string(buffer.data(), last->length));
  return pieces;
}

// What a reader from `from` on must see: CR LF as LF, the text ended by Ctrl-Z, pieces that end
// after a line feed or 254 characters; the text ends cleanly when only Ctrl-Z bytes follow it.
std::pair<Pieces, bool> text_of(const std::string& stored, std::size_t from) {
  Pieces pieces;
  std::size_t at = from;
  for (; at < stored.size() && stored[at] != '\x1A'; ++at) {
    if (pieces.empty() || pieces.back().second.size() == 254 || pieces.back().second.back() == '\n')
      pieces.emplace_back(static_cast<long>(at), "");
    const bool cr_lf = stored.compare(at, 2, "\r\n") == 0;
    pieces.back().second += cr_lf ? '\n' : stored[at];
    at += cr_lf ? 1 : 0;
  }
  return {pieces, stored.find_first_not_of('\x1A', at) == std::string::npos};
}

// `stored` read from its start and from `from`, as text_of says; a read failing at `fail_at`, as
// the buffer is filled again, ends the text with the pieces whole before it.
void expect_reads(const std::string& stored, std::size_t from, int fail_at = 0) {
  test::Fault fault(fail_at);
  fault.from_on = true;
  test::FaultRawFiles raw(fault);
  raw.files["in.inf"] = stored;
  FileStreams files(raw);
  FileHandle file = kNoFile;
  ASSERT_EQ(files.open("in.inf", OpenMode::kReadText, &file), 0);
  for (const std::size_t at : {std::size_t{0}, from}) {
    ASSERT_EQ(files.seek(file, static_cast<long>(at)), 0);
    auto [pieces, clean] = text_of(stored.substr(0, fail_at ? FileStreams::kBufferSize : -1), at);
    const bool fails = fail_at != 0 && stored.find('\x1A') == std::string::npos;
    clean = clean && fail_at == 0;  // what follows a Ctrl-Z cannot be told
    const auto& end = pieces.empty() ? std::string("\n") : pieces.back().second;
    if (fails && !end.ends_with('\n') && end.size() < 254) pieces.pop_back();
    LineResult last;
    EXPECT_EQ(read_all(files, file, &last), pieces) << "from " << at;
    EXPECT_EQ(std::tuple(last.status, last.error, files.ended_cleanly(file)),
              fails ? std::tuple(LineStatus::kError, EIO, false)
                    : std::tuple(LineStatus::kEndOfFile, 0, clean));
    std::array<char, 8> more;
    EXPECT_TRUE(fails || files.read_line(file, more).status == LineStatus::kEndOfFile);  // stays
    if (fail_at != 0) break;
  }
}

// The cases of tests/data/text_reads.txt, then generated files with every kind of line end
// across the 64 KB buffer, then reads that fail where the buffer is filled again: a CR is a line
// end only once the byte after it is read.
TEST(FileStreams, ReadsTextLikeTheWindowsRunTime) {
  std::mt19937 random(7140);
  for (const auto& row : test::load_table("data/text_reads.txt")) {
    const auto [pieces, clean] = text_of(row[1], 0);
    std::string text;
    for (const auto& piece : pieces) text += piece.second;
    EXPECT_EQ(std::pair(text, clean), std::pair(row[2], row[3] == "clean")) << row[0];
    expect_reads(row[1], random() % (row[1].size() + 1));
  }
  for (int round = 0; round < 4; ++round) {
    std::string stored;
    while (stored.size() < 150000) {
      const std::string_view ends[] = {"\r\n", "\n", "\r", "\r\r\n", {"\0", 1}};
      stored.append(random() % (round < 2 ? 40 : 600), 'a' + round).append(ends[random() % 5]);
    }
    const std::string tails[] = {"\x1A\x1A", "\x1Atail\r\n", "", std::string(512, '\x1A') + "x"};
    expect_reads(stored + tails[round], random() % stored.size());
  }
  for (const std::string bytes : {"", "a\r\n", "a\r\nbc", "a\r", "a\x1A"})
    expect_reads(std::string(65536 - bytes.size(), 'x') + bytes + "\r\nlast", 0, 2);
}

// Text waits in the buffer and is stored with CR LF; a seek back overwrites; a write that stores
// part is followed by one for the rest, one that stores nothing is a full disk; once text is
// lost, nothing later may look successful.
TEST(FileStreams, FailuresStick) {
  std::string big, stored;
  for (int i = 0; i < 20000; ++i) big += "abc\n";
  for (const char c : big + "x") stored += c == '\n' ? "\r\n" : std::string(1, c);
  const std::tuple<std::size_t, int, int, std::vector<int>, std::string> cases[] = {
      {1000, 0, 0, {0, 0, 0, 0, 0}, "y" + stored.substr(1)},
      {SIZE_MAX, 1, 0, {ENOSPC, ENOSPC, ENOSPC, ENOSPC, ENOSPC}, ""},
      {1000, 3, EIO, {EIO, EIO, EIO, EIO, EIO}, stored.substr(0, 2000)},
      {SIZE_MAX, 2, ENOSPC, {0, 0, ENOSPC, ENOSPC, ENOSPC}, stored.substr(0, 65536)},
      {SIZE_MAX, 4, EIO, {0, 0, 0, 0, EIO}, "y" + stored.substr(1)}};
  for (const auto& [most, nth, failure, results, after] : cases) {
    test::Fault fault(nth);
    test::FaultRawFiles raw(fault, failure);
    raw.most = most;
    FileStreams streams(raw);
    FileHandle file = kNoFile;
    ASSERT_EQ(streams.open("out.new", OpenMode::kWriteText, &file), 0);
    EXPECT_EQ((std::vector{streams.write(file, big), streams.write(file, "x"),
                           streams.seek(file, 0), streams.write(file, "y"), streams.close(file)}),
              results)
        << most << " " << nth;
    EXPECT_TRUE(raw.files["out.new"] == after) << most << " " << nth;
  }
}

}  // namespace
}  // namespace reg7140
