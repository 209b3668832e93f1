// The INF job on any netzor.inf, on real files: it may add its two blocks, each once at a line
// start, but must never lose, reorder or alter a byte of the file's text, and must leave the file
// untouched when it does not commit.
#include <span>

#include "fuzz/fuzz_check.h"
#include "inf/inserted_text.h"
#include "inf/patch_inf.h"
#include "tests/fault.h"
#include "tests/test_util.h"

namespace {

// The text as a text-mode read and write pass it on: up to the first 0x1A, every LF as CR LF.
std::string text_mode_copy(std::string_view bytes) {
  std::string out;
  for (std::size_t i = 0; i < bytes.size() && bytes[i] != '\x1A'; ++i)
    out += bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r') ? "\r\n" : std::string(1, bytes[i]);
  return out;
}

// Whether `with` is `without` with some of `inserts`, each at most once, at line starts.
bool inserted(const std::string& with, const std::string& without,
              std::span<const std::string> inserts) {
  if (with == without || inserts.empty()) return with == without;
  for (auto at = with.find(inserts[0]); at != with.npos; at = with.find(inserts[0], at + 1)) {
    const std::string rest = with.substr(0, at) + with.substr(at + inserts[0].size());
    if ((at == 0 || with[at - 1] == '\n') && inserted(rest, without, inserts.subspan(1)))
      return true;
  }
  return inserted(with, without, inserts.subspan(1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace reg7140;
  // A Windows directory of the run's own, on a memory file system where there is one: a commit
  // flushes the file and its directory.
  static std::string windir =
      std::filesystem::exists("/dev/shm") ? "/dev/shm/fuzz-inf-XXXXXX" : "/tmp/fuzz-inf-XXXXXX";
  static const bool made = mkdtemp(windir.data()) != nullptr;
  FUZZ_CHECK(made);
  const std::string input(reinterpret_cast<const char*>(data), size), copy = text_mode_copy(input);
  std::filesystem::remove(windir + "/inf/netzor.new");
  test::write_file(windir + "/inf/netzor.inf", input);
  PosixFiles files;
  test::Host host(windir.c_str());
  patch_inf_file(files, host, Reporter{host, kDetailedLevel});
  std::string block;
  for (std::size_t i = 0; i < kOverrideLineCount; ++i) block += override_line(i);
  const std::string inserts[] = {text_mode_copy(block + "\n"),
                                 text_mode_copy(std::string(kMemoryBaseLine) + "\n")};
  const std::string result = test::read_file(windir + "/inf/netzor.inf");
  // A commit moves the copy into the INF file's place; else the copy stays beside it.
  FUZZ_CHECK(std::filesystem::exists(windir + "/inf/netzor.new")
                 ? result == input
                 : result != copy && inserted(result, copy, inserts));
  return 0;
}
