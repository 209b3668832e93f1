// Windows paths on the host, on a machine with several spellings of one name side by side, as a
// case-sensitive host allows. That every job's file keeps its spelling on disk is a whole-run
// scenario (run_upper_case_names).
#include "platform/posix/host_path.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/test_util.h"

namespace reg7140 {
namespace {

TEST(HostPath, MapsOntoTheExistingSpelling) {
  test::TempDir dir;
  for (const char* file : {"WINDOWS/Inf/Netzor.inf", "WINDOWS/iNF/x", "WINDOWS/inf/NETZOR.INF",
                           "WINDOWS/SYSTEM/zvnd32.SYS", "WINDOWS/SYSTEM/\xC4.TXT",
                           "WINDOWS/WIN.INI", "WINDOWS/system.dat"})
    test::write_file(dir / file, "x");
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  const auto at_root = [&](const std::string& path) {
    return path.starts_with("$") ? dir.path().string() + path.substr(1) : path;
  };
  for (const auto& row : test::load_table("data/host_paths.txt")) {
    SCOPED_TRACE(row[0]);
    EXPECT_EQ(to_host_path(at_root(row[1])), at_root(row[2]));
    // Every directory here can be listed, so a lookup for writing finds the same.
    std::string for_writing;
    EXPECT_EQ(std::to_string(to_host_path_for_writing(at_root(row[1]), &for_writing)) + for_writing,
              "0" + at_root(row[2]));
  }
  std::filesystem::current_path(previous);
}

}  // namespace
}  // namespace reg7140
