// Any text that the REGEDIT4 reader accepts must survive a write and a second read unchanged:
// the registry file is rewritten after every change, so a lossy writer would corrupt it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "platform/posix/regedit4.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  reg7140::RegistryTree tree;
  if (!reg7140::parse_regedit4(text, &tree)) return 0;

  const std::string written = tree.write();
  reg7140::RegistryTree reread;
  std::size_t error_line = 0;
  const bool reparsed = reg7140::parse_regedit4(written, &reread, &error_line);
  if (!reparsed) std::fprintf(stderr, "written text malformed at line %zu\n", error_line);
  FUZZ_CHECK(reparsed);
  FUZZ_CHECK(reg7140::canonical_dump(reread) == reg7140::canonical_dump(tree));
  FUZZ_CHECK(reread.write() == written);
  return 0;
}
