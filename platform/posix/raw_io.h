// Reads and writes on a host file descriptor, retried where a signal cut them short.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string_view>

namespace reg7140 {

// What read(2) gives, retried after a signal.
ssize_t read_retrying(int fd, char* data, std::size_t size);

// Stores all of `bytes`: 0, or errno (ENOSPC for a write that stores nothing and tells no
// error). `written`, when given, receives how many bytes were stored.
int write_all(int fd, std::string_view bytes, std::size_t* written = nullptr);

}  // namespace reg7140
