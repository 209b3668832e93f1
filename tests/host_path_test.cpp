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
using test::write_file;

// The cases of tests/data/host_paths.txt, on a machine with several spellings of one name side
// by side, as a case-sensitive host allows.
TEST(HostPath, MapsOntoTheExistingSpelling) {
  test::TempDir dir;
  for (const char* directory : {"WINDOWS/Inf", "WINDOWS/iNF", "WINDOWS/inf", "WINDOWS/SYSTEM"}) {
    fs::create_directories(dir / directory);
  }
  for (const char* file :
       {"WINDOWS/inf/NETZOR.INF", "WINDOWS/Inf/Netzor.inf", "WINDOWS/SYSTEM/zvnd32.SYS",
        "WINDOWS/SYSTEM/\xC4.TXT", "WINDOWS/WIN.INI"}) {
    write_file(dir / file, "x");
  }
  const fs::path previous = fs::current_path();
  fs::current_path(dir.path());
  const auto rows = test::load_table("data/host_paths.txt");
  for (const auto& row : rows) {
    SCOPED_TRACE(row[0]);
    if (row.size() != 3) {
      ADD_FAILURE() << "three fields";
      continue;
    }
    auto at_root = [&](std::string path) {
      return path.starts_with("$") ? dir.path().string() + path.substr(1) : path;
    };
    EXPECT_EQ(to_host_path(at_root(row[1])), at_root(row[2]));
    // Every directory here can be listed, so the lookup for writing finds the same.
    std::string for_writing;
    EXPECT_EQ(to_host_path_for_writing(at_root(row[1]), &for_writing), 0);
    EXPECT_EQ(for_writing, at_root(row[2]));
  }
  fs::current_path(previous);
  EXPECT_GT(rows.size(), 10u);
  EXPECT_EQ(to_host_path(""), "");
}

// Replacing or copying onto an existing file, or writing it, uses the entry as spelled on disk;
// only a new file takes the job's spelling.
TEST(HostPath, FilesKeepTheirSpellingOnDisk) {
  test::TempDir dir;
  const std::string windir = dir.path().string() + "/WINDOWS";
  auto names_in = [](const fs::path& directory) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  };
  PosixFiles files;
  write_file(dir / "WINDOWS/INF/NETZOR.INF", "old\r\n");
  write_file(dir / "WINDOWS/INF/netzor.new", "new\r\n");
  ASSERT_EQ(files.replace_file(windir + "\\inf\\netzor.new", windir + "\\inf\\netzor.inf"), 0);
  EXPECT_EQ(names_in(dir / "WINDOWS/INF"), std::vector<std::string>{"NETZOR.INF"});
  EXPECT_EQ(read_file(dir / "WINDOWS/INF/NETZOR.INF"), "new\r\n");

  write_file(dir / "WINDOWS/INF/NETZOR.NEW", "stale");
  FileHandle file = kNoFile;
  ASSERT_EQ(files.open_text(windir + "\\inf\\netzor.new", OpenMode::kWriteText, &file), 0);
  ASSERT_EQ(files.write(file, "a\n"), 0);
  ASSERT_EQ(files.close(file), 0);
  ASSERT_EQ(files.open_text(windir + "\\inf\\Other.Inf", OpenMode::kWriteText, &file), 0);
  ASSERT_EQ(files.close(file), 0);
  EXPECT_EQ(names_in(dir / "WINDOWS/INF"),
            (std::vector<std::string>{"NETZOR.INF", "NETZOR.NEW", "Other.Inf"}));
  EXPECT_EQ(read_file(dir / "WINDOWS/INF/NETZOR.NEW"), "a\r\n");

  write_file(dir / "source/zvnd32.sys", "driver");
  write_file(dir / "WINDOWS/SYSTEM/ZVND32.SYS", "old");
  ASSERT_EQ(
      files.copy_file(dir.path().string() + "/source\\zvnd32.sys", windir + "\\system\\zvnd32.sys"),
      0);
  EXPECT_EQ(names_in(dir / "WINDOWS/SYSTEM"), std::vector<std::string>{"ZVND32.SYS"});
  EXPECT_EQ(read_file(dir / "WINDOWS/SYSTEM/ZVND32.SYS"), "driver");
}

}  // namespace
}  // namespace reg7140
