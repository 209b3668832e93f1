#include "app/report.h"

#include <array>
#include <cstdio>

namespace reg7140 {

namespace {

constexpr std::string_view kSourceName = "reg7140";
constexpr std::string_view kProgramName = "Reg7140";

long code_of(const ReportSite& site, long code) {
  switch (site.source) {
    case CodeSource::kZero:
      return 0;
    case CodeSource::kFixed:
      return site.fixed_code;
    case CodeSource::kCallResult:
    case CodeSource::kErrno:
      break;
  }
  return code;
}

}  // namespace

void report_error(const Reporter& reporter, const ReportSite& site, long code) {
  if (reporter.report_level == kSilentLevel) return;
  std::array<char, 512> text{};
  int length = 0;
  if (reporter.report_level == kDetailedLevel) {
    length = std::snprintf(
        text.data(), text.size(), "%.*s: Errorcode %ld returned from %.*s on line %d\n%.*s\n",
        static_cast<int>(kSourceName.size()), kSourceName.data(), code_of(site, code),
        static_cast<int>(site.label.size()), site.label.data(), site.line,
        static_cast<int>(site.message.size()), site.message.data());
  } else {
    length = std::snprintf(text.data(), text.size(), "%.*s\n",
                           static_cast<int>(site.message.size()), site.message.data());
  }
  if (length > 0)
    reporter.console.write(std::string_view(text.data(), static_cast<std::size_t>(length)));
}

void print_usage(Console& console, std::string_view message) {
  std::array<char, 512> text{};
  int length = std::snprintf(text.data(), text.size(),
                             "%.*s\n\n\tUsage: %.*s [/D[Level]]\n\n\t/D enables error messages:\n",
                             static_cast<int>(message.size()), message.data(),
                             static_cast<int>(kProgramName.size()), kProgramName.data());
  if (length > 0) console.write(std::string_view(text.data(), static_cast<std::size_t>(length)));
  console.write("\t\tLevel 0 : No output generated\n");
  console.write("\t\t      1 : Error messages displayed (default)\n");
  console.write("\t\t      9 : Detailed error messages displayed\n");
}

}  // namespace reg7140
