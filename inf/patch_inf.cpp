// Sections of this file:
//   1. The job's data: fixed buffers, the states of the section chain
//   2. Section names and remembered positions
//   3. The two insertions
//   4. The state machine, a piece of a line at a time
//   5. The copy from start to end, and the commit
#include "inf/patch_inf.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <span>
#include <string_view>

#include "inf/inf_sites.h"
#include "inf/inserted_text.h"
#include "platform/ascii.h"
#include "platform/fixed_text.h"
#include "platform/windows_errors.h"

namespace reg7140 {

namespace {

// ---- 1. The job's data: fixed buffers, the states of the section chain ------------------------

constexpr std::size_t kInfPathCapacity = 128;  // 127 characters and a terminator
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

using InfPath = FixedText<kInfPathCapacity>;

// Where the job stands in the chain of sections from the manufacturer's to the adapter's
// registry sections.
enum class State {
  kSeekManufacturer,
  kSeekModel,
  kSeekInstallSection,
  kSeekInstallAddReg,
  kSeekFirstRegSection,
  kScanFirstRegSection,
  kScanFirstRegMarked,  // a comment line of the section is remembered
  kSeekSecondRegSection,
  kSeekNdis3Line,
  kSeekNdis3Section,
  kSeekNdis3AddReg,
  kSeekNdis3RegSection,
  kScanNdis3RegSection,
  kFinished,
  kAbandoned,
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
  const Reporter& reporter;  // for the reports of an abandoned edit; the copy goes on after them
  FileHandle in = kNoFile;
  FileHandle out = kNoFile;
  State state = State::kSeekManufacturer;
  bool inserted = false;
  std::array<char, kLineCapacity> line{};
  std::size_t line_length = 0;
  SectionName section_name;
  SectionName second_section_name;
  std::array<char, kLineCapacity> saved_line{};
  std::size_t saved_length = 0;
  // Where to go back to for an insertion in front of a remembered line.
  bool remembered = false;
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

// ---- 2. Section names and remembered positions ------------------------------------------------

// The chain broke: nothing is inserted, and the copy goes on to the end unchanged.
void abandon(InfJob& job, const ReportSite& site) {
  report_error(job.reporter, site);
  job.state = State::kAbandoned;
}

void forget_positions(InfJob& job) { job.remembered = false; }

// Remembers where the next input line starts and where the current line is about to be written.
// Writing on after a failure here would leave lines in the copy twice.
Failure remember_positions(InfJob& job) {
  int error = job.files.tell(job.in, &job.saved_in_pos);
  if (error == 0) error = job.files.tell(job.out, &job.saved_out_pos);
  if (error != 0) return {&site::kReposition, error};
  job.remembered = true;
  return {};
}

// Moves both files back to the remembered line, so the insertion lands in front of it.
Failure rewind_to_remembered(InfJob& job) {
  int error = job.files.seek(job.in, job.saved_in_pos);
  if (error == 0) error = job.files.seek(job.out, job.saved_out_pos);
  if (error != 0) return {&site::kReposition, error};
  return {};
}

// ---- 3. The two insertions ----------------------------------------------------------------------

Failure insert_override(InfJob& job) {
  const bool rewind = job.remembered;
  if (rewind) {
    if (const Failure failure = rewind_to_remembered(job)) return failure;
  }
  for (std::size_t i = 0; i < kOverrideLineCount; ++i) {
    const int error = job.files.write(job.out, override_line(i));
    if (error != 0) return {&site::kWriteOverrideBlock, error};
  }
  const int error = job.files.write(job.out, "\n");
  if (error != 0) return {&site::kWriteOverrideEnd, error};
  if (rewind) {
    // The remembered comment line is written next, and the input goes on after it.
    std::memcpy(job.line.data(), job.saved_line.data(), job.saved_length);
    job.line_length = job.saved_length;
  }
  job.inserted = true;
  job.state = State::kSeekSecondRegSection;
  return {};
}

Failure insert_memory_base(InfJob& job) {
  const bool rewind = job.remembered;
  if (rewind) {
    if (const Failure failure = rewind_to_remembered(job)) return failure;
  }
  int error = job.files.write(job.out, kMemoryBaseLine);
  if (error != 0) return {&site::kWriteMemoryBase, error};
  error = job.files.write(job.out, "\n");
  if (error != 0) return {&site::kWriteMemoryBaseEnd, error};
  if (rewind) {
    // The remembered empty line.
    job.line[0] = '\n';
    job.line_length = 1;
  }
  job.inserted = true;
  job.state = State::kFinished;
  return {};
}

// ---- 4. The state machine, a piece of a line at a time ---------------------------------------

// The current state's action on the piece in `line`; a failure ends the job.
Failure handle_piece(InfJob& job, bool starts_line) {
  const std::string_view piece(job.line.data(), job.line_length);
  // The only place positions are dropped: only the scan of the memory base's section reads them
  // after the override block, and it is entered from this state alone.
  if (job.state == State::kSeekNdis3RegSection) forget_positions(job);
  // The rest of a long line is no line of its own: a '[' or a line feed in it means nothing.
  if (!starts_line) {
    if (job.state == State::kAbandoned) job.inserted = false;
    return {};
  }

  switch (job.state) {
    case State::kSeekManufacturer:
      if (starts_with_folded(piece, kManufacturerHeader)) job.state = State::kSeekModel;
      break;
    case State::kSeekModel:
      if (piece.find(kDeviceId) != std::string_view::npos) {
        take_name_after(job.section_name, piece, '=', ",\n");
        job.state = State::kSeekInstallSection;
      } else if (is_header(piece)) {
        abandon(job, site::kNoModelLine);
      }
      break;
    case State::kSeekInstallSection:
      if (starts_with_folded(piece, job.section_name.view())) {
        job.state = State::kSeekInstallAddReg;
      }
      break;
    case State::kSeekInstallAddReg:
      if (starts_with_folded(piece, kAddReg)) {
        const std::size_t stop = take_name_after(job.section_name, piece, '=', ",\n");
        if (stop < piece.size() && piece[stop] == ',') {
          take_name(job.second_section_name, piece, stop + 1, " \n");
        } else {
          take_missing_name(job.second_section_name);
        }
        job.state = State::kSeekFirstRegSection;
      } else if (is_header(piece)) {
        abandon(job, site::kNoInstallAddReg);
      }
      break;
    case State::kSeekFirstRegSection:
      if (starts_with_folded(piece, job.section_name.view())) {
        job.state = State::kScanFirstRegSection;
      }
      break;
    case State::kScanFirstRegSection:
      if (starts_with_folded(piece, kOverrideEntry)) {
        job.state = State::kSeekSecondRegSection;
      } else if (is_header(piece)) {
        return insert_override(job);
      } else if (is_comment(piece)) {
        std::memcpy(job.saved_line.data(), piece.data(), piece.size());
        job.saved_length = piece.size();
        if (const Failure failure = remember_positions(job)) return failure;
        job.state = State::kScanFirstRegMarked;
      }
      break;
    case State::kScanFirstRegMarked:
      if (starts_with_folded(piece, kOverrideEntry)) {
        job.state = State::kSeekSecondRegSection;
      } else if (is_header(piece)) {
        return insert_override(job);
      }
      break;
    case State::kSeekSecondRegSection:
      if (starts_with_folded(piece, job.second_section_name.view())) {
        job.state = State::kSeekNdis3Line;
      }
      break;
    case State::kSeekNdis3Line:
      if (starts_with_folded(piece, kNdis3Entry)) {
        take_name_after(job.section_name, piece, '"', "\"\n");
        job.state = State::kSeekNdis3Section;
      } else if (is_header(piece)) {
        abandon(job, site::kNoNdis3Line);
      }
      break;
    case State::kSeekNdis3Section:
      if (starts_with_folded(piece, job.section_name.view())) {
        job.state = State::kSeekNdis3AddReg;
      }
      break;
    case State::kSeekNdis3AddReg:
      if (starts_with_folded(piece, kAddReg)) {
        take_name_after(job.section_name, piece, '=', " \n");
        job.state = State::kSeekNdis3RegSection;
      } else if (is_header(piece)) {
        abandon(job, site::kNoNdis3AddReg);
      }
      break;
    case State::kSeekNdis3RegSection:
      if (starts_with_folded(piece, job.section_name.view())) {
        job.state = State::kScanNdis3RegSection;
      }
      break;
    case State::kScanNdis3RegSection:
      if (starts_with_folded(piece, kMemoryBaseLine)) {
        job.state = State::kFinished;
      } else if (is_empty_line(piece)) {
        if (!job.remembered) {
          if (const Failure failure = remember_positions(job)) return failure;
        }
      } else if (is_header(piece)) {
        return insert_memory_base(job);
      }
      break;
    case State::kFinished:
      break;
    case State::kAbandoned:
      job.inserted = false;
      break;
  }
  return {};
}

// ---- 5. The copy from start to end, and the commit ----------------------------------------------

// The Windows directory followed by `name`.
Failure build_path(Environment& environment, std::string_view name, InfPath* path) {
  const char* windir = environment.get_env("WINDIR");
  if (windir == nullptr || *windir == '\0') return {&site::kInfNoWindir, 0};
  if (!path->assign(windir) || !path->append(name)) {
    return {&site::kInfPathTooLong, kErrorFilenameExcedRange};
  }
  return {};
}

// A text file open for the length of a scope.
class ScopedFile {
 public:
  explicit ScopedFile(TextFiles& files) : files_(files) {}
  ScopedFile(const ScopedFile&) = delete;
  ScopedFile& operator=(const ScopedFile&) = delete;
  ~ScopedFile() { close(); }
  FileHandle* receive() { return &handle_; }
  FileHandle get() const { return handle_; }
  // 0, or the error of a write that surfaces only now.
  int close() {
    const int error = handle_ != kNoFile ? files_.close(handle_) : 0;
    handle_ = kNoFile;
    return error;
  }

 private:
  TextFiles& files_;
  FileHandle handle_ = kNoFile;
};

// Copies the INF file into the scratch file piece by piece, through the state machine. Both
// files are closed when it returns; `commit` tells whether the copy is to replace the INF file.
Failure copy_inf(InfJob& job, Environment& environment, std::string_view inf_path,
                 InfPath* new_path, bool* commit) {
  ScopedFile in(job.files);
  ScopedFile out(job.files);
  int error = job.files.open_text(inf_path, OpenMode::kReadText, in.receive());
  if (error != 0) return {&site::kOpenInf, error};
  if (const Failure failure = build_path(environment, kNewName, new_path)) return failure;
  error = job.files.open_text(new_path->view(), OpenMode::kWriteText, out.receive());
  if (error != 0) return {&site::kCreateScratch, error};
  job.in = in.get();
  job.out = out.get();

  bool at_line_start = true;
  bool ended_cleanly = false;
  for (;;) {
    const LineResult result = job.files.read_line(job.in, std::span(job.line.data(), kReadLimit));
    if (result.status == LineStatus::kEndOfFile) {
      ended_cleanly = job.files.ended_cleanly(job.in);
      break;
    }
    if (result.status != LineStatus::kLine) return {&site::kReadInf, result.error};
    job.line_length = std::min(result.length, kReadLimit - 1);
    if (const Failure failure = handle_piece(job, at_line_start)) return failure;
    // After a rewind this is the remembered line, so it tells how the re-read input goes on.
    at_line_start = job.line_length > 0 && job.line[job.line_length - 1] == '\n';
    error = job.files.write(job.out, std::string_view(job.line.data(), job.line_length));
    if (error != 0) return {&site::kWriteLine, error};
  }

  in.close();
  // A write error can surface only now; the copy must not replace the INF file then.
  if (const int close_error = out.close(); close_error != 0) {
    return {&site::kCloseScratch, close_error};
  }
  if (job.inserted && !ended_cleanly) return {&site::kDataAfterEofMark, 0};
  *commit = job.inserted;
  return {};
}

}  // namespace

void patch_inf_file(TextFiles& files, Environment& environment, const Reporter& reporter) {
  InfPath inf_path;
  if (const Failure failure = build_path(environment, kInfName, &inf_path)) {
    report_error(reporter, *failure.site, failure.code);
    return;
  }
  // A read-only INF file could not be replaced by the patched copy.
  if (!files.access(inf_path.view(), AccessMode::kReadWrite)) files.make_writable(inf_path.view());
  InfJob job{files, reporter};
  InfPath new_path;
  bool commit = false;
  if (const Failure failure = copy_inf(job, environment, inf_path.view(), &new_path, &commit)) {
    report_error(reporter, *failure.site, failure.code);
    return;
  }
  if (!commit) return;
  const int error = files.replace_file(new_path.view(), inf_path.view());
  if (error != 0) report_error(reporter, site::kReplaceInf, error);
}

}  // namespace reg7140
