// The INF job on any netzor.inf: it may add its two blocks, but must never lose, reorder or
// alter a byte of the file's text, and must leave the file untouched when it does not commit.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "inf/inserted_text.h"
#include "inf/patch_inf.h"
#include "tests/capture_console.h"
#include "tests/fake_environment.h"
#include "tests/virtual_files.h"

namespace {

using namespace reg7140;

constexpr std::string_view kInfPath = "C:\\WINDOWS\\inf\\netzor.inf";
constexpr std::string_view kNewPath = "C:\\WINDOWS\\inf\\netzor.new";

// The text as a text-mode read and write pass it on: it ends at the first 0x1A, and every line
// feed is stored as CR LF.
std::string text_mode_copy(std::string_view bytes) {
  bytes = bytes.substr(0, bytes.find('\x1A'));
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r')) out += '\r';
    out += bytes[i];
  }
  return out;
}

// Whether `with` is `without` with `block` inserted at the start of one of its lines.
bool inserted_once(std::string_view with, std::string_view without, std::string_view block) {
  if (with.size() != without.size() + block.size()) return false;
  std::size_t prefix = 0;
  while (prefix < without.size() && with[prefix] == without[prefix]) ++prefix;
  std::size_t suffix = 0;
  while (suffix < without.size() &&
         with[with.size() - 1 - suffix] == without[without.size() - 1 - suffix]) {
    ++suffix;
  }
  for (std::size_t at = without.size() - suffix; at <= prefix; ++at) {
    if ((at == 0 || with[at - 1] == '\n') && with.substr(at, block.size()) == block) return true;
  }
  return false;
}

// Whether `with` is `without` with the override block and then the memory-base line inserted.
bool inserted_both(std::string_view with, std::string_view without, std::string_view override_block,
                   std::string_view memory_base) {
  for (std::size_t at = with.find(memory_base); at != std::string_view::npos;
       at = with.find(memory_base, at + 1)) {
    std::string rest(with.substr(0, at));
    rest += with.substr(at + memory_base.size());
    if ((at == 0 || with[at - 1] == '\n') && inserted_once(rest, without, override_block)) {
      return true;
    }
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  test::VirtualFiles files;
  files.put(kInfPath, input);
  test::FakeEnvironment environment;
  environment.set("WINDIR", "C:\\WINDOWS");
  test::CaptureConsole console;
  const Reporter reporter{console, kDetailedLevel};

  patch_inf_file(files, environment, reporter);

  FUZZ_CHECK(files.open_handles() == 0);
  const std::string result = files.contents(kInfPath);
  if (files.exists(kNewPath)) {
    FUZZ_CHECK(result == input);
    return 0;
  }
  // Committed: the scratch copy took the INF file's place.
  FUZZ_CHECK(files.calls(test::FileOp::kReplaceFile) == 1);
  std::string override_block;
  for (std::size_t i = 0; i < kOverrideLineCount; ++i) override_block += override_line(i);
  override_block = text_mode_copy(override_block + "\n");
  const std::string memory_base = text_mode_copy(std::string(kMemoryBaseLine) + "\n");
  const std::string original = text_mode_copy(input);
  FUZZ_CHECK(inserted_once(result, original, override_block) ||
             inserted_once(result, original, memory_base) ||
             inserted_both(result, original, override_block, memory_base));
  return 0;
}
