#include "tests/virtual_files.h"

#include <algorithm>
#include <cerrno>

namespace reg7140::test {

// A stream's stored bytes as the text mode reads and writes them.
class VirtualFiles::Bytes {
 public:
  Bytes(std::string& bytes, std::size_t& position) : bytes_(bytes), position_(position) {}

  int peek() {
    return position_ < bytes_.size() ? static_cast<unsigned char>(bytes_[position_])
                                     : text_mode::kAtEnd;
  }
  void advance() { ++position_; }
  long long offset() { return static_cast<long long>(position_); }
  int error() { return 0; }
  long long read_at(long long offset, std::span<char> chunk) {
    const std::size_t from = std::min(static_cast<std::size_t>(offset), bytes_.size());
    const std::size_t n = std::min(chunk.size(), bytes_.size() - from);
    std::copy_n(bytes_.data() + from, n, chunk.data());
    return static_cast<long long>(n);
  }
  // Overwrites from the position on, and extends the file past its end.
  int put(std::string_view text) {
    const std::size_t over = std::min(text.size(), bytes_.size() - position_);
    bytes_.replace(position_, over, text);
    position_ += text.size();
    return 0;
  }

 private:
  std::string& bytes_;
  std::size_t& position_;
};

std::string VirtualFiles::key_of(std::string_view path) {
  std::string key(path);
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c == '/') c = '\\';
  }
  return key;
}

void VirtualFiles::put(std::string_view path, std::string bytes, bool read_only,
                       std::int64_t mtime) {
  files_[key_of(path)] = VirtualFile{std::move(bytes), read_only, mtime};
}

void VirtualFiles::remove(std::string_view path) { files_.erase(key_of(path)); }

bool VirtualFiles::exists(std::string_view path) const { return find(path) != nullptr; }

std::string VirtualFiles::contents(std::string_view path) const {
  const VirtualFile* file = find(path);
  return file != nullptr ? file->bytes : std::string();
}

VirtualFile* VirtualFiles::find(std::string_view path) const {
  auto it = files_.find(key_of(path));
  return it != files_.end() ? &it->second : nullptr;
}

void VirtualFiles::fail_call(FileOp op, int nth, int error) {
  faults_.push_back(Fault{op, nth, error});
}

int VirtualFiles::next_call(FileOp op) {
  const int count = ++calls_[static_cast<std::size_t>(op)];
  for (const Fault& fault : faults_) {
    if (fault.op == op && fault.nth == count) return fault.error;
  }
  return 0;
}

VirtualFiles::Stream* VirtualFiles::stream(FileHandle file) {
  auto it = streams_.find(file);
  return it != streams_.end() ? &it->second : nullptr;
}

bool VirtualFiles::access(std::string_view path, AccessMode) {
  const VirtualFile* file = find(path);
  // Both modes ask for writing, which the read-only attribute forbids.
  return file != nullptr && !file->read_only;
}

void VirtualFiles::make_writable(std::string_view path) {
  if (VirtualFile* file = find(path)) file->read_only = false;
}

int VirtualFiles::open_text(std::string_view path, OpenMode mode, FileHandle* file) {
  *file = kNoFile;
  if (const int error = next_call(FileOp::kOpen)) return error;
  VirtualFile* existing = find(path);
  if (mode == OpenMode::kReadText) {
    if (existing == nullptr) return ENOENT;
  } else if (existing != nullptr) {
    if (existing->read_only) return EACCES;
    existing->bytes.clear();
  } else {
    put(path, std::string());
  }
  *file = next_handle_++;
  streams_[*file] = Stream{key_of(path), mode, 0, {}};
  return 0;
}

LineResult VirtualFiles::read_line(FileHandle file, std::span<char> buffer) {
  if (const int error = next_call(FileOp::kReadLine)) return {LineStatus::kError, 0, error};
  Stream* s = stream(file);
  if (s == nullptr || s->mode != OpenMode::kReadText) return {LineStatus::kError, 0, EBADF};
  Bytes bytes(files_[s->key].bytes, s->position);
  return text_mode::read_line(bytes, s->read, buffer);
}

int VirtualFiles::write(FileHandle file, std::string_view text) {
  write_log_.emplace_back(text);
  if (const int error = next_call(FileOp::kWrite)) return error;
  Stream* s = stream(file);
  if (s == nullptr || s->mode != OpenMode::kWriteText) return EBADF;
  Bytes bytes(files_[s->key].bytes, s->position);
  return text_mode::write(bytes, text);
}

int VirtualFiles::tell(FileHandle file, long* position) {
  if (const int error = next_call(FileOp::kTell)) return error;
  Stream* s = stream(file);
  if (s == nullptr) return EBADF;
  *position = static_cast<long>(s->position);
  return 0;
}

int VirtualFiles::seek(FileHandle file, long position) {
  if (const int error = next_call(FileOp::kSeek)) return error;
  Stream* s = stream(file);
  if (s == nullptr) return EBADF;
  if (position < 0 || static_cast<std::size_t>(position) > files_[s->key].bytes.size()) {
    return EINVAL;
  }
  s->position = static_cast<std::size_t>(position);
  s->read = {};
  return 0;
}

bool VirtualFiles::ended_cleanly(FileHandle file) {
  Stream* s = stream(file);
  if (s == nullptr) return false;
  Bytes bytes(files_[s->key].bytes, s->position);
  return text_mode::ended_cleanly(bytes, s->read);
}

int VirtualFiles::close(FileHandle file) {
  const int error = next_call(FileOp::kClose);
  // Like fclose: the handle is gone even when the close reports a failure.
  if (streams_.erase(file) == 0) return EBADF;
  return error;
}

int VirtualFiles::replace_file(std::string_view from, std::string_view to) {
  if (const int error = next_call(FileOp::kReplaceFile)) return error;
  const VirtualFile* source = find(from);
  if (source == nullptr) return ENOENT;
  VirtualFile moved = *source;
  remove(from);
  files_[key_of(to)] = std::move(moved);
  return 0;
}

bool VirtualFiles::file_time(std::string_view path, std::int64_t* seconds) {
  if (next_call(FileOp::kFileTime) != 0) return false;
  const VirtualFile* file = find(path);
  if (file == nullptr) return false;
  *seconds = file->mtime;
  return true;
}

int VirtualFiles::copy_file(std::string_view from, std::string_view to) {
  if (const int error = next_call(FileOp::kCopyFile)) return error;
  const VirtualFile* source = find(from);
  if (source == nullptr) return ENOENT;
  VirtualFile* target = find(to);
  if (target != nullptr && target->read_only) return EACCES;
  files_[key_of(to)] = VirtualFile{source->bytes, false, source->mtime};
  return 0;
}

}  // namespace reg7140::test
