// The INF job on any netzor.inf, on real files: it may add its two blocks, each once at a line
// start, but must never lose, reorder or alter a byte of the file's text, and must leave the file
// untouched when it does not commit.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>

#include "fuzz/fuzz_check.h"
#include "inf/inserted_text.h"
#include "inf/patch_inf.h"
#include "platform/posix/posix_files.h"

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
    if ((at == 0 || with[at - 1] == '\n') &&
        inserted(with.substr(0, at) + with.substr(at + inserts[0].size()), without,
                 inserts.subspan(1)))
      return true;
  }
  return inserted(with, without, inserts.subspan(1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A Windows directory of the run's own, on a memory file system where there is one: a commit
  // flushes the file and its directory.
  static const std::filesystem::path windir = [] {
    std::string name =
        std::filesystem::exists("/dev/shm") ? "/dev/shm/fuzz-inf-XXXXXX" : "/tmp/fuzz-inf-XXXXXX";
    FUZZ_CHECK(mkdtemp(name.data()) != nullptr);
    std::filesystem::create_directories(std::filesystem::path(name) / "inf");
    return std::filesystem::path(name);
  }();
  struct : reg7140::Environment, reg7140::Console {
    const char* get_env(const char*) override { return dir.c_str(); }
    std::string_view program_file() override { return ""; }
    void write(std::string_view) override {}
    std::string dir = windir.string();
  } host;
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::filesystem::remove(windir / "inf/netzor.new");
  std::ofstream(windir / "inf/netzor.inf", std::ios::binary) << input;
  reg7140::PosixFiles files;
  reg7140::patch_inf_file(files, host, reg7140::Reporter{host, reg7140::kDetailedLevel});
  std::string block;
  for (std::size_t i = 0; i < reg7140::kOverrideLineCount; ++i) block += reg7140::override_line(i);
  const std::string inserts[] = {text_mode_copy(block + "\n"),
                                 text_mode_copy(std::string(reg7140::kMemoryBaseLine) + "\n")};
  std::ifstream in(windir / "inf/netzor.inf", std::ios::binary);
  const std::string result{std::istreambuf_iterator<char>(in), {}};
  // A commit moves the copy into the INF file's place; else the copy stays beside it.
  if (std::filesystem::exists(windir / "inf/netzor.new")) {
    FUZZ_CHECK(result == input);
  } else {
    FUZZ_CHECK(result != text_mode_copy(input) && inserted(result, text_mode_copy(input), inserts));
  }
  return 0;
}
