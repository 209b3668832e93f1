#include "platform/safe_replace.h"

#include <cerrno>

namespace reg7140 {
namespace {

constexpr int kNameCandidates = 100;
constexpr std::size_t kMaxBaseName = 8;

using CommandText = FixedText<kMaxCommandLength + 1>;
// The interpreter's own quoted name, " /c " and the command.
using InterpreterLine = FixedText<kMaxPath + 6 + kMaxCommandLength>;

constexpr std::string_view kFallbackInterpreter = "cmd.exe";

bool exists(FileSystemOps& ops, const char* path) {
  std::int64_t size = 0;
  return ops.file_size(path, &size);
}

// The first sibling name that no file holds yet: 0 or errno. A file that is already there may be
// someone's, so it is never overwritten or deleted.
int free_sibling(FileSystemOps& ops, std::string_view path, char tag, PathText* name) {
  for (int number = 0; number < kNameCandidates; ++number) {
    if (!sibling_name(path, tag, number, name)) return ENAMETOOLONG;
    if (!exists(ops, name->c_str())) return 0;
  }
  return EEXIST;
}

// Quotes protect blanks, but not the variable sign, and nothing can hold a quote inside quotes;
// the rest cannot occur in a Windows file name and would redirect or pipe.
bool fits_in_quotes(std::string_view path) {
  if (path.empty()) return false;
  for (char c : path) {
    if (static_cast<unsigned char>(c) < 0x20) return false;
    if (c == '"' || c == '%' || c == '<' || c == '>' || c == '|') return false;
  }
  return true;
}

}  // namespace

bool sibling_name(std::string_view path, char tag, int number, PathText* name) {
  // No substr() from an offset: its range check would link in the exception machinery.
  const std::size_t separator = path.find_last_of("\\/:");
  const std::size_t name_start = separator == std::string_view::npos ? 0 : separator + 1;
  std::string_view base(path.data() + name_start, path.size() - name_start);
  if (const std::size_t dot = base.find_last_of('.'); dot != std::string_view::npos) {
    base.remove_suffix(base.size() - dot);
  }
  if (base.size() > kMaxBaseName) base.remove_suffix(base.size() - kMaxBaseName);

  if (!name->assign(path.substr(0, name_start))) return false;
  // Further dots in the base name would make the extension ambiguous.
  for (char c : base) {
    if (!name->append(c == '.' ? '_' : c)) return false;
  }
  const char suffix[] = {'.', tag, static_cast<char>('0' + number / 10 % 10),
                         static_cast<char>('0' + number % 10)};
  return name->append(std::string_view(suffix, sizeof(suffix)));
}

bool run_in_interpreter(FileSystemOps& ops, std::string_view command) {
  InterpreterLine line;
  // A name with a quote in it could not be quoted as the first word of the line.
  if (const char* interpreter = ops.command_interpreter();
      interpreter != nullptr && *interpreter != '\0' &&
      std::string_view(interpreter).find('"') == std::string_view::npos && line.assign("\"") &&
      line.append(interpreter) && line.append("\" /c ") && line.append(command) &&
      ops.run_program(interpreter, line.data())) {
    return true;
  }
  return line.assign(kFallbackInterpreter) && line.append(" /c ") && line.append(command) &&
         ops.run_program(nullptr, line.data());
}

int replace_file_via(FileSystemOps& ops, std::string_view from_path, std::string_view to_path) {
  PathText from;
  PathText to;
  if (!from.assign(from_path) || !to.assign(to_path)) return ENAMETOOLONG;
  if (!exists(ops, from.c_str())) return ENOENT;

  ops.flush(from.c_str());
  const WinError move_error = ops.move_replacing(from.c_str(), to.c_str());
  if (move_error != kErrorCallNotImplemented) return errno_from_windows_error(move_error);

  // Windows 95 has no replacing move, and its rename refuses a target that exists. The old file
  // steps aside under a backup name until the new one is in place, so that a failure part way
  // leaves the old content under one of the two names.
  if (!exists(ops, to.c_str())) return ops.rename(from.c_str(), to.c_str());
  PathText backup;
  if (const int error = free_sibling(ops, to.view(), 'b', &backup); error != 0) return error;
  if (const int moved = ops.rename(to.c_str(), backup.c_str()); moved != 0) return moved;
  if (const int moved = ops.rename(from.c_str(), to.c_str()); moved != 0) {
    ops.rename(backup.c_str(), to.c_str());
    return moved;
  }
  // A backup that cannot be deleted only takes room; the replacement itself is done.
  ops.remove(backup.c_str());
  return 0;
}

int copy_file_via_interpreter(FileSystemOps& ops, std::string_view from_path,
                              std::string_view to_path) {
  PathText from;
  if (!from.assign(from_path)) return ENAMETOOLONG;
  std::int64_t source_size = 0;
  if (!ops.file_size(from.c_str(), &source_size)) return ENOENT;

  // A fresh name: copy would ask before overwriting, and with its output sent to NUL nobody
  // would see the question.
  PathText scratch;
  if (const int error = free_sibling(ops, to_path, 't', &scratch); error != 0) return error;
  if (!fits_in_quotes(from.view()) || !fits_in_quotes(scratch.view())) return EINVAL;
  CommandText command;
  if (!command.assign("copy \"") || !command.append(from.view()) || !command.append("\" \"") ||
      !command.append(scratch.view()) || !command.append("\" > NUL")) {
    return ENAMETOOLONG;
  }

  // Whether the interpreter started tells nothing: what it left behind does.
  run_in_interpreter(ops, command.view());

  // The interpreter of Windows 95 gives no exit status for copy.
  std::int64_t copied_size = -1;
  if (!ops.file_size(scratch.c_str(), &copied_size)) return EIO;
  const int error =
      copied_size == source_size ? replace_file_via(ops, scratch.view(), to_path) : EIO;
  if (error != 0) ops.remove(scratch.c_str());
  return error;
}

}  // namespace reg7140
