// The text mode over byte sources that fail where a real file hardly can: the decoding itself
// is covered through the host files in posix_files_test.cpp.
#include "platform/text_mode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <string>
#include <utility>
#include <vector>

namespace reg7140 {
namespace {

// Stored bytes whose reading fails from `fail_at` on, as a disk error stays.
class FailingSource {
 public:
  FailingSource(std::string bytes, long long fail_at, bool read_at_fails = false)
      : bytes_(std::move(bytes)), fail_at_(fail_at), read_at_fails_(read_at_fails) {}

  int peek() {
    if (fail_at_ >= 0 && position_ >= fail_at_) return text_mode::kFailed;
    if (position_ >= static_cast<long long>(bytes_.size())) return text_mode::kAtEnd;
    return static_cast<unsigned char>(bytes_[static_cast<std::size_t>(position_)]);
  }
  void advance() { ++position_; }
  long long offset() { return position_; }
  int error() { return EIO; }
  long long read_at(long long offset, std::span<char> chunk) {
    if (read_at_fails_) return -1;
    const long long left = static_cast<long long>(bytes_.size()) - offset;
    const long long n = std::min<long long>(left, static_cast<long long>(chunk.size()));
    std::copy_n(bytes_.begin() + offset, n, chunk.begin());
    return n;
  }

 private:
  std::string bytes_;
  long long fail_at_;
  bool read_at_fails_;
  long long position_ = 0;
};

struct FailureCase {
  const char* name;
  std::string bytes;
  long long fail_at;
  std::vector<std::string> lines;  // read before the failure
};

void PrintTo(const FailureCase& c, std::ostream* out) { *out << c.name; }

class TextModeReadFailure : public testing::TestWithParam<FailureCase> {};

TEST_P(TextModeReadFailure, LinesBeforeItArriveThenTheSourcesErrno) {
  FailingSource source(GetParam().bytes, GetParam().fail_at);
  text_mode::ReadState state;
  std::array<char, 16> buffer;
  std::vector<std::string> lines;
  for (;;) {
    buffer.fill('x');
    const LineResult line = text_mode::read_line(source, state, buffer);
    if (line.status != LineStatus::kLine) {
      EXPECT_EQ(line.status, LineStatus::kError);
      EXPECT_EQ(line.error, EIO);
      EXPECT_EQ(buffer[0], '\0');
      break;
    }
    lines.emplace_back(buffer.data(), line.length);
  }
  EXPECT_EQ(lines, GetParam().lines);
  EXPECT_FALSE(text_mode::ended_cleanly(source, state));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TextModeReadFailure,
    testing::Values(FailureCase{"AtTheStart", "a\r\n", 0, {}},
                    FailureCase{"AfterALine", "a\r\nbc\r\n", 3, {"a\n"}},
                    FailureCase{"InsideALine", "a\r\nbc\r\n", 4, {"a\n"}},
                    // A CR is a line end only once its LF is read: the read of its line fails.
                    FailureCase{"OnTheLookAheadAfterCr", "a\r\nb", 2, {}},
                    FailureCase{"BeforeTheEndMark", "a\n\x1A", 2, {"a\n"}}),
    [](const testing::TestParamInfo<FailureCase>& param_info) { return param_info.param.name; });

TEST(TextModeEnd, AMarkCannotBeCheckedWhenThePaddingCannotBeRead) {
  FailingSource source("a\x1A\x1A", -1, /*read_at_fails=*/true);
  text_mode::ReadState state;
  std::array<char, 16> buffer;
  ASSERT_EQ(text_mode::read_line(source, state, buffer).status, LineStatus::kLine);
  ASSERT_EQ(text_mode::read_line(source, state, buffer).status, LineStatus::kEndOfFile);
  EXPECT_EQ(state.end, text_mode::End::kCtrlZ);
  EXPECT_EQ(state.ctrl_z_offset, 1);
  EXPECT_FALSE(text_mode::ended_cleanly(source, state));
}

TEST(TextModeEnd, ReadingOnAfterTheMarkStaysAtTheEnd) {
  FailingSource source(
      "a\x1A"
      "b\r\n",
      -1);
  text_mode::ReadState state;
  std::array<char, 16> buffer;
  ASSERT_EQ(text_mode::read_line(source, state, buffer).length, 1u);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(text_mode::read_line(source, state, buffer).status, LineStatus::kEndOfFile);
  }
  EXPECT_FALSE(text_mode::ended_cleanly(source, state));
}

// Stores what it is given until `room` bytes are stored, then fails with ENOSPC.
struct LimitedSink {
  explicit LimitedSink(std::size_t bytes) : room(bytes) {}

  std::size_t room;
  std::string stored;
  int calls_after_failure = 0;
  bool failed = false;

  int put(std::string_view bytes) {
    if (failed) ++calls_after_failure;
    if (stored.size() + bytes.size() > room) {
      failed = true;
      return ENOSPC;
    }
    stored.append(bytes);
    return 0;
  }
};

struct WriteCase {
  const char* name;
  std::string text;
  std::size_t room;
  std::string stored;
  int result;
};

void PrintTo(const WriteCase& c, std::ostream* out) { *out << c.name; }

class TextModeWrite : public testing::TestWithParam<WriteCase> {};

TEST_P(TextModeWrite, StoresCrLfAndStopsAtTheFirstFailure) {
  LimitedSink sink(GetParam().room);
  EXPECT_EQ(text_mode::write(sink, GetParam().text), GetParam().result);
  EXPECT_EQ(sink.stored, GetParam().stored);
  EXPECT_EQ(sink.calls_after_failure, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TextModeWrite,
    testing::Values(WriteCase{"Nothing", "", 0, "", 0},
                    WriteCase{"LinesAndTail", "a\n\nb", 64, "a\r\n\r\nb", 0},
                    WriteCase{"CrKept", "a\r\n", 64, "a\r\r\n", 0},
                    WriteCase{"FullBeforeTheLineEnd", "ab\ncd\n", 3, "ab", ENOSPC},
                    WriteCase{"FullInTheTail", "ab\ncd", 5, "ab\r\n", ENOSPC}),
    [](const testing::TestParamInfo<WriteCase>& param_info) { return param_info.param.name; });

}  // namespace
}  // namespace reg7140
