#include "tests/virtual_files.h"

#include <cerrno>

namespace reg7140::test {

namespace {

constexpr char kCtrlZ = '\x1A';

}  // namespace

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

const VirtualFile* VirtualFiles::find(std::string_view path) const {
  auto it = files_.find(key_of(path));
  return it != files_.end() ? &it->second : nullptr;
}

VirtualFile* VirtualFiles::find(std::string_view path) {
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
  streams_[*file] = Stream{key_of(path), mode, 0};
  return 0;
}

LineResult VirtualFiles::read_line(FileHandle file, std::span<char> buffer) {
  LineResult result;
  if (const int error = next_call(FileOp::kReadLine)) {
    result.error = error;
    return result;
  }
  Stream* s = stream(file);
  if (s == nullptr || s->mode != OpenMode::kReadText || buffer.empty()) {
    result.error = EBADF;
    return result;
  }
  const std::string& bytes = files_[s->key].bytes;
  std::size_t count = 0;
  while (count + 1 < buffer.size() && s->position < bytes.size()) {
    const char c = bytes[s->position];
    if (c == kCtrlZ) break;  // the text ends here; the position stays on the mark
    if (c == '\r' && s->position + 1 < bytes.size() && bytes[s->position + 1] == '\n') {
      buffer[count++] = '\n';
      s->position += 2;
      break;
    }
    buffer[count++] = c;
    ++s->position;
    if (c == '\n') break;
  }
  buffer[count] = '\0';
  result.length = count;
  result.status = count > 0 ? LineStatus::kLine : LineStatus::kEndOfFile;
  return result;
}

int VirtualFiles::write(FileHandle file, std::string_view text) {
  write_log_.emplace_back(text);
  if (const int error = next_call(FileOp::kWrite)) return error;
  Stream* s = stream(file);
  if (s == nullptr || s->mode != OpenMode::kWriteText) return EBADF;
  std::string& bytes = files_[s->key].bytes;
  auto put_byte = [&](char c) {
    if (s->position < bytes.size()) {
      bytes[s->position] = c;
    } else {
      bytes.push_back(c);
    }
    ++s->position;
  };
  for (const char c : text) {
    if (c == '\n') put_byte('\r');
    put_byte(c);
  }
  return 0;
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
  return 0;
}

bool VirtualFiles::ended_cleanly(FileHandle file) {
  Stream* s = stream(file);
  if (s == nullptr) return false;
  const std::string& bytes = files_[s->key].bytes;
  for (std::size_t i = s->position; i < bytes.size(); ++i) {
    if (bytes[i] != kCtrlZ) return false;
  }
  return true;
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
  const VirtualFile copy{source->bytes, false, source->mtime};
  files_[key_of(to)] = copy;
  return 0;
}

}  // namespace reg7140::test
