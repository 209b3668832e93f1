// The driver job on a stand-in disk that, as Windows does, refuses to copy over a read-only file;
// the cases are in tests/data/driver_cases.txt.
#include "driver/update_driver.h"

#include <gtest/gtest.h>

#include "tests/fault.h"
#include "tests/test_util.h"

namespace reg7140 {
namespace {

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
