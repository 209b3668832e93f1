// The INF job, driven by the cases in tests/inf_cases. A case holds the INF file ("== inf"), the
// lines that only the patched copy has marked "+ ", and the report at level 9 ("== output"; level 1
// prints its message lines alone, level 0 nothing). Its fields: commits (whether the copy replaces
// the INF file), stored: lf (line ends as written, else CR LF), second run: unchanged, faults
// ("write 3 ENOSPC, close 2 EIO"), windir ("unset" or the value), old scratch (a read-only
// netzor.new already there) and scratch (the one expected: none, partial, or its content).
#include "inf/patch_inf.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "inf/inserted_text.h"
#include "platform/posix/posix_files.h"
#include "tests/capture_console.h"
#include "tests/fake_environment.h"
#include "tests/test_util.h"
#include "tests/virtual_files.h"

namespace reg7140 {
namespace {

using test::CaptureConsole;
using test::CaseFile;
using test::FakeEnvironment;
using test::FileOp;
using test::VirtualFiles;

constexpr std::string_view kInfPath = "C:\\WINDOWS\\inf\\netzor.inf";
constexpr std::string_view kNewPath = "C:\\WINDOWS\\inf\\netzor.new";

const std::vector<CaseFile>& all_cases() {
  static const std::vector<CaseFile> cases = test::load_cases("inf_cases", ".case");
  return cases;
}

const CaseFile& inf_case(std::string_view name) {
  for (const CaseFile& c : all_cases()) {
    if (c.name == name) return c;
  }
  ADD_FAILURE() << "no case " << name;
  return all_cases().front();
}

std::string crlf(std::string_view text) {
  std::string out;
  for (const char c : text) out += c == '\n' ? std::string_view("\r\n") : std::string_view(&c, 1);
  return out;
}

std::string override_block() {
  std::string block;
  for (std::size_t i = 0; i < kOverrideLineCount; ++i) block += override_line(i);
  return block + "\n";
}

struct Texts {
  std::string input;    // the INF file as stored
  std::string patched;  // the copy the job is to write: CR LF lines, up to the first Ctrl-Z
};

Texts split(const CaseFile& c) {
  Texts texts;
  const std::string annotated = c.section("inf");
  for (std::size_t start = 0; start < annotated.size();) {
    const std::size_t end = annotated.find('\n', start) + 1;
    const std::string line = annotated.substr(start, end - start);
    start = end;
    if (line.starts_with("+ <override block>")) {
      texts.patched += override_block();
    } else if (line.starts_with("+ ")) {
      texts.patched += test::expand(line.substr(2));
    } else {
      texts.input += test::expand(line);
      texts.patched += test::expand(line);
    }
  }
  texts.patched = crlf(texts.patched.substr(0, texts.patched.find('\x1A')));
  if (c.field("stored") != "lf") texts.input = crlf(texts.input);
  return texts;
}

std::string at_level(const std::string& detailed, int level) {
  if (level != 1) return level == 0 ? std::string() : detailed;
  std::string out;
  for (std::size_t start = 0; start < detailed.size();) {
    const std::size_t end = detailed.find('\n', start) + 1;
    if (!detailed.substr(start).starts_with("reg7140: Errorcode ")) {
      out += detailed.substr(start, end - start);
    }
    start = end;
  }
  return out;
}

std::string detailed(int code, std::string_view label, int line, std::string_view message) {
  return "reg7140: Errorcode " + std::to_string(code) + " returned from " + std::string(label) +
         " on line " + std::to_string(line) + "\n" + std::string(message) + "\n";
}

struct Outcome {
  std::string output;
  std::string inf;
  std::string scratch;
  bool scratch_exists = false;
};

Outcome run_job(VirtualFiles& files, int level, const char* windir = "C:\\WINDOWS") {
  FakeEnvironment environment;
  if (windir != nullptr) environment.set("WINDIR", windir);
  CaptureConsole console;
  patch_inf_file(files, environment, Reporter{console, level});
  EXPECT_EQ(files.open_handles(), 0u);
  const std::string directory = windir != nullptr ? windir : "";
  return Outcome{console.text, files.contents(directory + "\\inf\\netzor.inf"),
                 files.contents(directory + "\\inf\\netzor.new"),
                 files.exists(directory + "\\inf\\netzor.new")};
}

// The same on the host's files, with the INF file read-only.
Outcome run_on_host(const test::TempDir& dir, int level) {
  EXPECT_EQ(chmod((dir / "inf/netzor.inf").c_str(), 0444), 0);
  FakeEnvironment environment;
  environment.set("WINDIR", dir.path().string());
  PosixFiles files;
  CaptureConsole console;
  patch_inf_file(files, environment, Reporter{console, level});
  const auto inf = dir / "inf/netzor.inf";
  EXPECT_NE(std::filesystem::status(inf).permissions() & std::filesystem::perms::owner_write,
            std::filesystem::perms::none);
  return Outcome{console.text, test::read_file(inf), test::read_file(dir / "inf/netzor.new"),
                 std::filesystem::exists(dir / "inf/netzor.new")};
}

// A commit moves the copy into the INF file's place; otherwise the copy stays beside it, unless
// the case expects the scratch file to be missing ("none"), cut short ("partial") or as it was.
void expect_files(const Outcome& outcome, const Texts& texts, const CaseFile& c) {
  const bool commits = c.field("commits") == "yes";
  const std::string scratch = c.field("scratch");
  EXPECT_EQ(outcome.inf, commits ? texts.patched : texts.input);
  EXPECT_EQ(outcome.scratch_exists, !commits && scratch != "none");
  if (!commits && scratch.empty()) {
    EXPECT_EQ(outcome.scratch, texts.patched);
  } else if (scratch != "none" && scratch != "partial" && !scratch.empty()) {
    EXPECT_EQ(outcome.scratch, scratch);
  }
}

// Injected failures as a case lists them: "write 3 ENOSPC, close 2 EIO".
void inject(VirtualFiles& files, const std::string& faults) {
  const std::map<std::string, FileOp> ops = {
      {"open", FileOp::kOpen},          {"read", FileOp::kReadLine}, {"write", FileOp::kWrite},
      {"tell", FileOp::kTell},          {"seek", FileOp::kSeek},     {"close", FileOp::kClose},
      {"replace", FileOp::kReplaceFile}};
  std::istringstream in(faults);
  std::string op;
  int nth = 0;
  std::string error;
  while (in >> op >> nth >> error) {
    if (error.ends_with(",")) error.pop_back();
    files.fail_call(ops.at(op), nth, test::errno_of(error));
  }
}

class PatchInfCase : public testing::TestWithParam<CaseFile> {};

// Each case at every level on the in-memory disk, where its faults are injected, and where the
// INF file starts read-only in one run; and at level 9 on the host's files.
TEST_P(PatchInfCase, WritesTheCopyCommitsAndReports) {
  const CaseFile& c = GetParam();
  ASSERT_TRUE(c.field("commits") == "yes" || c.field("commits") == "no") << "commits: yes or no";
  const bool commits = c.field("commits") == "yes";
  const bool plain = !c.fields.contains("faults") && !c.fields.contains("windir") &&
                     !c.fields.contains("old scratch") && c.sections.contains("inf");
  const std::string windir = c.fields.contains("windir") ? c.field("windir") : "C:\\WINDOWS";
  const Texts texts = split(c);
  for (int level : {0, 1, 9}) {
    SCOPED_TRACE(testing::Message() << "level " << level);
    VirtualFiles files;
    const std::string inf_path = (windir == "unset" ? "" : windir) + "\\inf\\netzor.inf";
    if (c.sections.contains("inf")) files.put(inf_path, texts.input, plain && level == 0);
    if (c.fields.contains("old scratch")) files.put(kNewPath, c.field("old scratch"), true);
    inject(files, c.field("faults"));
    const Outcome outcome = run_job(files, level, windir == "unset" ? nullptr : windir.c_str());
    expect_files(outcome, texts, c);
    EXPECT_EQ(files.exists(inf_path), c.sections.contains("inf"));
    if (plain) {
      EXPECT_FALSE(files.find(inf_path)->read_only);
    }
    EXPECT_EQ(outcome.output, at_level(c.section("output"), level));

    // A committed file has both entries: running again changes nothing.
    if (commits && c.field("second run") == "unchanged") {
      const Outcome second = run_job(files, level);
      EXPECT_EQ(second.output, "");
      EXPECT_EQ(second.inf, texts.patched);
      EXPECT_EQ(second.scratch, texts.patched);
    }
  }
  if (!plain) return;
  SCOPED_TRACE("host files");
  test::TempDir dir;
  test::write_file(dir / "inf/netzor.inf", texts.input);
  const Outcome outcome = run_on_host(dir, 9);
  expect_files(outcome, texts, c);
  EXPECT_EQ(outcome.output, c.section("output"));
}

INSTANTIATE_TEST_SUITE_P(Inf, PatchInfCase, testing::ValuesIn(all_cases()),
                         [](const auto& param_info) { return param_info.param.name; });

// The report a failure of write `n` gives, judged by what that write carried.
std::string write_failure_report(const std::vector<std::string>& writes, std::size_t n) {
  const std::string_view override_info = "Could not write override info to netzor.new file.";
  const std::string_view new_key = "Could not write new key to netzor.new file.";
  const std::string& text = writes[n];
  const std::string previous = n > 0 ? writes[n - 1] : "";
  for (std::size_t i = 0; i < kOverrideLineCount; ++i) {
    if (text == override_line(i)) return detailed(EIO, "fputs", 636, override_info);
  }
  if (text == "\n" && previous == override_line(kOverrideLineCount - 1)) {
    return detailed(EIO, "fputs", 642, override_info);
  }
  if (text == kMemoryBaseLine) return detailed(EIO, "fputs", 763, new_key);
  if (text == "\n" && previous == kMemoryBaseLine) return detailed(EIO, "fputs", 768, new_key);
  return detailed(EIO, "fputs", 793, "Could not write data to netzor.new file.");
}

// Every call of each kind fails in turn, on an INF file where both insertions rewind: the INF file
// stays as it was, and each write site reports its own line.
TEST(PatchInf, FailureAtEachCallLeavesTheInfFile) {
  const std::string input = split(inf_case("comment_in_first_reg_section")).input;
  VirtualFiles clean;
  clean.put(kInfPath, input);
  ASSERT_EQ(run_job(clean, 9).output, "");
  const struct {
    FileOp op;
    std::string printed;  // empty: judged by the write's text
  } kinds[] = {
      {FileOp::kWrite, ""},
      {FileOp::kTell, detailed(EIO, "fseek", 600, "Could not reposition netzor.new file.")},
      {FileOp::kSeek, detailed(EIO, "fseek", 600, "Could not reposition netzor.new file.")},
      {FileOp::kReadLine, detailed(EIO, "fgets", 506, "Unexpected end of file.")},
  };
  std::string reports;
  for (const auto& kind : kinds) {
    const int count = clean.calls(kind.op);
    ASSERT_GT(count, 0);
    for (int n = 1; n <= count; ++n) {
      SCOPED_TRACE(testing::Message()
                   << "call " << n << " of " << count << " of kind " << static_cast<int>(kind.op));
      VirtualFiles files;
      files.put(kInfPath, input);
      files.fail_call(kind.op, n, EIO);
      const Outcome outcome = run_job(files, 9);
      EXPECT_EQ(outcome.inf, input);
      EXPECT_EQ(outcome.output, kind.printed.empty()
                                    ? write_failure_report(clean.write_log(), n - 1)
                                    : kind.printed);
      reports += outcome.output;
    }
  }
  for (const int line : {636, 642, 763, 768, 793}) {
    EXPECT_NE(reports.find("on line " + std::to_string(line) + "\n"), std::string::npos) << line;
  }
}

}  // namespace
}  // namespace reg7140
