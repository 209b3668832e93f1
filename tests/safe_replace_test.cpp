// Replacing and copying files the Windows way, run against an in-memory file system that can
// answer like Windows 95 (no replacing move) and fail any step on demand.
#include "platform/safe_replace.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace reg7140 {
namespace {

constexpr const char* kInf = "C:\\WINDOWS\\inf\\netzor.inf";
constexpr const char* kScratch = "C:\\WINDOWS\\inf\\netzor.new";
constexpr const char* kBackup = "C:\\WINDOWS\\inf\\netzor.b00";
constexpr const char* kSource = "A:\\zvnd32.sys";
constexpr const char* kDriver = "C:\\WINDOWS\\system\\zvnd32.sys";
constexpr const char* kDriverCopy = "C:\\WINDOWS\\system\\zvnd32.t00";

class FakeFileSystem : public FileSystemOps {
 public:
  std::map<std::string, std::string> files;
  std::vector<std::string> log;
  // What MoveFileExA answers; 0 moves the file.
  unsigned long move_error = 0;
  // Paths whose rename away, or whose deletion, fails.
  std::set<std::string> rename_fails_from;
  std::set<std::string> remove_fails;
  // What the command interpreter does with a copy command: by default it copies.
  std::function<void(const std::string& from, const std::string& to)> interpreter_copy =
      [this](const std::string& from, const std::string& to) { files[to] = files.at(from); };

  unsigned long move_replacing(const char* from, const char* to) override {
    log.push_back(std::string("move ") + from + " " + to);
    if (move_error != 0) return move_error;
    if (!files.contains(from)) return kWinErrorFileNotFound;
    files[to] = files[from];
    files.erase(from);
    return 0;
  }
  int rename(const char* from, const char* to) override {
    log.push_back(std::string("rename ") + from + " " + to);
    if (rename_fails_from.contains(from)) return EACCES;
    if (!files.contains(from)) return ENOENT;
    if (files.contains(to)) return EACCES;
    files[to] = files[from];
    files.erase(from);
    return 0;
  }
  int remove(const char* path) override {
    log.push_back(std::string("remove ") + path);
    if (remove_fails.contains(path)) return EACCES;
    return files.erase(path) == 1 ? 0 : ENOENT;
  }
  bool file_size(const char* path, std::int64_t* size) override {
    auto found = files.find(path);
    if (found == files.end()) return false;
    *size = static_cast<std::int64_t>(found->second.size());
    return true;
  }
  void flush(const char* path) override { log.push_back(std::string("flush ") + path); }
  void run_command(const char* command) override {
    log.push_back(std::string("run ") + command);
    // copy "<from>" "<to>" > NUL
    const std::string text(command);
    const std::size_t a = text.find('"');
    const std::size_t b = text.find('"', a + 1);
    const std::size_t c = text.find('"', b + 1);
    const std::size_t d = text.find('"', c + 1);
    ASSERT_NE(d, std::string::npos) << command;
    interpreter_copy(text.substr(a + 1, b - a - 1), text.substr(c + 1, d - c - 1));
  }

  std::map<std::string, std::string> snapshot() const { return files; }
  bool ran_anything() const {
    for (const std::string& entry : log) {
      if (entry.starts_with("run ")) return true;
    }
    return false;
  }
};

// --- replace_file_via ---

TEST(SafeReplace, UsesTheReplacingMoveWhereTheSystemHasIt) {
  FakeFileSystem fs;
  fs.files = {{kInf, "old"}, {kScratch, "new"}};
  EXPECT_EQ(replace_file_via(fs, kScratch, kInf), 0);
  EXPECT_EQ(fs.files, (std::map<std::string, std::string>{{kInf, "new"}}));
  EXPECT_EQ(fs.log, (std::vector<std::string>{std::string("flush ") + kScratch,
                                              std::string("move ") + kScratch + " " + kInf}));
}

struct MoveErrorCase {
  unsigned long windows_error;
  int expected_errno;
};

void PrintTo(const MoveErrorCase& c, std::ostream* out) { *out << "error " << c.windows_error; }

class SafeReplaceMoveError : public testing::TestWithParam<MoveErrorCase> {};

TEST_P(SafeReplaceMoveError, IsReportedAsErrnoWithoutAFallback) {
  FakeFileSystem fs;
  fs.files = {{kInf, "old"}, {kScratch, "new"}};
  fs.move_error = GetParam().windows_error;
  EXPECT_EQ(replace_file_via(fs, kScratch, kInf), GetParam().expected_errno);
  EXPECT_EQ(fs.files, (std::map<std::string, std::string>{{kInf, "old"}, {kScratch, "new"}}));
  for (const std::string& entry : fs.log) EXPECT_FALSE(entry.starts_with("rename")) << entry;
}

INSTANTIATE_TEST_SUITE_P(WindowsErrors, SafeReplaceMoveError,
                         testing::Values(MoveErrorCase{kWinErrorAccessDenied, EACCES},
                                         MoveErrorCase{kWinErrorSharingViolation, EACCES},
                                         MoveErrorCase{kWinErrorFileNotFound, ENOENT},
                                         MoveErrorCase{kWinErrorPathNotFound, ENOENT},
                                         MoveErrorCase{kWinErrorAlreadyExists, EEXIST},
                                         MoveErrorCase{112, EIO}));

TEST(SafeReplace, WithoutReplacingMoveStepsTheOldFileAsideAndDeletesIt) {
  FakeFileSystem fs;
  fs.files = {{kInf, "old"}, {kScratch, "new"}};
  fs.move_error = kWinErrorCallNotImplemented;
  EXPECT_EQ(replace_file_via(fs, kScratch, kInf), 0);
  EXPECT_EQ(fs.files, (std::map<std::string, std::string>{{kInf, "new"}}));
  const std::vector<std::string> tail(fs.log.end() - 3, fs.log.end());
  EXPECT_EQ(tail, (std::vector<std::string>{std::string("rename ") + kInf + " " + kBackup,
                                            std::string("rename ") + kScratch + " " + kInf,
                                            std::string("remove ") + kBackup}));
}

TEST(SafeReplace, WithoutReplacingMoveAMissingTargetIsARename) {
  FakeFileSystem fs;
  fs.files = {{kScratch, "new"}};
  fs.move_error = kWinErrorCallNotImplemented;
  EXPECT_EQ(replace_file_via(fs, kScratch, kInf), 0);
  EXPECT_EQ(fs.files, (std::map<std::string, std::string>{{kInf, "new"}}));
}

TEST(SafeReplace, LeavesFilesUnderTheBackupNamesAlone) {
  FakeFileSystem fs;
  fs.files = {{kInf, "old"},
              {kScratch, "new"},
              {kBackup, "someone's"},
              {"C:\\WINDOWS\\inf\\netzor.b01", "another"}};
  fs.move_error = kWinErrorCallNotImplemented;
  EXPECT_EQ(replace_file_via(fs, kScratch, kInf), 0);
  EXPECT_EQ(
      fs.files,
      (std::map<std::string, std::string>{
          {kInf, "new"}, {kBackup, "someone's"}, {"C:\\WINDOWS\\inf\\netzor.b01", "another"}}));
  EXPECT_NE(
      std::find(fs.log.begin(), fs.log.end(), std::string("remove C:\\WINDOWS\\inf\\netzor.b02")),
      fs.log.end());
}

TEST(SafeReplace, GivesUpWhenEveryBackupNameIsTaken) {
  FakeFileSystem fs;
  fs.files = {{kInf, "old"}, {kScratch, "new"}};
  for (int i = 0; i < 100; ++i) {
    PathText name;
    ASSERT_TRUE(sibling_name(kInf, 'b', i, &name));
    fs.files[std::string(name.view())] = "taken";
  }
  const auto before = fs.snapshot();
  fs.move_error = kWinErrorCallNotImplemented;
  EXPECT_EQ(replace_file_via(fs, kScratch, kInf), EEXIST);
  EXPECT_EQ(fs.files, before);
}

TEST(SafeReplace, PutsTheOldFileBackWhenTheNewOneCannotTakeItsPlace) {
  FakeFileSystem fs;
  fs.files = {{kInf, "old"}, {kScratch, "new"}};
  fs.move_error = kWinErrorCallNotImplemented;
  fs.rename_fails_from = {kScratch};
  EXPECT_EQ(replace_file_via(fs, kScratch, kInf), EACCES);
  EXPECT_EQ(fs.files, (std::map<std::string, std::string>{{kInf, "old"}, {kScratch, "new"}}));
}

TEST(SafeReplace, ChangesNothingWhenTheOldFileCannotStepAside) {
  FakeFileSystem fs;
  fs.files = {{kInf, "old"}, {kScratch, "new"}};
  fs.move_error = kWinErrorCallNotImplemented;
  fs.rename_fails_from = {kInf};
  EXPECT_EQ(replace_file_via(fs, kScratch, kInf), EACCES);
  EXPECT_EQ(fs.files, (std::map<std::string, std::string>{{kInf, "old"}, {kScratch, "new"}}));
}

TEST(SafeReplace, SucceedsWhenOnlyTheBackupCannotBeDeleted) {
  FakeFileSystem fs;
  fs.files = {{kInf, "old"}, {kScratch, "new"}};
  fs.move_error = kWinErrorCallNotImplemented;
  fs.remove_fails = {kBackup};
  EXPECT_EQ(replace_file_via(fs, kScratch, kInf), 0);
  EXPECT_EQ(fs.files, (std::map<std::string, std::string>{{kInf, "new"}, {kBackup, "old"}}));
}

TEST(SafeReplace, AMissingSourceTouchesNothing) {
  FakeFileSystem fs;
  fs.files = {{kInf, "old"}};
  fs.move_error = kWinErrorCallNotImplemented;
  EXPECT_EQ(replace_file_via(fs, kScratch, kInf), ENOENT);
  EXPECT_EQ(fs.files, (std::map<std::string, std::string>{{kInf, "old"}}));
  EXPECT_TRUE(fs.log.empty());
}

// --- copy_file_via_interpreter ---

TEST(InterpreterCopy, CopiesIntoAScratchFileThatReplacesTheDestination) {
  for (unsigned long move_error : {0ul, kWinErrorCallNotImplemented}) {
    FakeFileSystem fs;
    fs.files = {{kSource, "new driver"}, {kDriver, "old driver"}};
    fs.move_error = move_error;
    EXPECT_EQ(copy_file_via_interpreter(fs, kSource, kDriver), 0);
    EXPECT_EQ(fs.files, (std::map<std::string, std::string>{{kSource, "new driver"},
                                                            {kDriver, "new driver"}}));
    ASSERT_FALSE(fs.log.empty());
    EXPECT_EQ(fs.log.front(),
              "run copy \"A:\\zvnd32.sys\" \"C:\\WINDOWS\\system\\zvnd32.t00\" > NUL");
  }
}

TEST(InterpreterCopy, CreatesAMissingDestination) {
  FakeFileSystem fs;
  fs.files = {{kSource, "driver"}};
  EXPECT_EQ(copy_file_via_interpreter(fs, kSource, kDriver), 0);
  EXPECT_EQ(fs.files,
            (std::map<std::string, std::string>{{kSource, "driver"}, {kDriver, "driver"}}));
}

TEST(InterpreterCopy, NeverCopiesOverAnExistingFile) {
  FakeFileSystem fs;
  fs.files = {{kSource, "new driver"}, {kDriver, "old driver"}, {kDriverCopy, "someone's"}};
  EXPECT_EQ(copy_file_via_interpreter(fs, kSource, kDriver), 0);
  EXPECT_EQ(fs.files,
            (std::map<std::string, std::string>{
                {kSource, "new driver"}, {kDriver, "new driver"}, {kDriverCopy, "someone's"}}));
  EXPECT_EQ(fs.log.front(),
            "run copy \"A:\\zvnd32.sys\" \"C:\\WINDOWS\\system\\zvnd32.t01\" > NUL");
}

struct FailedCopyCase {
  const char* name;
  std::function<void(FakeFileSystem&)> arrange;
  int expected_errno;
};

class InterpreterCopyFailure : public testing::TestWithParam<FailedCopyCase> {};

TEST_P(InterpreterCopyFailure, LeavesTheDestinationAsItWasAndNoScratchFile) {
  FakeFileSystem fs;
  fs.files = {{kSource, "new driver"}, {kDriver, "old driver"}};
  GetParam().arrange(fs);
  EXPECT_EQ(copy_file_via_interpreter(fs, kSource, kDriver), GetParam().expected_errno);
  EXPECT_EQ(fs.files,
            (std::map<std::string, std::string>{{kSource, "new driver"}, {kDriver, "old driver"}}));
}

INSTANTIATE_TEST_SUITE_P(
    Failures, InterpreterCopyFailure,
    testing::Values(
        FailedCopyCase{"InterpreterDidNothing",
                       [](FakeFileSystem& fs) {
                         fs.interpreter_copy = [](const std::string&, const std::string&) {};
                       },
                       EIO},
        FailedCopyCase{"CopyCutShort",
                       [](FakeFileSystem& fs) {
                         fs.interpreter_copy = [&fs](const std::string&, const std::string& to) {
                           fs.files[to] = "new";
                         };
                       },
                       EIO},
        FailedCopyCase{"DestinationLocked",
                       [](FakeFileSystem& fs) { fs.move_error = kWinErrorAccessDenied; }, EACCES},
        FailedCopyCase{"DestinationLockedOnWindows95",
                       [](FakeFileSystem& fs) {
                         fs.move_error = kWinErrorCallNotImplemented;
                         fs.rename_fails_from = {kDriver};
                       },
                       EACCES}),
    [](const testing::TestParamInfo<FailedCopyCase>& param_info) { return param_info.param.name; });

TEST(InterpreterCopy, AMissingSourceRunsNothing) {
  FakeFileSystem fs;
  fs.files = {{kDriver, "old driver"}};
  EXPECT_EQ(copy_file_via_interpreter(fs, kSource, kDriver), ENOENT);
  EXPECT_FALSE(fs.ran_anything());
  EXPECT_EQ(fs.files, (std::map<std::string, std::string>{{kDriver, "old driver"}}));
}

class InterpreterCopyUnsafePath : public testing::TestWithParam<const char*> {};

TEST_P(InterpreterCopyUnsafePath, IsRefusedBeforeTheInterpreterSeesIt) {
  const std::string source = std::string("A:\\odd") + GetParam() + "dir\\zvnd32.sys";
  const std::string destination = std::string("C:\\odd") + GetParam() + "dir\\zvnd32.sys";
  for (const auto& [from, to] :
       {std::pair{source, std::string(kDriver)}, std::pair{std::string(kSource), destination}}) {
    FakeFileSystem fs;
    fs.files = {{from, "new driver"}, {to, "old driver"}};
    const auto before = fs.snapshot();
    EXPECT_EQ(copy_file_via_interpreter(fs, from, to), EINVAL) << from << " -> " << to;
    EXPECT_FALSE(fs.ran_anything());
    EXPECT_EQ(fs.files, before);
  }
}

INSTANTIATE_TEST_SUITE_P(Characters, InterpreterCopyUnsafePath,
                         testing::Values("\"", "%", "<", ">", "|", "\t", "\n"));

TEST(InterpreterCopy, ACommandTooLongForTheInterpreterIsRefused) {
  FakeFileSystem fs;
  const std::string source = "A:\\" + std::string(80, 'd') + "\\zvnd32.sys";
  fs.files = {{source, "new driver"}, {kDriver, "old driver"}};
  EXPECT_EQ(copy_file_via_interpreter(fs, source, kDriver), ENAMETOOLONG);
  EXPECT_FALSE(fs.ran_anything());

  // The longest line that still fits is run.
  const std::string fitting = "A:\\" + std::string(kMaxCommandLength - 58, 'd') + "\\zvnd32.sys";
  fs.files = {{fitting, "new driver"}, {kDriver, "old driver"}};
  ASSERT_EQ(copy_file_via_interpreter(fs, fitting, kDriver), 0);
  ASSERT_TRUE(fs.ran_anything());
  EXPECT_EQ(fs.log.front().size(), std::string("run ").size() + kMaxCommandLength);
}

// --- names ---

struct SiblingCase {
  const char* path;
  char tag;
  int number;
  const char* expected;
};

void PrintTo(const SiblingCase& c, std::ostream* out) { *out << c.path; }

class SiblingName : public testing::TestWithParam<SiblingCase> {};

TEST_P(SiblingName, KeepsTheDirectoryAndAShortBaseName) {
  PathText name;
  ASSERT_TRUE(sibling_name(GetParam().path, GetParam().tag, GetParam().number, &name));
  EXPECT_EQ(name.view(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, SiblingName,
    testing::Values(
        SiblingCase{"C:\\WINDOWS\\inf\\netzor.inf", 'b', 0, "C:\\WINDOWS\\inf\\netzor.b00"},
        SiblingCase{"C:\\WINDOWS\\system\\zvnd32.sys", 't', 42, "C:\\WINDOWS\\system\\zvnd32.t42"},
        SiblingCase{"C:\\dir.ext\\noext", 'b', 7, "C:\\dir.ext\\noext.b07"},
        SiblingCase{"C:\\dir\\verylongname.txt", 'b', 99, "C:\\dir\\verylong.b99"},
        SiblingCase{"C:/dir/archive.tar.gz", 't', 1, "C:/dir/archive_.t01"},
        SiblingCase{"A:zvnd32.sys", 't', 3, "A:zvnd32.t03"},
        SiblingCase{"zvnd32.sys", 't', 0, "zvnd32.t00"}));

TEST(SiblingName, FailsWhenTheNameDoesNotFit) {
  PathText name;
  const std::string deep = "C:\\" + std::string(kPathCapacity - 8, 'd') + "\\a.b";
  EXPECT_FALSE(sibling_name(deep, 'b', 0, &name));
}

TEST(FixedText, RefusesTextThatDoesNotFitOrHoldsANul) {
  FixedText<8> text;
  ASSERT_TRUE(text.assign("abc"));
  EXPECT_FALSE(text.append("defgh"));  // 8 characters would leave no room for the terminator
  EXPECT_EQ(text.view(), "abc");
  EXPECT_FALSE(text.append(std::string_view("d\0e", 3)));
  EXPECT_EQ(text.view(), "abc");
  ASSERT_TRUE(text.append("defg"));
  EXPECT_EQ(std::string(text.c_str()), "abcdefg");
}

}  // namespace
}  // namespace reg7140
