#include "platform/posix/host_path.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/posix/posix_files.h"
#include "tests/test_util.h"

namespace reg7140 {
namespace {

namespace fs = std::filesystem;
using test::read_file;
using test::TempDir;
using test::write_file;

std::vector<std::string> names_in(const fs::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

struct LookupCase {
  const char* name;
  const char* windows;  // appended to the machine's directory as the job would
  const char* host;     // expected, relative to the machine's directory
};

class HostPathLookup : public testing::TestWithParam<LookupCase> {
 protected:
  void SetUp() override {
    // Several spellings of one name side by side, as a case-sensitive host allows.
    fs::create_directories(dir_ / "WINDOWS" / "Inf");
    fs::create_directories(dir_ / "WINDOWS" / "iNF");
    fs::create_directories(dir_ / "WINDOWS" / "inf");
    fs::create_directories(dir_ / "WINDOWS" / "SYSTEM");
    write_file(dir_ / "WINDOWS" / "inf" / "NETZOR.INF", "x");
    write_file(dir_ / "WINDOWS" / "Inf" / "Netzor.inf", "x");
    write_file(dir_ / "WINDOWS" / "SYSTEM" / "zvnd32.SYS", "x");
    write_file(dir_ / "WINDOWS" / "SYSTEM" / "\xC4.TXT", "x");
    write_file(dir_ / "WINDOWS" / "WIN.INI", "x");
  }
  TempDir dir_;
};

TEST_P(HostPathLookup, MapsOntoExistingSpelling) {
  const LookupCase& c = GetParam();
  std::string root = dir_.path().string();
  EXPECT_EQ(to_host_path(root + c.windows), root + c.host);
  // Every directory here can be listed, so the lookup for writing finds the same.
  std::string for_writing;
  EXPECT_EQ(to_host_path_for_writing(root + c.windows, &for_writing), 0);
  EXPECT_EQ(for_writing, root + c.host);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HostPathLookup,
    testing::Values(
        LookupCase{"ExactSpellingWins", "/WINDOWS\\inf\\NETZOR.INF", "/WINDOWS/inf/NETZOR.INF"},
        LookupCase{"CaseInsensitiveMatch", "/windows\\inf\\netzor.inf", "/WINDOWS/inf/NETZOR.INF"},
        LookupCase{"FirstInByteOrderAmongSeveral", "/WINDOWS\\INF\\netzor.inf",
                   "/WINDOWS/Inf/Netzor.inf"},
        LookupCase{"ExactWinsOverEarlierFolded", "/WINDOWS\\iNF", "/WINDOWS/iNF"},
        LookupCase{"FileFoundInSecondDirectory", "/WINDOWS\\system\\ZVND32.sys",
                   "/WINDOWS/SYSTEM/zvnd32.SYS"},
        LookupCase{"MissingFileKeepsSpelling", "/WINDOWS\\inf\\netzor.new",
                   "/WINDOWS/inf/netzor.new"},
        LookupCase{"RestAfterMissingKeepsSpelling", "/WINDOWS\\Missing\\inf\\Netzor.INF",
                   "/WINDOWS/Missing/inf/Netzor.INF"},
        LookupCase{"BelowAFileKeepsSpelling", "/windows\\win.ini\\inf", "/WINDOWS/WIN.INI/inf"},
        LookupCase{"OnlyAsciiLettersFold", "/WINDOWS\\SYSTEM\\\xE4.txt",
                   "/WINDOWS/SYSTEM/\xE4.txt"},
        LookupCase{"DotsAndEmptyPassThrough", "/windows\\.\\SYSTEM\\..\\\\INF\\netzor.inf",
                   "/WINDOWS/./SYSTEM/..//Inf/Netzor.inf"},
        LookupCase{"TrailingSeparatorKept", "/windows\\system\\", "/WINDOWS/SYSTEM/"}),
    [](const testing::TestParamInfo<LookupCase>& param_info) {
      return std::string(param_info.param.name);
    });

TEST(HostPath, RelativePathStaysRelative) {
  TempDir dir;
  fs::create_directories(dir.path() / "WINDOWS" / "INF");
  fs::path previous = fs::current_path();
  fs::current_path(dir.path());
  std::string relative = to_host_path("windows\\inf\\netzor.inf");
  std::string dotted = to_host_path(".\\windows\\inf");
  fs::current_path(previous);
  EXPECT_EQ(relative, "WINDOWS/INF/netzor.inf");
  EXPECT_EQ(dotted, "./WINDOWS/INF");
}

TEST(HostPath, EmptyAndRootPaths) {
  EXPECT_EQ(to_host_path(""), "");
  EXPECT_EQ(to_host_path("\\"), "/");
  EXPECT_EQ(to_host_path("\\\\TMP"), "//tmp");
}

// Replacing, renaming or copying onto an existing file uses the entry as spelled on disk; only a
// new file takes the job's spelling.
class HostPathFiles : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_ / "WINDOWS" / "INF");
    fs::create_directories(dir_ / "WINDOWS" / "SYSTEM");
    windir_ = dir_.path().string() + "/WINDOWS";
  }
  TempDir dir_;
  std::string windir_;
  PosixFiles files_;
};

TEST_F(HostPathFiles, ReplaceOntoDifferentlyCasedFileKeepsItsSpelling) {
  write_file(dir_ / "WINDOWS" / "INF" / "NETZOR.INF", "old\r\n");
  write_file(dir_ / "WINDOWS" / "INF" / "netzor.new", "new\r\n");
  ASSERT_EQ(files_.replace_file(windir_ + "\\inf\\netzor.new", windir_ + "\\inf\\netzor.inf"), 0);
  EXPECT_EQ(names_in(dir_ / "WINDOWS" / "INF"), std::vector<std::string>{"NETZOR.INF"});
  EXPECT_EQ(read_file(dir_ / "WINDOWS" / "INF" / "NETZOR.INF"), "new\r\n");
}

TEST_F(HostPathFiles, WriteOpensExistingEntryAndCreatesNewUnderGivenName) {
  write_file(dir_ / "WINDOWS" / "INF" / "NETZOR.NEW", "stale");
  FileHandle file = kNoFile;
  ASSERT_EQ(files_.open_text(windir_ + "\\inf\\netzor.new", OpenMode::kWriteText, &file), 0);
  ASSERT_EQ(files_.write(file, "a\n"), 0);
  ASSERT_EQ(files_.close(file), 0);
  ASSERT_EQ(files_.open_text(windir_ + "\\inf\\Other.Inf", OpenMode::kWriteText, &file), 0);
  ASSERT_EQ(files_.close(file), 0);
  EXPECT_EQ(names_in(dir_ / "WINDOWS" / "INF"),
            (std::vector<std::string>{"NETZOR.NEW", "Other.Inf"}));
  EXPECT_EQ(read_file(dir_ / "WINDOWS" / "INF" / "NETZOR.NEW"), "a\r\n");
}

TEST_F(HostPathFiles, CopyOntoDifferentlyCasedFileKeepsItsSpelling) {
  write_file(dir_ / "source" / "zvnd32.sys", "driver");
  write_file(dir_ / "WINDOWS" / "SYSTEM" / "ZVND32.SYS", "old");
  ASSERT_EQ(files_.copy_file(dir_.path().string() + "/source\\zvnd32.sys",
                             windir_ + "\\system\\zvnd32.sys"),
            0);
  EXPECT_EQ(names_in(dir_ / "WINDOWS" / "SYSTEM"), std::vector<std::string>{"ZVND32.SYS"});
  EXPECT_EQ(read_file(dir_ / "WINDOWS" / "SYSTEM" / "ZVND32.SYS"), "driver");
}

}  // namespace
}  // namespace reg7140
