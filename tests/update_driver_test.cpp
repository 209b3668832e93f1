// The driver job on a stand-in disk that, as Windows does, refuses to copy over a read-only file;
// the cases are in tests/data/driver_job.txt.
#include "driver/update_driver.h"

#include <gtest/gtest.h>

#include "tests/fault.h"
#include "tests/test_util.h"

namespace reg7140 {
namespace {

// Files by path as "bytes@time", "+ro" after a read-only one.
struct Disk : FileStore {
  bool file_time(std::string_view path, std::int64_t* seconds) override {
    return files.contains(path) &&
           (*seconds = std::stoll(at(path).substr(at(path).find('@') + 1)), true);
  }
  bool access(std::string_view path, AccessMode) override {
    return files.contains(path) && !at(path).ends_with("+ro");
  }
  void make_writable(std::string_view path) override {
    at(path) = at(path).substr(0, at(path).find('+'));
  }
  int copy_file(std::string_view from, std::string_view to) override {
    if (error != 0 || !files.contains(from)) return error != 0 ? error : ENOENT;
    return files.contains(to) && !access(to, AccessMode::kWrite) ? EACCES : (at(to) = at(from), 0);
  }
  std::string& at(std::string_view path) { return files[std::string(path)]; }
  std::string text() {
    std::string out;
    for (const auto& [path, file] : files) out += (out.empty() ? "" : " ") + path + "=" + file;
    return out;
  }
  std::map<std::string, std::string, std::less<>> files;
  int error = 0;
};

TEST(DriverJob, CasesOfTheTable) {
  for (const auto& row : test::load_table("data/driver_job.txt")) {
    SCOPED_TRACE(row[0]);
    Disk disk;
    for (const std::string& word : test::words(row[3])) {
      const auto equals = word.rfind('=');
      if (word.starts_with("copy="))
        disk.error = std::stoi(word.substr(5));
      else
        disk.at(word.substr(0, equals)) = word.substr(equals + 1);
    }
    const std::string before = disk.text();
    test::WindirEnvironment environment(row[2] == "unset" ? nullptr : row[2].c_str());
    test::CaptureConsole console;
    update_driver_file(disk, environment, Reporter{console, 9}, row[1]);
    EXPECT_EQ(console.text, row[4]);
    EXPECT_EQ(disk.text(), row[5] == "unchanged" ? before : row[5]);
  }
}

}  // namespace
}  // namespace reg7140
