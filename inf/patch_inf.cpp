#include "inf/patch_inf.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <span>
#include <string_view>

#include "inf/inf_sites.h"
#include "platform/registry.h"
#include "inf/inserted_text.h"
#include "platform/ascii.h"

namespace reg7140 {

namespace {

constexpr std::size_t kPathCapacity = 128;  // 127 characters and a terminator
constexpr std::size_t kLineCapacity = 256;
constexpr std::size_t kReadLimit = 255;  // so a piece holds at most 254 characters
constexpr std::size_t kNameCapacity = 256;

constexpr std::string_view kInfName = "\\inf\\netzor.inf";
constexpr std::string_view kNewName = "\\inf\\netzor.new";

constexpr std::string_view kManufacturerHeader = "[ZORVAN]";
constexpr std::string_view kDeviceId = "PCMCIA\\ZORVAN-NR_32/8_KV-61C7";
constexpr std::string_view kAddReg = "AddReg=";
constexpr std::string_view kOverrideEntry = "HKR,Override,0000,1,";
constexpr std::string_view kNdis3Entry = "HKR,Ndi\\Install,ndis3,,";

struct Path {
  std::array<char, kPathCapacity> text{};
  std::size_t length = 0;
  std::string_view view() const { return {text.data(), length}; }
};

// A bracketed section name as the job compares it with header lines.
struct SectionName {
  std::array<char, kNameCapacity> text{};
  std::size_t length = 0;
  std::string_view view() const { return {text.data(), length}; }
};

struct InfJob {
  InfJob(TextFiles& job_files, const Reporter& job_reporter)
      : files(job_files), reporter(job_reporter) {}

  TextFiles& files;
  const Reporter& reporter;
  FileHandle in = kNoFile;
  FileHandle out = kNoFile;
  InfState state = InfState::SEEK_MANUFACTURER;
  bool inserted = false;
  std::array<char, kLineCapacity> line{};
  std::size_t line_length = 0;
  SectionName section_name;
  SectionName second_section_name;
  std::array<char, kLineCapacity> saved_line{};
  std::size_t saved_length = 0;
  long saved_in_pos = 0;
  long saved_out_pos = 0;
};

bool is_header(std::string_view piece) { return !piece.empty() && piece[0] == '['; }
bool is_comment(std::string_view piece) { return !piece.empty() && piece[0] == ';'; }
bool is_empty_line(std::string_view piece) { return !piece.empty() && piece[0] == '\n'; }

// Sets `name` to "[" + piece[from, first stop character) + "]"; without a stop character the
// name runs to the end of the piece. Returns where it stopped.
std::size_t take_name(SectionName& name, std::string_view piece, std::size_t from,
                      std::string_view stops) {
  from = std::min(from, piece.size());
  std::size_t stop = piece.find_first_of(stops, from);
  if (stop == std::string_view::npos) stop = piece.size();
  // A piece is shorter than the buffer less its brackets; the bound only guards that.
  const std::size_t count = std::min(stop - from, kNameCapacity - 2);
  name.text[0] = '[';
  std::memcpy(name.text.data() + 1, piece.data() + from, count);
  name.text[count + 1] = ']';
  name.length = count + 2;
  return stop;
}

// A name whose start character is missing: "[]" matches no header a section can have.
void take_missing_name(SectionName& name) {
  name.text[0] = '[';
  name.text[1] = ']';
  name.length = 2;
}

// The name after the first `start` character of the piece, up to a stop character.
std::size_t take_name_after(SectionName& name, std::string_view piece, char start,
                            std::string_view stops) {
  const std::size_t at = piece.find(start);
  if (at == std::string_view::npos) {
    take_missing_name(name);
    return std::string_view::npos;
  }
  return take_name(name, piece, at + 1, stops);
}

// Closes what is open and reports: a failure that ends the job.
void fail(InfJob& job, const ReportSite& site, long code) {
  if (job.in != kNoFile) job.files.close(job.in);
  if (job.out != kNoFile) job.files.close(job.out);
  job.in = kNoFile;
  job.out = kNoFile;
  report_error(job.reporter, site, code);
}

void abandon(InfJob& job, const ReportSite& site) {
  report_error(job.reporter, site, 0);
  job.state = InfState::ABANDONED;
}

bool positions_remembered(const InfJob& job) {
  return job.saved_in_pos != 0 && job.saved_out_pos != 0;
}

void forget_positions(InfJob& job) {
  job.saved_in_pos = 0;
  job.saved_out_pos = 0;
}

// Remembers where the next input line starts and where the current line is about to be written.
bool remember_positions(InfJob& job) {
  long in_pos = 0;
  long out_pos = 0;
  int error = job.files.tell(job.in, &in_pos);
  if (error == 0) error = job.files.tell(job.out, &out_pos);
  if (error != 0) {
    // Writing on at the current position would leave lines in the copy twice.
    fail(job, site::kReposition, error);
    return false;
  }
  job.saved_in_pos = in_pos;
  job.saved_out_pos = out_pos;
  return true;
}

// Moves both files back to the remembered line, so the insertion lands in front of it.
bool rewind_to_remembered(InfJob& job) {
  int error = job.files.seek(job.in, job.saved_in_pos);
  if (error == 0) error = job.files.seek(job.out, job.saved_out_pos);
  if (error != 0) {
    fail(job, site::kReposition, error);
    return false;
  }
  return true;
}

bool insert_override(InfJob& job) {
  job.state = InfState::INSERT_OVERRIDE;
  const bool rewind = positions_remembered(job);
  if (rewind && !rewind_to_remembered(job)) return false;
  for (std::size_t i = 0; i < kOverrideLineCount; ++i) {
    const int error = job.files.write(job.out, override_line(i));
    if (error != 0) {
      fail(job, site::kWriteOverrideBlock, error);
      return false;
    }
  }
  const int error = job.files.write(job.out, "\n");
  if (error != 0) {
    fail(job, site::kWriteOverrideEnd, error);
    return false;
  }
  if (rewind) {
    // The remembered comment line is written next, and the input goes on after it.
    std::memcpy(job.line.data(), job.saved_line.data(), job.saved_length);
    job.line_length = job.saved_length;
    forget_positions(job);
  }
  job.inserted = true;
  job.state = InfState::SEEK_SECOND_REG_SECTION;
  return true;
}

bool insert_memory_base(InfJob& job) {
  job.state = InfState::INSERT_MEMORY_BASE;
  const bool rewind = positions_remembered(job);
  if (rewind && !rewind_to_remembered(job)) return false;
  int error = job.files.write(job.out, kMemoryBaseLine);
  if (error != 0) {
    fail(job, site::kWriteMemoryBase, error);
    return false;
  }
  error = job.files.write(job.out, "\n");
  if (error != 0) {
    fail(job, site::kWriteMemoryBaseEnd, error);
    return false;
  }
  if (rewind) {
    // The remembered empty line.
    job.line[0] = '\n';
    job.line_length = 1;
    forget_positions(job);
  }
  job.inserted = true;
  job.state = InfState::FINISHED;
  return true;
}

// The current state's action on the piece in `line`. False when a failure ended the job.
bool handle_piece(InfJob& job, bool starts_line) {
  const std::string_view piece(job.line.data(), job.line_length);
  if (job.state == InfState::SEEK_NDIS3_REG_SECTION) forget_positions(job);
  // The rest of a long line is no line of its own: a '[' or a line feed in it means nothing.
  if (!starts_line) {
    if (job.state == InfState::ABANDONED) job.inserted = false;
    return true;
  }

  switch (job.state) {
    case InfState::SEEK_MANUFACTURER:
      if (starts_with_folded(piece, kManufacturerHeader)) job.state = InfState::SEEK_MODEL;
      break;
    case InfState::SEEK_MODEL:
      if (piece.find(kDeviceId) != std::string_view::npos) {
        take_name_after(job.section_name, piece, '=', ",\n");
        job.state = InfState::SEEK_INSTALL_SECTION;
      } else if (is_header(piece)) {
        abandon(job, site::kNoModelLine);
      }
      break;
    case InfState::SEEK_INSTALL_SECTION:
      if (starts_with_folded(piece, job.section_name.view())) {
        job.state = InfState::SEEK_INSTALL_ADDREG;
      }
      break;
    case InfState::SEEK_INSTALL_ADDREG:
      if (starts_with_folded(piece, kAddReg)) {
        const std::size_t stop = take_name_after(job.section_name, piece, '=', ",\n");
        if (stop < piece.size() && piece[stop] == ',') {
          take_name(job.second_section_name, piece, stop + 1, " \n");
        } else {
          take_missing_name(job.second_section_name);
        }
        job.state = InfState::SEEK_FIRST_REG_SECTION;
      } else if (is_header(piece)) {
        abandon(job, site::kNoInstallAddReg);
      }
      break;
    case InfState::SEEK_FIRST_REG_SECTION:
      if (starts_with_folded(piece, job.section_name.view())) {
        job.state = InfState::SCAN_FIRST_REG_SECTION;
      }
      break;
    case InfState::SCAN_FIRST_REG_SECTION:
      if (starts_with_folded(piece, kOverrideEntry)) {
        job.state = InfState::SEEK_SECOND_REG_SECTION;
      } else if (is_header(piece)) {
        return insert_override(job);
      } else if (is_comment(piece)) {
        std::memcpy(job.saved_line.data(), piece.data(), piece.size());
        job.saved_length = piece.size();
        if (!remember_positions(job)) return false;
        job.state = InfState::SCAN_FIRST_REG_MARKED;
      }
      break;
    case InfState::SCAN_FIRST_REG_MARKED:
      if (starts_with_folded(piece, kOverrideEntry)) {
        job.state = InfState::SEEK_SECOND_REG_SECTION;
      } else if (is_header(piece)) {
        return insert_override(job);
      }
      break;
    case InfState::SEEK_SECOND_REG_SECTION:
      if (starts_with_folded(piece, job.second_section_name.view())) {
        job.state = InfState::SEEK_NDIS3_LINE;
      }
      break;
    case InfState::SEEK_NDIS3_LINE:
      if (starts_with_folded(piece, kNdis3Entry)) {
        take_name_after(job.section_name, piece, '"', "\"\n");
        job.state = InfState::SEEK_NDIS3_SECTION;
      } else if (is_header(piece)) {
        abandon(job, site::kNoNdis3Line);
      }
      break;
    case InfState::SEEK_NDIS3_SECTION:
      if (starts_with_folded(piece, job.section_name.view())) {
        job.state = InfState::SEEK_NDIS3_ADDREG;
      }
      break;
    case InfState::SEEK_NDIS3_ADDREG:
      if (starts_with_folded(piece, kAddReg)) {
        take_name_after(job.section_name, piece, '=', " \n");
        job.state = InfState::SEEK_NDIS3_REG_SECTION;
      } else if (is_header(piece)) {
        abandon(job, site::kNoNdis3AddReg);
      }
      break;
    case InfState::SEEK_NDIS3_REG_SECTION:
      if (starts_with_folded(piece, job.section_name.view())) {
        job.state = InfState::SCAN_NDIS3_REG_SECTION;
      }
      break;
    case InfState::SCAN_NDIS3_REG_SECTION:
      if (starts_with_folded(piece, kMemoryBaseLine)) {
        job.state = InfState::FINISHED;
      } else if (is_empty_line(piece)) {
        if (job.saved_in_pos == 0 && job.saved_out_pos == 0 && !remember_positions(job)) {
          return false;
        }
      } else if (is_header(piece)) {
        return insert_memory_base(job);
      }
      break;
    case InfState::INSERT_OVERRIDE:
    case InfState::INSERT_MEMORY_BASE:
    case InfState::FINISHED:
      break;
    case InfState::ABANDONED:
      job.inserted = false;
      break;
  }
  return true;
}

// The Windows directory followed by `name`; null when it fits, else the site to report.
const ReportSite* build_path(Environment& environment, std::string_view name, Path& path) {
  const char* windir = environment.get_env("WINDIR");
  if (windir == nullptr || *windir == '\0') return &site::kInfNoWindir;
  const std::string_view directory(windir);
  if (directory.size() + name.size() > kPathCapacity - 1) return &site::kInfPathTooLong;
  std::memcpy(path.text.data(), directory.data(), directory.size());
  std::memcpy(path.text.data() + directory.size(), name.data(), name.size());
  path.length = directory.size() + name.size();
  path.text[path.length] = '\0';
  return nullptr;
}

}  // namespace

void patch_inf_file(TextFiles& files, Environment& environment, const Reporter& reporter) {
  InfJob job{files, reporter};
  Path inf_path;
  Path new_path;

  if (const ReportSite* failure = build_path(environment, kInfName, inf_path)) {
    report_error(reporter, *failure, failure == &site::kInfPathTooLong ? kErrorFilenameExcedRange : 0);
    return;
  }
  // A read-only INF file could not be replaced by the patched copy.
  if (!files.access(inf_path.view(), AccessMode::kReadWrite)) files.make_writable(inf_path.view());
  int error = files.open_text(inf_path.view(), OpenMode::kReadText, &job.in);
  if (error != 0) {
    job.in = kNoFile;
    fail(job, site::kOpenInf, error);
    return;
  }
  if (const ReportSite* failure = build_path(environment, kNewName, new_path)) {
    fail(job, *failure, failure == &site::kInfPathTooLong ? kErrorFilenameExcedRange : 0);
    return;
  }
  error = files.open_text(new_path.view(), OpenMode::kWriteText, &job.out);
  if (error != 0) {
    job.out = kNoFile;
    fail(job, site::kCreateScratch, error);
    return;
  }

  bool at_line_start = true;
  bool ended_cleanly = false;
  for (;;) {
    const LineResult result = files.read_line(job.in, std::span(job.line.data(), kReadLimit));
    if (result.status == LineStatus::kEndOfFile) {
      ended_cleanly = files.ended_cleanly(job.in);
      break;
    }
    if (result.status != LineStatus::kLine) {
      fail(job, site::kReadInf, result.error);
      return;
    }
    job.line_length = std::min(result.length, kReadLimit - 1);
    if (!handle_piece(job, at_line_start)) return;
    // After a rewind this is the remembered line, so it tells how the re-read input goes on.
    at_line_start = job.line_length > 0 && job.line[job.line_length - 1] == '\n';
    error = files.write(job.out, std::string_view(job.line.data(), job.line_length));
    if (error != 0) {
      fail(job, site::kWriteLine, error);
      return;
    }
  }

  files.close(job.in);
  job.in = kNoFile;
  // A write error can surface only now; the copy must not replace the INF file then.
  error = files.close(job.out);
  job.out = kNoFile;
  if (error != 0) {
    report_error(reporter, site::kCloseScratch, error);
    return;
  }
  if (!job.inserted) return;
  if (!ended_cleanly) {
    report_error(reporter, site::kDataAfterEofMark, 0);
    return;
  }
  error = files.replace_file(new_path.view(), inf_path.view());
  if (error != 0) report_error(reporter, site::kReplaceInf, error);
}

}  // namespace reg7140
