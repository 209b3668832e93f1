// The driver job's decisions and reports; the cases are in tests/data/driver_job.txt.
#include "driver/update_driver.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "tests/capture_console.h"
#include "tests/fault.h"
#include "tests/test_util.h"

namespace reg7140 {
namespace {

// Files by path as "bytes@time", "+ro" after a read-only one; as on Windows, a copy over a
// read-only file fails.
struct Disk : FileStore {
  Disk(test::Fault& fault, int error) : f(fault), e(error) {}
  bool file_time(std::string_view path, std::int64_t* seconds) override {
    return files.contains(path) &&
           (*seconds = std::stoll(at(path).substr(at(path).find('@') + 1)), true);
  }
  bool access(std::string_view path, AccessMode) override {
    return files.contains(path) && !at(path).ends_with("+ro");
  }
  void make_writable(std::string_view path) override {
    if (files.contains(path)) at(path) = at(path).substr(0, at(path).find('+'));
  }
  int copy_file(std::string_view from, std::string_view to) override {
    if (f.fails("copy")) return e;
    if (!files.contains(from)) return ENOENT;
    return files.contains(to) && !access(to, AccessMode::kWrite) ? EACCES : (at(to) = at(from), 0);
  }
  std::string& at(std::string_view path) { return files[std::string(path)]; }
  std::map<std::string, std::string, std::less<>> files;
  test::Fault& f;
  int e;
};

std::string text_of(const std::map<std::string, std::string, std::less<>>& files) {
  std::string out;
  for (const auto& [path, file] : files) out += (out.empty() ? "" : " ") + path + "=" + file;
  return out;
}

TEST(DriverJob, CasesOfTheTable) {
  EXPECT_TRUE(names_directory("A:/reg7140.exe") && names_directory("\\reg7140.exe"));
  EXPECT_FALSE(names_directory("reg7140.exe"));
  for (const auto& row : test::load_table("data/driver_job.txt")) {
    SCOPED_TRACE(row[0]);
    const auto copy = row[3].find(" copy=");
    test::Fault fault(copy == std::string::npos ? 0 : 1);
    Disk disk(fault, copy == std::string::npos ? 0 : std::stoi(row[3].substr(copy + 6)));
    for (const std::string& word : test::words(row[3].substr(0, copy))) {
      disk.at(word.substr(0, word.rfind('='))) = word.substr(word.rfind('=') + 1);
    }
    const std::string before = text_of(disk.files);
    test::WindirEnvironment environment(row[2] == "unset" ? nullptr : row[2].c_str());
    test::CaptureConsole console;
    update_driver_file(disk, environment, Reporter{console, 9}, row[1]);
    EXPECT_EQ(console.text, row[4]);
    EXPECT_EQ(text_of(disk.files), row[5] == "unchanged" ? before : row[5]);
  }
}

}  // namespace
}  // namespace reg7140
