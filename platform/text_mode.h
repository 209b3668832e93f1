// The Windows C run-time's text mode over a file's stored bytes: CR LF reads as LF, a CR that no
// LF follows stays, a byte 0x1A ends the text and stays unread; every LF written becomes CR LF.
// Each platform opens its files in binary mode and hands the bytes to these functions, so that
// all of them read and write the same text and tell the same positions.
//
// A byte source provides:
//   int peek();          the next stored byte (0 to 255) without taking it, kAtEnd or kFailed
//   void advance();      takes the byte that peek() returned
//   long long offset();  the stored offset of the byte that peek() returns
//   int error();         errno of the failure that peek() reported
//   long long read_at(long long offset, std::span<char> chunk);
//                        bytes read from `offset` on, 0 at the physical end, < 0 on failure
// and may provide, to hand over runs of plain bytes in one copy (BufferedSource):
//   std::string_view buffered();  the bytes from peek()'s on that are at hand without a read
//   void skip(std::size_t count);  takes that many of them
// A byte sink provides:
//   int put(std::string_view bytes);  0 once all are stored, otherwise errno
// and may provide, to take text straight into its buffer (BufferedSink):
//   std::span<char> room();        the space at hand that put() would fill without storing
//   void fill(std::size_t count);  counts that many bytes written into room() as put
#pragma once

#include <algorithm>
#include <array>
#include <cerrno>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#include "platform/text_files.h"

namespace reg7140::text_mode {

inline constexpr int kCtrlZByte = 0x1A;

// What a byte source's peek() answers instead of a byte.
inline constexpr int kAtEnd = -1;
inline constexpr int kFailed = -2;

enum class End { kNone, kPhysical, kCtrlZ };

// How far the text of one open file has been read.
struct ReadState {
  End end = End::kNone;
  long long ctrl_z_offset = -1;  // with End::kCtrlZ
};

template <class Source>
concept BufferedSource = requires(Source& source, std::size_t count) {
  { source.buffered() } -> std::same_as<std::string_view>;
  source.skip(count);
};

// Whether the text mode treats the byte specially: LF, CR and 0x1A, all below 0x1B.
constexpr bool is_special(unsigned char c) {
  return c <= kCtrlZByte && (c == '\n' || c == '\r' || c == kCtrlZByte);
}

// How many bytes from the start of `bytes` read as themselves.
inline std::size_t plain_prefix(std::string_view bytes) {
  // Eight bytes at a time: a word none of whose bytes is below 0x1B holds no special byte. The
  // test (a borrow into a byte's top bit that the byte itself lacks) finds whether such a byte
  // is there, not which; the bytes of that word are then looked at one by one.
  constexpr std::uint64_t kOnes = 0x0101010101010101;
  constexpr std::uint64_t kTops = 0x8080808080808080;
  std::size_t i = 0;
  while (bytes.size() - i >= sizeof(std::uint64_t)) {
    std::uint64_t word;
    std::memcpy(&word, bytes.data() + i, sizeof word);
    if (((word - kOnes * (kCtrlZByte + 1)) & ~word & kTops) == 0) {
      i += sizeof word;
      continue;
    }
    for (const std::size_t end = i + sizeof word; i < end; ++i) {
      if (is_special(static_cast<unsigned char>(bytes[i]))) return i;
    }
  }
  for (; i < bytes.size(); ++i) {
    if (is_special(static_cast<unsigned char>(bytes[i]))) return i;
  }
  return bytes.size();
}

// The next character of the text, kAtEnd or kFailed.
template <class Source>
int get_char(Source& source, ReadState& state) {
  const int c = source.peek();
  if (c == kAtEnd) state.end = End::kPhysical;
  if (c < 0) return c;
  if (c == kCtrlZByte) {
    state.end = End::kCtrlZ;
    state.ctrl_z_offset = source.offset();
    return kAtEnd;
  }
  source.advance();
  if (c != '\r') return c;
  // A CR ends a line only with the LF right after it; a failed look-ahead keeps the CR and
  // leaves the failure to the next read.
  if (source.peek() == '\n') {
    source.advance();
    return '\n';
  }
  return '\r';
}

// Reads like fgets with a limit of `buffer.size()`: at most buffer.size() - 1 characters, up to
// and including a line feed, then a terminating NUL.
template <class Source>
LineResult read_line(Source& source, ReadState& state, std::span<char> buffer) {
  // No room for even one character: a caller looping until the end would never get there.
  if (buffer.size() < 2) return {LineStatus::kError, 0, EINVAL};
  const std::size_t limit = buffer.size() - 1;
  std::size_t length = 0;
  bool at_end = false;
  while (length < limit) {
    if constexpr (BufferedSource<Source>) {
      // The plain bytes at hand go over in one copy, and a line end at hand is taken at once;
      // whatever else, and a refill, takes the way of one character at a time below.
      const std::string_view at_hand = source.buffered();
      const std::size_t room = std::min(at_hand.size(), limit - length);
      const std::size_t count = plain_prefix(std::string_view(at_hand.data(), room));
      if (count > 0) {
        std::memcpy(buffer.data() + length, at_hand.data(), count);
        source.skip(count);
        length += count;
      }
      if (count < room) {
        const char stop = at_hand[count];
        const bool cr_lf = stop == '\r' && count + 1 < at_hand.size() && at_hand[count + 1] == '\n';
        if (stop == '\n' || cr_lf) {
          source.skip(cr_lf ? 2 : 1);
          buffer[length++] = '\n';
          break;
        }
      } else if (length == limit) {
        break;
      }
    }
    const int c = get_char(source, state);
    if (c == kFailed) {
      buffer[0] = '\0';
      return {LineStatus::kError, 0, source.error()};
    }
    if (c == kAtEnd) {
      at_end = true;
      break;
    }
    buffer[length++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  buffer[length] = '\0';
  if (length == 0 && at_end) return {LineStatus::kEndOfFile, 0, 0};
  return {LineStatus::kLine, length, 0};
}

template <class Sink>
concept BufferedSink = requires(Sink& sink, std::size_t count) {
  { sink.room() } -> std::same_as<std::span<char>>;
  sink.fill(count);
};

// Copies `text` to `out` with every LF as CR LF; `out` has room for twice its size. Returns the
// bytes stored.
inline std::size_t expand_line_feeds(std::string_view text, char* out) {
  char* const start = out;
  const char* at = text.data();
  const char* const end = text.data() + text.size();
  while (at != end) {
    const void* found = std::memchr(at, '\n', static_cast<std::size_t>(end - at));
    const char* const stop = found != nullptr ? static_cast<const char*>(found) : end;
    std::memcpy(out, at, static_cast<std::size_t>(stop - at));
    out += stop - at;
    if (stop == end) break;
    *out++ = '\r';
    *out++ = '\n';
    at = stop + 1;
  }
  return static_cast<std::size_t>(out - start);
}

// Stores `text` with every LF as CR LF: 0, or the sink's first error.
template <class Sink>
int write(Sink& sink, std::string_view text) {
  if constexpr (BufferedSink<Sink>) {
    // With room for the text even if it were all LFs, it goes in at once and cannot fail.
    const std::span<char> room = sink.room();
    if (text.size() <= room.size() / 2) {
      sink.fill(expand_line_feeds(text, room.data()));
      return 0;
    }
  }
  // No substr(): its range check would link in the exception machinery, which imports
  // functions that Windows 95 lacks.
  std::size_t start = 0;
  while (start < text.size()) {
    const void* found = std::memchr(text.data() + start, '\n', text.size() - start);
    if (found == nullptr) break;
    const std::size_t line_feed =
        static_cast<std::size_t>(static_cast<const char*>(found) - text.data());
    if (const int error = sink.put(std::string_view(text.data() + start, line_feed - start));
        error != 0) {
      return error;
    }
    if (const int error = sink.put("\r\n"); error != 0) return error;
    start = line_feed + 1;
  }
  return sink.put(std::string_view(text.data() + start, text.size() - start));
}

// After the end of the text: true when it was the physical end of the file, or when nothing but
// 0x1A bytes follows the first one (some editors pad a DOS file with them); anything else after
// it is text that the read never saw.
template <class Source>
bool ended_cleanly(Source& source, const ReadState& state) {
  if (state.end == End::kPhysical) return true;
  if (state.end != End::kCtrlZ || state.ctrl_z_offset < 0) return false;
  std::array<char, 512> chunk;
  long long offset = state.ctrl_z_offset;
  for (;;) {
    const long long n = source.read_at(offset, chunk);
    if (n < 0) return false;
    if (n == 0) return true;
    for (long long i = 0; i < n; ++i) {
      if (chunk[static_cast<std::size_t>(i)] != kCtrlZByte) return false;
    }
    offset += n;
  }
}

}  // namespace reg7140::text_mode
