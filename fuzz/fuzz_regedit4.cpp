// Any text that the REGEDIT4 reader accepts must read the same in whatever pieces it arrives, and
// survive a write and a second read unchanged: the registry file is rewritten after every change,
// so a lossy writer would corrupt it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "platform/posix/regedit4.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  reg7140::RegistryTree tree;
  const bool parsed = reg7140::parse_regedit4(text, &tree);

  // The file is read in pieces, and a read may return fewer bytes than asked for: wherever the
  // pieces end, the same text must give the same tree.
  std::size_t offset = 0;
  std::size_t turn = 0;
  const reg7140::TextSource short_reads = [&](std::span<char> buffer) {
    const std::size_t wanted = size == 0 ? 1 : 1 + data[turn++ % size] % 16;
    const std::size_t n = std::min({buffer.size(), text.size() - offset, wanted});
    std::copy_n(text.data() + offset, n, buffer.data());
    offset += n;
    return static_cast<long>(n);
  };
  reg7140::RegistryTree pieced;
  FUZZ_CHECK(reg7140::parse_regedit4(short_reads, &pieced) == parsed);
  if (!parsed) return 0;
  const std::string written = tree.write();
  FUZZ_CHECK(pieced.write() == written);

  reg7140::RegistryTree reread;
  std::size_t error_line = 0;
  const bool reparsed = reg7140::parse_regedit4(written, &reread, &error_line);
  if (!reparsed) std::fprintf(stderr, "written text malformed at line %zu\n", error_line);
  FUZZ_CHECK(reparsed);
  FUZZ_CHECK(reg7140::canonical_dump(reread) == reg7140::canonical_dump(tree));
  FUZZ_CHECK(reread.write() == written);
  return 0;
}
