// The INF job on the sample machine's INF file where no whole run reaches: the faults and Windows
// directories of tests/data/inf_faults.txt. The cases of the file's content are scenarios.
#include "inf/patch_inf.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>

#include "tests/fault.h"
#include "tests/test_util.h"

namespace reg7140 {
namespace {

TEST(InfJob, FaultsAndWindowsDirectories) {
  const std::string sample = test::read_file(test::data_path("../sample/WINDOWS/inf/netzor.inf"));
  const std::string patched = test::read_file(test::data_path("data/netzor_patched.inf"));
  for (const auto& row : test::load_table("data/inf_faults.txt")) {
    SCOPED_TRACE(row[0]);
    test::TempDir dir;
    std::filesystem::path windir = dir.path();
    if (std::isdigit(row[1][0]))
      windir /= std::string(std::stoul(row[1]) - windir.string().size() - 1, 'x');
    test::write_file(windir / "inf/netzor.inf", sample);
    if (row[2] != "-") test::write_file(windir / "inf/netzor.new", row[2]);
    chmod((windir / "inf/netzor.new").c_str(), 0444);
    test::Fault fault;
    std::istringstream list(row[0]);
    std::string kind, error, first = "EIO";  // the first listed error stands for all
    for (int nth; list >> kind >> nth >> error; fault.also.insert(kind + " " + std::to_string(nth)))
      if (fault.also.empty()) first = error;
    test::FaultFiles files(fault, test::errno_of(first));
    const std::string path = windir.string();
    test::Host host(row[1] == "unset" ? nullptr : row[1] == "empty" ? "" : path.c_str());
    patch_inf_file(files, host, Reporter{host, 9});
    EXPECT_EQ(host.text, row[3]);
    EXPECT_EQ(test::read_file(windir / "inf/netzor.inf"), row[4] == "patched" ? patched : sample);
    const auto scratch = windir / "inf/netzor.new";
    if (row[5] != "any") {
      EXPECT_EQ(std::filesystem::exists(scratch) ? test::read_file(scratch) : "none",
                row[5] == "patched" ? patched : row[5]);
    }
  }
}

}  // namespace
}  // namespace reg7140
