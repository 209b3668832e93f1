// Sections of this file:
//   1. Bytes in and bytes out: the text mode's source and sink over a stream's buffer
//   2. Opening and closing
//   3. Text: lines, positions
#include "platform/file_streams.h"

#include <algorithm>
#include <cerrno>

namespace reg7140 {
namespace {

// ---- 1. Bytes in and bytes out: the text mode's source and sink over a stream's buffer ----------

// The bytes of a stream opened for reading, for the text mode.
class ByteSource {
 public:
  ByteSource(RawFiles& raw, FileStream& stream) : raw_(raw), s_(stream) {}

  // The next stored byte, not taken; refills the buffer once it is used up.
  int peek() {
    if (s_.next == s_.filled) {
      s_.base += static_cast<long long>(s_.filled);
      s_.next = 0;
      s_.filled = 0;
      std::size_t count = 0;
      const int error =
          raw_.read_at(s_.raw, s_.base, {s_.buffer.get(), FileStreams::kBufferSize}, &count);
      if (error != 0) {
        s_.read_error = error;
        return text_mode::kFailed;
      }
      if (count == 0) return text_mode::kAtEnd;
      s_.filled = count;
    }
    return static_cast<unsigned char>(s_.buffer[s_.next]);
  }
  void advance() { ++s_.next; }
  std::string_view buffered() { return {s_.buffer.get() + s_.next, s_.filled - s_.next}; }
  void skip(std::size_t count) { s_.next += count; }
  long long offset() { return s_.base + static_cast<long long>(s_.next); }
  int error() { return s_.read_error; }
  long long read_at(long long offset, std::span<char> chunk) {
    std::size_t count = 0;
    if (raw_.read_at(s_.raw, offset, chunk, &count) != 0) return -1;
    return static_cast<long long>(count);
  }

 private:
  RawFiles& raw_;
  FileStream& s_;
};

// The bytes of a stream opened for writing, buffered; `flush` stores the buffer.
template <class Flush>
class ByteSink {
 public:
  ByteSink(FileStream& stream, Flush flush) : s_(stream), flush_(flush) {}

  std::span<char> room() {
    return {s_.buffer.get() + s_.filled, FileStreams::kBufferSize - s_.filled};
  }
  void fill(std::size_t count) { s_.filled += count; }

  int put(std::string_view bytes) {
    while (!bytes.empty()) {
      if (s_.filled == FileStreams::kBufferSize) {
        if (const int error = flush_(); error != 0) return error;
      }
      const std::size_t n = std::min(bytes.size(), FileStreams::kBufferSize - s_.filled);
      std::copy_n(bytes.data(), n, s_.buffer.get() + s_.filled);
      s_.filled += n;
      bytes.remove_prefix(n);
    }
    return 0;
  }

 private:
  FileStream& s_;
  Flush flush_;
};

}  // namespace

int FileStreams::flush(FileStream& s) {
  if (s.write_error != 0) return s.write_error;
  std::size_t written = 0;
  const int error = write_fully(
      {s.buffer.get(), s.filled}, &written, [&](std::string_view rest, std::size_t* count) {
        const long long at = s.base + static_cast<long long>(s.filled - rest.size());
        return raw_.write_at(s.raw, at, rest, count);
      });
  s.base += static_cast<long long>(written);
  s.filled = 0;
  s.write_error = error;
  return error;
}

// ---- 2. Opening and closing ---------------------------------------------------------------------

FileStreams::~FileStreams() {
  for (FileHandle i = 0; i < StreamTable<FileStream>::kSlots; ++i) close(i);
}

int FileStreams::open(std::string_view path, OpenMode mode, FileHandle* file) {
  *file = kNoFile;
  const FileHandle slot = streams_.free_slot();
  if (slot == kNoFile) return EMFILE;
  RawHandle raw = 0;
  if (const int error = raw_.open(path, mode, &raw); error != 0) return error;
  FileStream& s = streams_[slot];
  s = FileStream{};
  s.buffer.reset(new char[kBufferSize]);
  s.open = true;
  s.writing = mode == OpenMode::kWriteText;
  s.raw = raw;
  *file = slot;
  return 0;
}

int FileStreams::close(FileHandle file) {
  FileStream* s = streams_.find(file);
  if (s == nullptr) return EBADF;
  int error = s->writing ? flush(*s) : 0;
  if (const int closed = raw_.close(s->raw); error == 0) error = closed;
  s->open = false;
  s->buffer.reset();
  return error;
}

// ---- 3. Text: lines, positions ------------------------------------------------------------------

LineResult FileStreams::read_line(FileHandle file, std::span<char> buffer) {
  FileStream* s = streams_.find(file);
  if (s == nullptr || s->writing) return {LineStatus::kError, 0, EBADF};
  ByteSource source(raw_, *s);
  return text_mode::read_line(source, s->read, buffer);
}

int FileStreams::write(FileHandle file, std::string_view text) {
  FileStream* s = streams_.find(file);
  if (s == nullptr || !s->writing) return EBADF;
  if (s->write_error != 0) return s->write_error;
  ByteSink sink(*s, [this, s] { return flush(*s); });
  return text_mode::write(sink, text);
}

int FileStreams::tell(FileHandle file, long* position) {
  FileStream* s = streams_.find(file);
  if (s == nullptr) return EBADF;
  *position = static_cast<long>(s->base + static_cast<long long>(s->writing ? s->filled : s->next));
  return 0;
}

int FileStreams::seek(FileHandle file, long position) {
  FileStream* s = streams_.find(file);
  if (s == nullptr) return EBADF;
  if (position < 0) return EINVAL;
  if (s->writing) {
    if (const int error = flush(*s); error != 0) return error;
  }
  // Every raw read and write names its offset: moving is only a matter of the buffer.
  s->base = position;
  s->next = 0;
  s->filled = 0;
  s->read = {};
  return 0;
}

bool FileStreams::ended_cleanly(FileHandle file) {
  FileStream* s = streams_.find(file);
  if (s == nullptr || s->writing) return false;
  ByteSource source(raw_, *s);
  return text_mode::ended_cleanly(source, s->read);
}

}  // namespace reg7140
