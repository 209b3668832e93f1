#include "app/report.h"

#include <array>
#include <cstddef>

namespace reg7140 {

namespace {

constexpr std::string_view kSourceName = "reg7140";
constexpr std::string_view kProgramName = "Reg7140";

long code_of(const ReportSite& site, long code) {
  return site.source == CodeSource::kZero ? 0 : code;
}

// One report's text, built in place: the C run-time's formatted output would tie the Windows
// program to more of the system than it needs.
class Text {
 public:
  Text& operator<<(std::string_view part) {
    for (char c : part) {
      if (length_ < buffer_.size()) buffer_[length_++] = c;
    }
    return *this;
  }
  Text& operator<<(long number) {
    std::array<char, 24> digits{};
    std::size_t count = 0;
    // Negative numbers are built digit by digit as negatives, so the lowest one prints too.
    const bool negative = number < 0;
    do {
      const long digit = number % 10;
      digits[count++] = static_cast<char>('0' + (negative ? -digit : digit));
      number /= 10;
    } while (number != 0);
    if (negative) *this << "-";
    while (count > 0) *this << std::string_view(&digits[--count], 1);
    return *this;
  }
  std::string_view view() const { return {buffer_.data(), length_}; }

 private:
  std::array<char, 512> buffer_{};
  std::size_t length_ = 0;
};

}  // namespace

void report_error(const Reporter& reporter, const ReportSite& site, long code) {
  if (reporter.report_level == kSilentLevel) return;
  Text text;
  if (reporter.report_level == kDetailedLevel) {
    text << kSourceName << ": Errorcode " << code_of(site, code) << " returned from " << site.label
         << " on line " << static_cast<long>(site.line) << "\n";
  }
  text << site.message << "\n";
  reporter.console.write(text.view());
}

void print_usage(Console& console, std::string_view message) {
  Text text;
  text << message << "\n\n\tUsage: " << kProgramName
       << " [/D[Level]]\n\n\t/D enables error messages:\n"
       << "\t\tLevel 0 : No output generated\n"
       << "\t\t      1 : Error messages displayed (default)\n"
       << "\t\t      9 : Detailed error messages displayed\n";
  console.write(text.view());
}

}  // namespace reg7140
