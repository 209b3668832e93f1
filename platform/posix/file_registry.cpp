#include "platform/posix/file_registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

#include "platform/posix/regedit4.h"

namespace reg7140 {

namespace {

constexpr RegStatus kErrorWriteProtect = 19;

// A failed save reported in the codes Windows gives for the same trouble:
//   ENOSPC, EDQUOT  -> 112 ERROR_DISK_FULL
//   EACCES, EPERM   -> 5   ERROR_ACCESS_DENIED
//   EROFS           -> 19  ERROR_WRITE_PROTECT
//   anything else   -> 29  ERROR_WRITE_FAULT
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

// Reads the registry file in pieces straight into the tree, so that the file's text is never held
// whole. False when it cannot be read or does not parse.
bool read_registry(int fd, RegistryTree* tree) {
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  const TextSource source = [fd](std::span<char> buffer) -> long {
    for (;;) {
      ssize_t n = read(fd, buffer.data(), buffer.size());
      if (n >= 0 || errno != EINTR) return static_cast<long>(n);
    }
  };
  return parse_regedit4(source, tree);
}

bool write_all(int fd, std::string_view text) {
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = ENOSPC;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Writes the file beside its old copy and renames it into place, so that the registry file on
// disk is always either the old or the new one, never a torn one.
RegStatus save_file(const std::string& path, const RegistryTree& tree) {
  std::string target = path;
  struct stat st {};
  // A symbolic link stays in place; the file it points to gets the new content.
  if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) != nullptr) target = resolved;
  }

  bool existed = stat(target.c_str(), &st) == 0;
  if (!existed && errno != ENOENT) return status_from_errno(errno);
  mode_t mode = existed ? (st.st_mode & 07777) : 0644;

  std::size_t slash = target.rfind('/');
  std::string directory = slash == std::string::npos ? "." : target.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string temp =
      (slash == std::string::npos ? std::string() : directory) + "." + base + ".XXXXXX";

  int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return status_from_errno(errno);

  // The text goes out as it is written: a large registry is never held as one string.
  int write_error = 0;
  bool ok = tree.write([fd, &write_error](std::string_view piece) {
    if (write_all(fd, piece)) return true;
    write_error = errno;
    return false;
  });
  if (!ok) errno = write_error;
  if (ok && existed && (st.st_uid != geteuid() || st.st_gid != getegid())) {
    // Keeping the owner only works with the right to do so; the content matters more.
    [[maybe_unused]] int ignored = fchown(fd, st.st_uid, st.st_gid);
  }
  ok = ok && fchmod(fd, mode) == 0 && fsync(fd) == 0;
  int error = ok ? 0 : errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (ok && rename(temp.c_str(), target.c_str()) != 0) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    unlink(temp.c_str());
    return status_from_errno(error);
  }

  // The rename has happened; a failed flush of the directory cannot take it back, so it is not
  // reported.
  int dir = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return kErrorSuccess;
}

}  // namespace

struct FileRegistry::State {
  struct OpenKey {
    RegistryKey* key;
    KeyAccess access;
    bool open;
  };

  std::string path;
  bool loaded = false;
  bool bad = false;
  RegistryTree tree;
  // Handle n is entry n - 1; entries are never reused, so a closed handle stays invalid.
  std::vector<OpenKey> handles;

  RegStatus ensure_loaded() {
    if (!loaded) {
      loaded = true;
      load();
    }
    return bad ? kErrorBadDb : kErrorSuccess;
  }

  void load() {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      // A file that exists but cannot be read must not be replaced by an empty registry.
      bad = errno != ENOENT;
      return;
    }
    bad = !read_registry(fd, &tree);
    close(fd);
    if (bad) tree = RegistryTree();
  }

  RegStatus save() { return save_file(path, tree); }

  OpenKey* lookup(KeyHandle handle) {
    if (handle == kNoKey || handle > handles.size()) return nullptr;
    OpenKey* entry = &handles[handle - 1];
    return entry->open ? entry : nullptr;
  }

  KeyHandle add_handle(RegistryKey* key, KeyAccess access) {
    handles.push_back(OpenKey{key, access, true});
    return handles.size();
  }

  // The key behind a handle that may change it: 6 for an unknown handle, 5 for a read-only one.
  RegStatus writable(KeyHandle handle, RegistryKey** key) {
    RegStatus status = ensure_loaded();
    if (status != kErrorSuccess) return status;
    OpenKey* entry = lookup(handle);
    if (entry == nullptr) return kErrorInvalidHandle;
    if (entry->access == KeyAccess::kRead) return kErrorAccessDenied;
    *key = entry->key;
    return kErrorSuccess;
  }
};

FileRegistry::FileRegistry(std::string host_path) : state_(std::make_unique<State>()) {
  state_->path = std::move(host_path);
}

FileRegistry::~FileRegistry() = default;

RegStatus FileRegistry::open_key(std::string_view path, KeyAccess access, KeyHandle* key) {
  if (key == nullptr) return kErrorInvalidParameter;
  *key = kNoKey;
  RegStatus status = state_->ensure_loaded();
  if (status != kErrorSuccess) return status;
  RegistryKey* found = RegistryTree::find(state_->tree.root(RegistryRoot::kLocalMachine), path);
  if (found == nullptr) return kErrorFileNotFound;
  *key = state_->add_handle(found, access);
  return kErrorSuccess;
}

RegStatus FileRegistry::create_key(KeyHandle parent, std::string_view subkey,
                                   std::string_view class_name, KeyHandle* key,
                                   std::uint32_t* disposition) {
  if (key == nullptr) return kErrorInvalidParameter;
  *key = kNoKey;
  RegistryKey* at = nullptr;
  RegStatus status = state_->writable(parent, &at);
  if (status != kErrorSuccess) return status;

  // Every component is checked before anything is created, so a bad path changes nothing.
  std::size_t start = 0;
  for (;;) {
    std::size_t sep = subkey.find('\\', start);
    std::string_view component =
        subkey.substr(start, sep == std::string_view::npos ? std::string_view::npos : sep - start);
    if (component.empty()) return kErrorFileNotFound;
    if (!RegistryTree::storable_key_name(component)) return kErrorInvalidParameter;
    if (sep == std::string_view::npos) break;
    start = sep + 1;
  }
  if (!RegistryTree::storable_name(class_name)) return kErrorInvalidParameter;

  std::vector<RegistryKey*> created;
  start = 0;
  for (;;) {
    std::size_t sep = subkey.find('\\', start);
    std::string_view component =
        subkey.substr(start, sep == std::string_view::npos ? std::string_view::npos : sep - start);
    RegistryKey* child = at->find_child(component);
    if (child == nullptr) {
      child = state_->tree.create_key(at, component);
      created.push_back(child);
    }
    at = child;
    if (sep == std::string_view::npos) break;
    start = sep + 1;
  }

  if (created.empty()) {
    if (disposition != nullptr) *disposition = kRegOpenedExistingKey;
    *key = state_->add_handle(at, KeyAccess::kAllAccess);
    return kErrorSuccess;
  }

  if (!class_name.empty()) RegistryTree::set_class(at, class_name);
  status = state_->save();
  if (status != kErrorSuccess) {
    for (auto it = created.rbegin(); it != created.rend(); ++it) {
      state_->tree.remove_leaf_key(*it);
    }
    return status;
  }
  if (disposition != nullptr) *disposition = kRegCreatedNewKey;
  *key = state_->add_handle(at, KeyAccess::kAllAccess);
  return kErrorSuccess;
}

RegStatus FileRegistry::query_value(KeyHandle key, std::string_view name, std::uint32_t* type,
                                    std::span<std::uint8_t> buffer, std::uint32_t* size) {
  RegStatus status = state_->ensure_loaded();
  if (status != kErrorSuccess) return status;
  State::OpenKey* entry = state_->lookup(key);
  if (entry == nullptr) return kErrorInvalidHandle;
  const RegistryValue* value = entry->key->find_value(name);
  if (value == nullptr) return kErrorFileNotFound;
  if (type != nullptr) *type = value->type;
  if (size != nullptr) *size = static_cast<std::uint32_t>(value->data.size());
  if (value->data.size() > buffer.size()) return kErrorMoreData;
  std::copy(value->data.begin(), value->data.end(), buffer.begin());
  return kErrorSuccess;
}

RegStatus FileRegistry::set_value(KeyHandle key, std::string_view name, std::uint32_t type,
                                  std::span<const std::uint8_t> data) {
  RegistryKey* at = nullptr;
  RegStatus status = state_->writable(key, &at);
  if (status != kErrorSuccess) return status;
  if (!RegistryTree::storable_name(name)) return kErrorInvalidParameter;

  const RegistryValue* old = at->find_value(name);
  bool existed = old != nullptr;
  RegistryValue previous = existed ? *old : RegistryValue{};
  RegistryTree::set_value(at, name, type, data);
  status = state_->save();
  if (status != kErrorSuccess) {
    if (existed) {
      RegistryTree::set_value(at, previous.name, previous.type, previous.data);
    } else {
      RegistryTree::delete_value(at, name);
    }
  }
  return status;
}

RegStatus FileRegistry::delete_value(KeyHandle key, std::string_view name) {
  RegistryKey* at = nullptr;
  RegStatus status = state_->writable(key, &at);
  if (status != kErrorSuccess) return status;
  std::size_t index = at->value_index(name);
  if (index == RegistryKey::npos) return kErrorFileNotFound;

  RegistryValue previous = at->values()[index];
  RegistryTree::delete_value(at, name);
  status = state_->save();
  if (status != kErrorSuccess) RegistryTree::insert_value(at, index, std::move(previous));
  return status;
}

void FileRegistry::close_key(KeyHandle key) {
  State::OpenKey* entry = state_->lookup(key);
  if (entry != nullptr) entry->open = false;
}

}  // namespace reg7140
