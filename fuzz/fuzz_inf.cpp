// The INF job on any netzor.inf, on real files: it may add its two blocks, but must never lose,
// reorder or alter a byte of the file's text, and must leave the file untouched when it does not
// commit.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <span>
#include <string>

#include "fuzz/fuzz_check.h"
#include "inf/inserted_text.h"
#include "inf/patch_inf.h"
#include "platform/posix/posix_files.h"
#include "tests/capture_console.h"
#include "tests/fake_environment.h"
#include "tests/fault_files.h"
#include "tests/test_util.h"

namespace {

using namespace reg7140;

// The text as a text-mode read and write pass it on: up to the first 0x1A, every line feed stored
// as CR LF.
std::string text_mode_copy(std::string_view bytes) {
  std::string out;
  for (std::size_t i = 0; i < bytes.size() && bytes[i] != '\x1A'; ++i) {
    if (bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r')) out += '\r';
    out += bytes[i];
  }
  return out;
}

// Whether `with` is `without` with some of `inserts`, each at most once, at line starts.
bool inserted(const std::string& with, const std::string& without,
              std::span<const std::string> inserts) {
  if (with == without || inserts.empty()) return with == without;
  for (std::size_t at = with.find(inserts[0]); at != with.npos;
       at = with.find(inserts[0], at + 1)) {
    const std::string rest = with.substr(0, at) + with.substr(at + inserts[0].size());
    if ((at == 0 || with[at - 1] == '\n') && inserted(rest, without, inserts.subspan(1))) {
      return true;
    }
  }
  return inserted(with, without, inserts.subspan(1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A Windows directory of the run's own, on a memory file system where there is one: a commit
  // flushes the file and its directory.
  static const std::filesystem::path windir = [] {
    std::string name = std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp";
    name += "/fuzz-inf-XXXXXX";
    if (mkdtemp(name.data()) == nullptr) std::abort();
    return std::filesystem::path(name);
  }();
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::filesystem::remove(windir / "inf/netzor.new");
  test::write_file(windir / "inf/netzor.inf", input);
  PosixFiles host;
  test::FaultFiles files(host);
  test::FakeEnvironment environment;
  environment.set("WINDIR", windir.string());
  test::CaptureConsole console;

  patch_inf_file(files, environment, Reporter{console, kDetailedLevel});

  FUZZ_CHECK(files.open.empty());
  std::string block;
  for (std::size_t i = 0; i < kOverrideLineCount; ++i) block += override_line(i);
  const std::string inserts[] = {text_mode_copy(block + "\n"),
                                 text_mode_copy(std::string(kMemoryBaseLine) + "\n")};
  const std::string result = test::read_file(windir / "inf/netzor.inf"),
                    text = text_mode_copy(input);
  // A commit moves the copy into the INF file's place; else the copy stays beside it.
  FUZZ_CHECK(std::filesystem::exists(windir / "inf/netzor.new")
                 ? result == input
                 : result != text && inserted(result, text, inserts));
  return 0;
}
