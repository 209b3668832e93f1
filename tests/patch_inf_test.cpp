// The file jobs where no whole run reaches: the INF job on the sample machine's INF file with the
// faults and Windows directories of tests/data/inf_faults.txt (the cases of the file's content
// are scenarios), and the driver job on a stand-in disk that, as Windows does, refuses to copy
// over a read-only file, with the cases of tests/data/driver_cases.txt.
#include "inf/patch_inf.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>

#include "driver/update_driver.h"
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
    if (std::isdigit(row[2][0]))
      windir /= std::string(std::stoul(row[2]) - windir.string().size() - 1, 'x');
    test::write_file(windir / "inf/netzor.inf", sample);
    if (row[3] != "-") test::write_file(windir / "inf/netzor.new", row[3]);
    chmod((windir / "inf/netzor.new").c_str(), 0444);
    test::Fault fault;
    std::istringstream calls(row[0]);
    for (std::string call; std::getline(calls, call, ',');) fault.also.insert(call);
    test::FaultFiles files(fault, test::errno_of(row[1]));
    test::Host host(row[2] == "unset" ? nullptr : row[2] == "empty" ? "" : windir.c_str());
    patch_inf_file(files, host, Reporter{host, 9});
    EXPECT_EQ(host.text, row[4]);
    EXPECT_EQ(test::read_file(windir / "inf/netzor.inf"), row[5] == "patched" ? patched : sample);
    const bool kept = std::filesystem::exists(windir / "inf/netzor.new");
    const std::string scratch = kept ? test::read_file(windir / "inf/netzor.new") : "none";
    EXPECT_EQ(row[6] == "any" ? "any" : scratch, row[6] == "patched" ? patched : row[6]);
  }
}

// Files by path as "bytes@time", "+ro" after a read-only one; `error` fails the copy.
struct Disk : FileStore {
  bool file_time(std::string_view path, std::int64_t* seconds) override {
    return files.contains(path) && (*seconds = std::stoll(at(path).substr(at(path).find('@') + 1)));
  }
  bool access(std::string_view path, AccessMode) override { return !at(path).ends_with("+ro"); }
  void make_writable(std::string_view path) override { at(path).resize(at(path).find('+')); }
  int copy_file(std::string_view from, std::string_view to) override {
    return error ? error : !access(to, {}) ? EACCES : (at(to) = at(from), 0);
  }
  std::string& at(std::string_view path) { return files[std::string(path)]; }
  std::map<std::string, std::string, std::less<>> files;
  int error = 0;
};

TEST(DriverJob, CasesOfTheTable) {
  for (const auto& row : test::load_table("data/driver_cases.txt")) {
    Disk disk;
    for (const std::string& word : test::words(row[3]))
      disk.at(word.substr(0, word.rfind('='))) = word.substr(word.rfind('=') + 1);
    disk.error = std::stoi(row[6]);
    const auto text = [&] {
      std::string out;
      for (const auto& [path, file] : disk.files)
        out += (out.empty() ? "" : " ") + path + "=" + file;
      return out;
    };
    const std::string before = text();
    test::Host host(row[2] == "unset" ? nullptr : row[2].c_str());
    update_driver_file(disk, host, Reporter{host, 9}, row[1]);
    EXPECT_EQ(host.text, row[4]) << row[0];
    EXPECT_EQ(text(), row[5] == "unchanged" ? before : row[5]) << row[0];
  }
}

}  // namespace
}  // namespace reg7140
