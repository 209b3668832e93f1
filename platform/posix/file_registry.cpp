// Sections of this file:
//   1. Reading the file
//   2. The registry's state: the loaded text, the changes, the open keys, the save
//   3. The registry calls
#include "platform/posix/file_registry.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/posix/durable_file.h"
#include "platform/posix/raw_io.h"
#include "platform/posix/reg_index.h"
#include "platform/posix/reg_store.h"
#include "platform/posix/reg_syntax.h"

namespace reg7140 {

namespace {

// ---- 1. Reading the file ------------------------------------------------------------------------

// A failed save reported in the codes Windows gives for the same trouble.
RegStatus status_from_errno(int error) {
  switch (error) {
    case ENOSPC:
    case EDQUOT:
      return kErrorDiskFull;
    case EACCES:
    case EPERM:
      return kErrorAccessDenied;
    case EROFS:
      return kErrorWriteProtect;
    default:
      return kErrorWriteFault;
  }
}

// Memory for the file's text, mapped in huge pages where the system offers them: a large
// registry is then read without a page fault for every 4 KB.
class TextBuffer {
 public:
  TextBuffer() = default;
  TextBuffer(const TextBuffer&) = delete;
  TextBuffer& operator=(const TextBuffer&) = delete;
  ~TextBuffer() { release(); }

  char* data() const { return data_; }
  std::size_t capacity() const { return capacity_; }

  // At least `size` bytes, the first `keep` of them kept. False when there is no memory.
  bool grow(std::size_t size, std::size_t keep) {
    constexpr std::size_t kHuge = std::size_t{2} << 20;
    const std::size_t length = (size + kHuge - 1) / kHuge * kHuge + kHuge;
    void* mapped =
        ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return false;
    // Huge pages need an aligned start; the slack before it and after the end is given back.
    const auto start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = (start + kHuge - 1) / kHuge * kHuge;
    const std::size_t usable = length - kHuge;
    if (aligned > start) ::munmap(mapped, aligned - start);
    if (start + length > aligned + usable) {
      ::munmap(reinterpret_cast<void*>(aligned + usable), start + length - aligned - usable);
    }
    char* block = reinterpret_cast<char*>(aligned);
#ifdef MADV_HUGEPAGE
    // Each huge page is cleared whole when first touched: worth it only for text that fills them.
    if (size >= kHuge) ::madvise(block, usable, MADV_HUGEPAGE);
#endif
    if (keep > 0) std::memcpy(block, data_, keep);
    release();
    data_ = block;
    capacity_ = usable;
    return true;
  }

 private:
  void release() {
    if (data_ != nullptr) ::munmap(data_, capacity_);
    data_ = nullptr;
    capacity_ = 0;
  }

  char* data_ = nullptr;
  std::size_t capacity_ = 0;
};

// The whole file, read in as few calls as its size allows. False when it cannot be read.
bool read_whole(int fd, TextBuffer* buffer, std::size_t* size) {
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return false;
  // One byte more than the size, so that a file grown meanwhile shows at once.
  if (!buffer->grow(static_cast<std::size_t>(status.st_size) + 1, 0)) return false;
  std::size_t filled = 0;
  for (;;) {
    if (filled == buffer->capacity() && !buffer->grow(filled * 2, filled)) return false;
    const ssize_t n = read_retrying(fd, buffer->data() + filled, buffer->capacity() - filled);
    if (n < 0) return false;
    if (n == 0) break;
    filled += static_cast<std::size_t>(n);
  }
  *size = filled;
  return true;
}

bool storable_key_name(std::string_view name) {
  return !name.empty() && name.find('\\') == std::string_view::npos && regedit4::is_text_line(name);
}

}  // namespace

// ---- 2. The registry's state: the loaded text, the changes, the open keys, the save ------------

struct FileRegistry::State {
  struct OpenKey {
    RegistryStore::Key* key;
    KeyAccess access;
    bool open;
  };

  std::string path;
  bool loaded = false;
  bool bad = false;
  TextBuffer text;
  std::size_t size = 0;
  RegistryIndex index;
  RegistryStore store{index};
  // Handle n is entry n - 1; entries are never reused, so a closed handle stays invalid.
  std::vector<OpenKey> handles;
  // Whether a change was made since the last save, and whether the file on disk differs from
  // the one loaded.
  bool changed = false;
  bool saved_differs = false;

  RegStatus ensure_loaded() {
    if (!loaded) {
      loaded = true;
      bad = !load();
    }
    return bad ? kErrorBadDb : kErrorSuccess;
  }

  bool load() {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    // A missing file is an empty registry; one that exists but cannot be read must never be
    // replaced by one.
    if (fd < 0) return errno == ENOENT;
    const bool read = read_whole(fd, &text, &size);
    ::close(fd);
    return read && index.load(std::string_view(text.data(), size));
  }

  OpenKey* lookup(KeyHandle handle) {
    if (handle == kNoKey || handle > handles.size()) return nullptr;
    OpenKey* entry = &handles[handle - 1];
    return entry->open ? entry : nullptr;
  }

  KeyHandle add_handle(RegistryStore::Key* key, KeyAccess access) {
    handles.push_back(OpenKey{key, access, true});
    return handles.size();
  }

  // The key behind a handle that may change it: 6 for an unknown handle, 5 for a read-only one.
  RegStatus writable(KeyHandle handle, RegistryStore::Key** key) {
    const RegStatus status = ensure_loaded();
    if (status != kErrorSuccess) return status;
    OpenKey* entry = lookup(handle);
    if (entry == nullptr) return kErrorInvalidHandle;
    if (entry->access == KeyAccess::kRead) return kErrorAccessDenied;
    *key = entry->key;
    return kErrorSuccess;
  }

  RegStatus save() {
    DurableFile file;
    if (const int error = file.create(path); error != 0) return status_from_errno(error);
    // The new file keeps the old one's mode and, where the right to do so is there, its owner.
    struct stat old {};
    const bool existed = ::stat(path.c_str(), &old) == 0;
    if (existed && (old.st_uid != ::geteuid() || old.st_gid != ::getegid())) {
      [[maybe_unused]] const int ignored = ::fchown(file.fd(), old.st_uid, old.st_gid);
    }
    if (::fchmod(file.fd(), existed ? (old.st_mode & 07777) : 0644) != 0) {
      return status_from_errno(errno);
    }
    const RegistryStore::Text rendered = store.render();
    for (std::string_view piece : rendered.pieces) {
      if (const int error = file.write(piece); error != 0) return status_from_errno(error);
    }
    if (const int error = file.commit(); error != 0) return status_from_errno(error);
    return kErrorSuccess;
  }
};

// ---- 3. The registry calls ----------------------------------------------------------------------

FileRegistry::FileRegistry(std::string host_path) : state_(std::make_unique<State>()) {
  state_->path = std::move(host_path);
}

FileRegistry::~FileRegistry() = default;

RegStatus FileRegistry::open_key(std::string_view path, KeyAccess access, KeyHandle* key) {
  if (key == nullptr) return kErrorInvalidParameter;
  *key = kNoKey;
  const RegStatus status = state_->ensure_loaded();
  if (status != kErrorSuccess) return status;
  RegistryStore::Key* found = state_->store.find(path);
  if (found == nullptr) return kErrorFileNotFound;
  *key = state_->add_handle(found, access);
  return kErrorSuccess;
}

RegStatus FileRegistry::create_key(KeyHandle parent, std::string_view subkey,
                                   std::string_view class_name, KeyHandle* key,
                                   std::uint32_t* disposition) {
  if (key == nullptr) return kErrorInvalidParameter;
  *key = kNoKey;
  RegistryStore::Key* at = nullptr;
  const RegStatus status = state_->writable(parent, &at);
  if (status != kErrorSuccess) return status;

  // Every name is checked before anything is created, so a bad path changes nothing.
  bool storable = regedit4::is_text_line(class_name);
  std::size_t start = 0;
  for (;;) {
    const std::size_t sep = std::min(subkey.find('\\', start), subkey.size());
    const std::string_view name = subkey.substr(start, sep - start);
    if (name.empty()) return kErrorFileNotFound;
    storable = storable && storable_key_name(name);
    if (sep == subkey.size()) break;
    start = sep + 1;
  }
  if (!storable) return kErrorInvalidParameter;

  bool created = false;
  RegistryStore::Key* made = state_->store.create(at, subkey, class_name, &created);
  if (made == nullptr) return kErrorFileNotFound;
  state_->changed = state_->changed || created;
  if (disposition != nullptr) *disposition = created ? kRegCreatedNewKey : kRegOpenedExistingKey;
  *key = state_->add_handle(made, KeyAccess::kAllAccess);
  return kErrorSuccess;
}

RegStatus FileRegistry::query_value(KeyHandle key, std::string_view name, std::uint32_t* type,
                                    std::span<std::uint8_t> buffer, std::uint32_t* size) {
  const RegStatus status = state_->ensure_loaded();
  if (status != kErrorSuccess) return status;
  State::OpenKey* entry = state_->lookup(key);
  if (entry == nullptr) return kErrorInvalidHandle;
  RegistryStore::ValueView value{};
  if (!state_->store.value(entry->key, name, &value)) return kErrorFileNotFound;
  if (type != nullptr) *type = value.type;
  if (size != nullptr) *size = static_cast<std::uint32_t>(value.data.size());
  if (value.data.size() > buffer.size()) return kErrorMoreData;
  std::copy(value.data.begin(), value.data.end(), buffer.begin());
  return kErrorSuccess;
}

RegStatus FileRegistry::set_value(KeyHandle key, std::string_view name, std::uint32_t type,
                                  std::span<const std::uint8_t> data) {
  RegistryStore::Key* at = nullptr;
  const RegStatus status = state_->writable(key, &at);
  if (status != kErrorSuccess) return status;
  if (!regedit4::is_text_line(name)) return kErrorInvalidParameter;
  state_->store.set_value(at, name, type, data);
  state_->changed = true;
  return kErrorSuccess;
}

RegStatus FileRegistry::delete_value(KeyHandle key, std::string_view name) {
  RegistryStore::Key* at = nullptr;
  const RegStatus status = state_->writable(key, &at);
  if (status != kErrorSuccess) return status;
  if (!state_->store.delete_value(at, name)) return kErrorFileNotFound;
  state_->changed = true;
  return kErrorSuccess;
}

void FileRegistry::close_key(KeyHandle key) {
  State::OpenKey* entry = state_->lookup(key);
  if (entry != nullptr) entry->open = false;
}

RegStatus FileRegistry::flush() {
  State& s = *state_;
  // Nothing read, nothing readable or nothing changed: the file stays as it is.
  if (!s.loaded || s.bad || !s.changed) return kErrorSuccess;
  const bool differs = s.store.differs();
  if (differs || s.saved_differs) {
    const RegStatus status = s.save();
    if (status != kErrorSuccess) return status;
    s.saved_differs = differs;
  }
  s.changed = false;
  return kErrorSuccess;
}

}  // namespace reg7140
