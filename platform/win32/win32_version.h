// The version queries of the running Windows.
#pragma once

#include "platform/version.h"

namespace reg7140 {

class Win32Version : public VersionSource {
 public:
  std::uint32_t get_version() override;
  bool get_version_ex(OsVersionInfo* info) override;
};

}  // namespace reg7140
