// Reporting: the site type, the two report forms and the usage text. Each job defines its own
// report sites beside it.
#pragma once

#include <string_view>

#include "platform/console.h"

namespace reg7140 {

// Where a report's error code comes from.
enum class CodeSource {
  kZero,          // always 0
  kCallResult,    // the status the failed registry call returned
  kErrno,         // the C run-time's errno at the failure, 0 where there is none
  kWindowsError,  // a Windows error code the site names
};

// A place where the program reports a failure.
struct ReportSite {
  int line;
  std::string_view label;
  std::string_view message;
  CodeSource source;
};

// A failure of a step, to be reported once what the step held is released: where it is reported
// and with which code; no site when the step went through.
struct Failure {
  const ReportSite* site = nullptr;
  long code = 0;
  explicit operator bool() const { return site != nullptr; }
};

inline constexpr int kSilentLevel = 0;
inline constexpr int kDetailedLevel = 9;

struct Reporter {
  Console& console;
  int report_level = kSilentLevel;
};

// Prints one report in the form `report_level` selects. `code` is the failure's code; sites
// whose code is always 0 print 0 whatever is passed.
void report_error(const Reporter& reporter, const ReportSite& site, long code = 0);

// The usage text headed by `message`; printed at every level. The caller ends the run with 1.
void print_usage(Console& console, std::string_view message);

inline constexpr std::string_view kBadCommandLine = "Could not parse command line";

}  // namespace reg7140
