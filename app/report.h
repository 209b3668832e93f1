// Reporting: the one table of report sites, the two report forms and the usage text.
#pragma once

#include <string_view>

#include "platform/console.h"

namespace reg7140 {

// Where a report's error code comes from.
enum class CodeSource {
  kZero,        // always 0
  kCallResult,  // the status the failed registry call returned
  kErrno,       // the C run-time's errno at the failure, 0 where there is none
  kFixed,       // the site's own fixed code
};

struct ReportSite {
  int line;
  std::string_view label;
  std::string_view message;
  CodeSource source;
  long fixed_code;
};

namespace site {

inline constexpr std::string_view kNeedsWindows95 = "This program requires Windows 95";

// Version gate.
inline constexpr ReportSite kVersionNotWin9x{152, "GetVersion", kNeedsWindows95, CodeSource::kZero,
                                             0};
inline constexpr ReportSite kVersionQueryFailed{158, "GetVersionEx", kNeedsWindows95,
                                                CodeSource::kZero, 0};
inline constexpr ReportSite kVersionPlatformId{162, "GetVersionEx", kNeedsWindows95,
                                               CodeSource::kZero, 0};
inline constexpr ReportSite kVersionMajor{166, "GetVersionEx", kNeedsWindows95, CodeSource::kZero,
                                          0};

// Registry job.
inline constexpr ReportSite kOpenPcmcia{
    241, "RegOpenKeyEx", "Unable to access PCMCIA Key on machine.", CodeSource::kCallResult, 0};
inline constexpr ReportSite kOpenDevice{
    249, "RegOpenKeyEx", "ZV-7140 not previously installed on PC.", CodeSource::kCallResult, 0};
inline constexpr ReportSite kOpenLogConfig{257, "RegOpenKeyEx",
                                           "Could not access ZV-7140 LogConfig on PCCARD 0.",
                                           CodeSource::kCallResult, 0};
inline constexpr ReportSite kOpenInstance{276, "RegOpenKeyEx",
                                          "Could not access ZV-7140 configuration on PCCARD 0.",
                                          CodeSource::kCallResult, 0};
inline constexpr ReportSite kNoRoom{
    314, "RegQueryValueEx", "Not enough room for Memory Base configuration.", CodeSource::kZero, 0};
inline constexpr ReportSite kSetForcedConfig{
    341, "RegSetValueEx", "Could not override ForcedConfig parameter in ZV-7140 ENUM key.",
    CodeSource::kCallResult, 0};
inline constexpr ReportSite kQueryDriver{352, "RegQueryValueEx",
                                         "Could not access driver parameter for ZV-7140.",
                                         CodeSource::kCallResult, 0};
inline constexpr ReportSite kOpenClassKey{363, "RegOpenKeyEx", "Could not access ZV-7140 Net path.",
                                          CodeSource::kCallResult, 0};
inline constexpr ReportSite kSetMemoryBase{
    370, "RegSetValueEx", "Could not add MemorybaseAddress parameter in ZV-7140 parameters.",
    CodeSource::kCallResult, 0};
inline constexpr ReportSite kCreateOverride{377, "RegCreateKeyEx",
                                            "Could not create ZV-7140 override CIS key.",
                                            CodeSource::kCallResult, 0};
inline constexpr ReportSite kSetOverride{
    390, "RegSetValueEx", "Could not set ZV-7140 override CIS value.", CodeSource::kCallResult, 0};
inline constexpr ReportSite kFlushRegistry{394, "RegFlushKey", "Could not save the registry.",
                                           CodeSource::kCallResult, 0};

// INF job.
inline constexpr ReportSite kInfNoWindir{481, "getenv", "Could not find Windows directory.",
                                         CodeSource::kZero, 0};
inline constexpr ReportSite kInfPathTooLong{482, "getenv", "Path to NETZOR.INF file too long.",
                                            CodeSource::kFixed, 206};
inline constexpr ReportSite kOpenInf{486, "fopen", "Could not open NETZOR.INF file.",
                                     CodeSource::kErrno, 0};
inline constexpr ReportSite kCreateScratch{495, "fopen", "Could not create netzor.new file.",
                                           CodeSource::kErrno, 0};
inline constexpr ReportSite kReadInf{506, "fgets", "Unexpected end of file.", CodeSource::kErrno,
                                     0};
inline constexpr ReportSite kNoModelLine{536, "NETZOR.INF",
                                         "Could not find support for ZV-7140 in netzor.new file.",
                                         CodeSource::kZero, 0};
inline constexpr ReportSite kNoInstallAddReg{
    580, "NETZOR.INF", "Could not find AddReg in [pcmcia1.ndi] section.", CodeSource::kZero, 0};
inline constexpr ReportSite kReposition{600, "fseek", "Could not reposition netzor.new file.",
                                        CodeSource::kErrno, 0};
inline constexpr ReportSite kWriteOverrideBlock{
    636, "fputs", "Could not write override info to netzor.new file.", CodeSource::kErrno, 0};
inline constexpr ReportSite kWriteOverrideEnd{
    642, "fputs", "Could not write override info to netzor.new file.", CodeSource::kErrno, 0};
inline constexpr ReportSite kNoNdis3Line{686, "NETZOR.INF",
                                         "No ndis3 install section found in [ZVPCMCIA.ndi.reg].",
                                         CodeSource::kZero, 0};
inline constexpr ReportSite kNoNdis3AddReg{
    716, "NETZOR.INF", "No AddReg value found in [ZVPCMCIA.ndis3] section.", CodeSource::kZero, 0};
inline constexpr ReportSite kWriteMemoryBase{
    763, "fputs", "Could not write new key to netzor.new file.", CodeSource::kErrno, 0};
inline constexpr ReportSite kWriteMemoryBaseEnd{
    768, "fputs", "Could not write new key to netzor.new file.", CodeSource::kErrno, 0};
inline constexpr ReportSite kWriteLine{793, "fputs", "Could not write data to netzor.new file.",
                                       CodeSource::kErrno, 0};
inline constexpr ReportSite kCloseScratch{793, "fclose", "Could not write data to netzor.new file.",
                                          CodeSource::kErrno, 0};
inline constexpr ReportSite kReplaceInf{800, "rename", "Could not replace NETZOR.INF file.",
                                        CodeSource::kErrno, 0};
inline constexpr ReportSite kDataAfterEofMark{
    802, "NETZOR.INF", "NETZOR.INF holds data after its end of file mark. File not replaced.",
    CodeSource::kZero, 0};

// Driver job.
inline constexpr ReportSite kDriverNoWindir{831, "getenv", "Could not find Windows directory.",
                                            CodeSource::kZero, 0};
inline constexpr ReportSite kDriverPathTooLong{832, "stat", "Path to driver file too long.",
                                               CodeSource::kFixed, 206};
inline constexpr ReportSite kNoSourceDriver{
    836, "stat", "Could not find driver on source disk. Driver not updated.", CodeSource::kFixed,
    2};
inline constexpr ReportSite kCopyDriver{845, "copy", "Could not copy driver from source disk.",
                                        CodeSource::kErrno, 0};

}  // namespace site

inline constexpr int kSilentLevel = 0;
inline constexpr int kDetailedLevel = 9;

struct Reporter {
  Console& console;
  int report_level = kSilentLevel;
};

// Prints one report in the form `report_level` selects. `code` is used by the sites whose code
// comes from the failure (call result or errno); the others carry their own.
void report_error(const Reporter& reporter, const ReportSite& site, long code = 0);

// The usage text headed by `message`; printed at every level. The caller ends the run with 1.
void print_usage(Console& console, std::string_view message);

inline constexpr std::string_view kBadCommandLine = "Could not parse command line";

}  // namespace reg7140
