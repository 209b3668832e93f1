// Small helpers shared by the tests: a scratch directory, whole-file I/O and case data read
// from text files.
#pragma once

#include <stdlib.h>

#include <cctype>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace reg7140::test {

#ifndef _WIN32  // the Windows check reads tables only, and has no mkdtemp
// A fresh directory under the system's temporary directory, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "reg7140-test-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~TempDir() {
    std::error_code ignored;
    // Read-only files and directories must not keep the tree alive.
    for (auto& entry : std::filesystem::recursive_directory_iterator(path_, ignored))
      std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& relative) const { return path_ / relative; }

 private:
  std::filesystem::path path_;
};
#endif

inline std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_file(const std::filesystem::path& path, const std::string& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

// The words of a line of case data, split at single blanks (tabs and line feeds stay in a word).
inline std::vector<std::string> words(std::string_view text) {
  std::vector<std::string> out;
  for (std::size_t from = 0; from <= text.size();) {
    std::size_t blank = text.find(' ', from);
    if (blank == std::string_view::npos) blank = text.size();
    if (blank > from) out.emplace_back(text.substr(from, blank - from));
    from = blank + 1;
  }
  return out;
}

// The errno that case data names: "0", "EACCES", ...
inline int errno_of(const std::string& name) {
  static const std::map<std::string, int> names = {
      {"0", 0},           {"E2BIG", E2BIG},   {"EACCES", EACCES},
      {"EAGAIN", EAGAIN}, {"EBADF", EBADF},   {"ECHILD", ECHILD},
      {"EEXIST", EEXIST}, {"EINVAL", EINVAL}, {"EIO", EIO},
      {"EMFILE", EMFILE}, {"ENOENT", ENOENT}, {"ENOEXEC", ENOEXEC},
      {"ENOMEM", ENOMEM}, {"ENOSPC", ENOSPC}, {"ENOTEMPTY", ENOTEMPTY},
      {"EPIPE", EPIPE},   {"EXDEV", EXDEV},   {"ENAMETOOLONG", ENAMETOOLONG}};
  return names.at(name);
}

// Bytes that a text file cannot show plainly are written as escapes: <CR>, <LF>, <NUL>, <EOF>
// (Ctrl-Z), <xHH> for any byte, <c*N> for the character c N times, and <nolf> at the end of a
// line drops its line feed. Anything else in angle brackets stays as it is.
inline std::string expand(std::string_view text) {
  static const std::map<std::string_view, std::string_view> named = {
      {"<CR>", "\r"}, {"<LF>", "\n"}, {"<NUL>", {"\0", 1}}, {"<EOF>", "\x1A"}, {"<nolf>", ""}};
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t close = text[i] == '<' ? text.find('>', i) : std::string_view::npos;
    const std::string_view token =
        text.substr(i, close == std::string_view::npos ? 0 : close + 1 - i);
    if (auto it = named.find(token); it != named.end()) {
      out += it->second;
    } else if (token.size() == 5 && token[1] == 'x' && std::isxdigit(token[2]) &&
               std::isxdigit(token[3])) {
      out += static_cast<char>(std::stoi(std::string(token.substr(2, 2)), nullptr, 16));
    } else if (token.size() > 4 && token[2] == '*' && std::isdigit(token[3])) {
      out.append(std::stoul(std::string(token.substr(3))), token[1]);
    } else {
      out += text[i++];
      continue;
    }
    i += token.size();
  }
  return out;
}

#ifdef REG7140_SOURCE_DIR
inline std::filesystem::path data_path(std::string_view relative) {
  return std::filesystem::path(REG7140_SOURCE_DIR) / "tests" / relative;
}

// A table of one case a line, its fields separated by " | " and expanded; blank lines and '#'
// lines are left out.
inline std::vector<std::vector<std::string>> load_table(std::string_view file) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(read_file(data_path(file)));
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line.starts_with("#")) continue;
    std::vector<std::string> row;
    for (std::size_t from = 0;;) {
      const std::size_t bar = line.find(" | ", from);
      row.push_back(expand(line.substr(from, bar == std::string::npos ? bar : bar - from)));
      if (bar == std::string::npos) break;
      from = bar + 3;
    }
    rows.push_back(std::move(row));
  }
  return rows;
}
#endif

}  // namespace reg7140::test
