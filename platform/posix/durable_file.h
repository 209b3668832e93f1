// A file written beside its destination and renamed over it once it is on disk, so that the
// destination holds at every moment its old or its new content, never a part of either.
#pragma once

#include <string>
#include <string_view>

namespace reg7140 {

class DurableFile {
 public:
  DurableFile() = default;
  DurableFile(const DurableFile&) = delete;
  DurableFile& operator=(const DurableFile&) = delete;
  // A temporary file that was not committed is removed.
  ~DurableFile();

  // Creates the temporary file in the directory of `destination`, or of the file it names when
  // it is a symbolic link: the link stays a link. 0 or errno.
  int create(const std::string& destination);
  // The temporary file, for setting its mode, owner or times before the commit.
  int fd() const { return fd_; }
  // Stores all of `bytes`: 0 or errno.
  int write(std::string_view bytes);
  // Flushes the file, renames it over the destination and flushes the directory: 0 or errno.
  // A failed flush of the directory is not reported: the new content is in place by then.
  int commit();

 private:
  void discard();

  std::string target_;
  std::string temp_;
  int fd_ = -1;
};

// Puts the file `from` in the place of `to` the same way: `from` flushed, renamed over `to`, the
// directory flushed. 0 or errno.
int replace_durably(const std::string& from, const std::string& to);

}  // namespace reg7140
