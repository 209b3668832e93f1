// The INF job on any netzor.inf, on real files, for a test over generated files and for the
// fuzzer: it may add its two blocks, each once at a line start, but must never lose, reorder or
// alter a byte of the file's text, and must leave the file untouched when it does not commit.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <string>

#include "app/report.h"
#include "inf/inserted_text.h"
#include "inf/patch_inf.h"
#include "platform/posix/posix_files.h"

namespace reg7140::test {

// The text as a text-mode read and write pass it on: up to the first 0x1A, every LF as CR LF.
inline std::string text_mode_copy(std::string_view bytes) {
  std::string out;
  for (std::size_t i = 0; i < bytes.size() && bytes[i] != '\x1A'; ++i) {
    if (bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r')) out += '\r';
    out += bytes[i];
  }
  return out;
}

// Whether `with` is `without` with some of `inserts`, each at most once, at line starts.
inline bool inserted(const std::string& with, const std::string& without,
                     std::span<const std::string> inserts) {
  if (with == without || inserts.empty()) return with == without;
  for (auto at = with.find(inserts[0]); at != with.npos; at = with.find(inserts[0], at + 1)) {
    const std::string rest = with.substr(0, at) + with.substr(at + inserts[0].size());
    if ((at == 0 || with[at - 1] == '\n') && inserted(rest, without, inserts.subspan(1)))
      return true;
  }
  return inserted(with, without, inserts.subspan(1));
}

// "" when the property holds for `input` as the INF file under `windir`, else what broke it.
inline std::string check_inf_property(const std::string& input,
                                      const std::filesystem::path& windir) {
  struct : Environment, Console {
    const char* get_env(const char*) override { return dir.c_str(); }
    std::string_view program_file() override { return ""; }
    void write(std::string_view) override {}
    std::string dir;
  } host;
  host.dir = windir.string();
  std::filesystem::remove(windir / "inf/netzor.new");
  std::filesystem::create_directories(windir / "inf");
  std::ofstream(windir / "inf/netzor.inf", std::ios::binary) << input;
  PosixFiles files;
  patch_inf_file(files, host, Reporter{host, kDetailedLevel});
  std::string block;
  for (std::size_t i = 0; i < kOverrideLineCount; ++i) block += override_line(i);
  const std::string inserts[] = {text_mode_copy(block + "\n"),
                                 text_mode_copy(std::string(kMemoryBaseLine) + "\n")};
  std::ifstream in(windir / "inf/netzor.inf", std::ios::binary);
  const std::string result{std::istreambuf_iterator<char>(in), {}};
  // A commit moves the copy into the INF file's place; else the copy stays beside it.
  if (std::filesystem::exists(windir / "inf/netzor.new")) {
    return result == input ? "" : "the INF file changed without a commit";
  }
  return result != text_mode_copy(input) && inserted(result, text_mode_copy(input), inserts)
             ? ""
             : "the committed file is not the text with the blocks added";
}

}  // namespace reg7140::test
