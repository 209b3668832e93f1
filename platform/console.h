#pragma once

#include <string_view>

namespace reg7140 {

// Standard output. A failed write is not reported: nothing in a run depends on it.
class Console {
 public:
  virtual ~Console() = default;
  virtual void write(std::string_view text) = 0;
};

}  // namespace reg7140
