// The driver job's decisions and reports; the cases are in tests/data/driver_job.txt.
#include "driver/update_driver.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "tests/capture_console.h"
#include "tests/test_util.h"

namespace reg7140 {
namespace {

struct File {
  std::string bytes;
  std::int64_t time = 0;
  bool read_only = false;
};

// Files by path; as on Windows, a copy over a read-only file fails.
class Disk : public FileStore {
 public:
  std::map<std::string, File, std::less<>> files;
  int copy_error = 0;

  File* find(std::string_view path) {
    const auto file = files.find(path);
    return file == files.end() ? nullptr : &file->second;
  }
  bool file_time(std::string_view path, std::int64_t* seconds) override {
    return find(path) != nullptr && (*seconds = find(path)->time, true);
  }
  bool access(std::string_view path, AccessMode) override {
    return find(path) != nullptr && !find(path)->read_only;
  }
  void make_writable(std::string_view path) override {
    if (find(path) != nullptr) find(path)->read_only = false;
  }
  int copy_file(std::string_view from, std::string_view to) override {
    if (copy_error != 0 || find(from) == nullptr) return copy_error != 0 ? copy_error : ENOENT;
    if (find(to) != nullptr && find(to)->read_only) return EACCES;
    files[std::string(to)] = File{find(from)->bytes, find(from)->time};
    return 0;
  }
  std::string text() const {
    std::string out;
    for (const auto& [path, file] : files) {
      out += (out.empty() ? "" : " ") + path + "=" + file.bytes + "@" + std::to_string(file.time) +
             (file.read_only ? "+ro" : "");
    }
    return out;
  }
};

TEST(DriverJob, CasesOfTheTable) {
  EXPECT_TRUE(names_directory("A:/reg7140.exe") && names_directory("\\reg7140.exe"));
  EXPECT_FALSE(names_directory("reg7140.exe"));
  for (const auto& row : test::load_table("data/driver_job.txt")) {
    SCOPED_TRACE(row[0]);
    Disk disk;
    // path=bytes@time, +ro for a read-only file
    for (const std::string& word : test::words(row[3])) {
      const std::size_t equals = word.rfind('='), at = word.rfind('@');
      if (at == std::string::npos || equals == std::string::npos || at < equals) continue;
      disk.files[word.substr(0, equals)] =
          File{word.substr(equals + 1, at - equals - 1), std::stoll(word.substr(at + 1)),
               word.ends_with("+ro")};
    }
    if (row[3].find(" copy=") != std::string::npos)
      disk.copy_error = std::stoi(row[3].substr(row[3].find(" copy=") + 6));
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
