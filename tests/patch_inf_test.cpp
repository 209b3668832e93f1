// The INF job on real files, driven by tests/data/inf_cases.txt: each case is the sample machine's
// INF file with a few lines edited, and names what the patched copy adds, the report, whether the
// copy replaces the INF file, and the faults to inject.
#include "inf/patch_inf.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "inf/inserted_text.h"
#include "platform/posix/posix_files.h"
#include "tests/capture_console.h"
#include "tests/fault.h"
#include "tests/inf_property.h"
#include "tests/test_util.h"

namespace reg7140 {
namespace {

struct InfCase : test::CaseFile {
  std::vector<std::string> lines;  // with "> override" and "> memory" where the copy adds them
};

void PrintTo(const InfCase& c, std::ostream* out) { *out << c.name; }

// The cases, each the sample's lines edited as it says.
const std::vector<InfCase>& all_cases() {
  static const std::vector<InfCase> cases = [] {
    std::vector<std::string> lines;
    std::istringstream sample(test::read_file(REG7140_SOURCE_DIR "/sample/WINDOWS/inf/netzor.inf"));
    for (std::string line; std::getline(sample, line);)
      lines.push_back(line.erase(line.size() - 1));
    std::vector<InfCase> loaded;
    std::istringstream in(test::read_file(test::data_path("data/inf_cases.txt")));
    std::size_t at = 0;
    for (std::string line; std::getline(in, line);) {
      const std::string text = line.substr(std::min<std::size_t>(2, line.size()));
      if (line.starts_with("== ")) {
        loaded.push_back({{text.substr(1), {}, {}}, lines});
        at = 0;
      } else if (line.starts_with("=") || line.starts_with("-")) {
        auto& edited = loaded.back().lines;
        at = std::find(edited.begin() + at, edited.end(), text) - edited.begin();
        if (at == edited.size()) throw std::runtime_error(loaded.back().name + ": no line " + line);
        if (line[0] == '-') edited.erase(edited.begin() + at);
        at += line[0] == '=';
      } else if (line.starts_with("+") || line.starts_with(">")) {
        loaded.back().lines.insert(loaded.back().lines.begin() + at++,
                                   line[0] == '>' ? line : text);
      } else if (line.starts_with("$")) {
        loaded.back().lines.resize(at);
      } else if (const auto colon = line.find(": "); colon != line.npos && line[0] != '#') {
        loaded.back().fields[line.substr(0, colon)] = line.substr(colon + 2);
      }
    }
    return loaded;
  }();
  return cases;
}

std::string crlf(std::string_view text) {
  std::string out;
  for (const char c : text) out += c == '\n' ? std::string_view("\r\n") : std::string_view(&c, 1);
  return out;
}

struct Outcome {
  std::string printed, inf, scratch;  // scratch: "none" when there is no netzor.new
  std::vector<std::string> writes;
};

// A Windows directory of its own, of `length` characters when given, with the INF file and any
// old scratch file, both read-only.
struct Machine {
  explicit Machine(const std::string& inf, std::size_t length = 0, const std::string& old = "") {
    if (length > 0) windir /= std::string(length - windir.string().size() - 1, 'x');
    if (!inf.empty()) test::write_file(windir / "inf/netzor.inf", inf);
    if (!old.empty()) test::write_file(windir / "inf/netzor.new", old);
    chmod((windir / "inf/netzor.inf").c_str(), 0444);
    chmod((windir / "inf/netzor.new").c_str(), 0444);
  }

  // One run at `level`, faults as a case lists them ("write 3 ENOSPC close 2 EIO") and WINDIR
  // "unset", "empty" or else the directory.
  Outcome run(int level, const std::string& faults = "", const std::string& setting = "",
              test::Fault* fault = nullptr) {
    PosixFiles host;
    test::Fault listed;
    std::istringstream list(faults);
    std::string kind, error, first = "EIO";  // the first listed error stands for all
    for (int nth; list >> kind >> nth >> error;) {
      listed.also.insert(kind + " " + std::to_string(nth));
      first = listed.also.size() == 1 ? error : first;
    }
    test::FaultFiles files(host, fault != nullptr ? *fault : listed, test::errno_of(first));
    const std::string path = windir.string();
    test::WindirEnvironment environment(setting == "unset"   ? nullptr
                                        : setting == "empty" ? ""
                                                             : path.c_str());
    test::CaptureConsole console;
    patch_inf_file(files, environment, Reporter{console, level});
    EXPECT_TRUE(files.open.empty());
    const auto scratch = windir / "inf/netzor.new";
    return {console.text, test::read_file(windir / "inf/netzor.inf"),
            std::filesystem::exists(scratch) ? test::read_file(scratch) : "none", files.writes};
  }

  test::TempDir dir;
  std::filesystem::path windir = dir.path();
};

// The case's INF file as stored and the copy the job is to write.
std::pair<std::string, std::string> texts(const InfCase& c) {
  std::string block, input, patched;
  for (std::size_t i = 0; i < kOverrideLineCount; ++i) block += override_line(i);
  for (const std::string& line : c.lines) {
    if (!line.starts_with("> ")) input += test::expand(line + "\n");
    patched += crlf(line == "> override" ? block + "\n"
                    : line == "> memory" ? std::string(kMemoryBaseLine) + "\n"
                                         : test::expand(line + "\n"));
  }
  return {c.field("stored") == "lf" ? input : crlf(input), patched.substr(0, patched.find('\x1A'))};
}

// What a report prints at `level`: all of it at 9, its message line at 1, nothing at 0.
std::string printed(const std::string& field, int level) {
  const std::string report = test::expand(field);
  return level == 0 ? "" : level == 1 ? report.substr(report.find('\n') + 1) : report;
}

class InfJob : public testing::TestWithParam<InfCase> {};

TEST_P(InfJob, CopiesInsertsCommitsAndReports) {
  const InfCase& c = GetParam();
  const auto [input, patched] = texts(c);
  const bool commits = c.field("commits") == "yes";
  const std::string windir = c.field("windir"), scratch = c.field("scratch");
  // Only a report differs from level to level.
  for (const int level : {9, 1, 0}) {
    if (level != 9 && !c.fields.contains("report")) break;
    SCOPED_TRACE(testing::Message() << "level " << level);
    Machine machine(input, std::isdigit(windir[0]) ? std::stoul(windir) : 0,
                    c.field("old scratch"));
    const Outcome out = machine.run(level, c.field("faults"), windir);
    EXPECT_EQ(out.printed, printed(c.field("report"), level));
    EXPECT_EQ(out.inf, commits ? patched : input);
    EXPECT_EQ(out.scratch, commits ? "none" : scratch.empty() ? patched : test::expand(scratch));
    const auto mode = std::filesystem::status(machine.windir / "inf/netzor.inf").permissions();
    EXPECT_TRUE(input.empty() || !windir.empty() ||
                int(mode & std::filesystem::perms::owner_write));
    if (!commits || c.field("second run") == "differs") continue;
    // The committed file holds both entries: a second run finds them and changes nothing.
    const Outcome again = machine.run(9);
    EXPECT_EQ(again.printed, "");
    EXPECT_EQ(again.inf + again.scratch, patched + patched);
  }
  // Every call fails in turn as the "fails" fields say; a write by what it carries: a copied line,
  // a line of the block, the empty line after it, the memory-base line or its line feed.
  if (!c.fields.contains("fails read")) return;
  test::each_fault([&](test::Fault& fault) {
    Machine machine(input);
    const Outcome out = machine.run(9, "", "", &fault);
    if (fault.failed.empty()) return;
    const std::string kind = fault.failed.substr(0, fault.failed.find(' '));
    const auto is = [&](std::string_view text, std::size_t back) {
      return out.writes.size() >= back && out.writes[out.writes.size() - back] == text;
    };
    bool block = false;
    for (std::size_t i = 0; i < kOverrideLineCount; ++i) block = block || is(override_line(i), 1);
    const char* carried = kind != "write"                         ? ""
                          : is(kMemoryBaseLine, 1)                ? " memory"
                          : is("\n", 1) && is(kMemoryBaseLine, 2) ? " after memory"
                          : is("\n", 1) && is(override_line(kOverrideLineCount - 1), 2)
                              ? " after override"
                          : block ? " override"
                                  : "";
    const std::string key = "fails " + kind + carried, nth = "fails " + fault.failed;
    const std::string expected = c.field(c.fields.contains(nth) ? nth : key);
    SCOPED_TRACE(fault.failed);
    EXPECT_EQ(out.printed, printed(expected == "commits" ? "" : expected, 9));
    EXPECT_EQ(out.inf, expected == "commits" ? patched : input);
  });
}

INSTANTIATE_TEST_SUITE_P(Inf, InfJob, testing::ValuesIn(all_cases()),
                         [](const auto& param_info) { return param_info.param.name; });

// The property the fuzzer checks, over the cases' files with bytes that matter put in at random.
TEST(InfJob, KeepsEveryByteOfAnyFile) {
  std::mt19937 random(7140);
  test::TempDir dir;
  for (const InfCase& c : all_cases()) {
    std::string input = texts(c).first;
    for (int i = 0; i < 4 && !input.empty(); ++i) {
      ASSERT_EQ(test::check_inf_property(input, dir.path()), "") << c.name << " " << i;
      input.insert(random() % input.size(), 1, "\r\n\x1A[;="[random() % 6]);
    }
  }
}

}  // namespace
}  // namespace reg7140
