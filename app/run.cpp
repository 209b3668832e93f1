#include "app/run.h"

#include <span>

#include "app/report.h"
#include "app/switches.h"
#include "app/version_gate.h"
#include "driver/update_driver.h"
#include "inf/patch_inf.h"
#include "registry/update_registry.h"

namespace reg7140 {

int run(Machine& machine, int argc, const char* const* argv) {
  const std::span<const char* const> arguments(argv, argc > 0 ? static_cast<std::size_t>(argc) : 0);

  // The gate runs before the switches are read; the reporting switches are looked at first all
  // the same, silently, so that a refusal is visible to whoever asked for messages.
  Switches early;
  parse_switches(arguments, &early);
  if (!check_windows_version(machine.version, Reporter{machine.console, early.report_level})) {
    return 1;
  }

  Switches switches;
  if (!parse_switches(arguments, &switches)) {
    print_usage(machine.console, kBadCommandLine);
    return 1;
  }
  const Reporter reporter{machine.console, switches.report_level};

  update_registry(machine.registry, reporter);
  if (switches.update_files) {
    patch_inf_file(machine.text_files, machine.environment, reporter);
    // The source disk is the directory the program was started from; a program found through
    // the search path names none, and its own file tells where it lies.
    std::string_view program_path =
        (!arguments.empty() && arguments[0] != nullptr) ? arguments[0] : "";
    if (!names_directory(program_path)) program_path = machine.environment.program_file();
    update_driver_file(machine.file_store, machine.environment, reporter, program_path);
  }
  return 0;
}

}  // namespace reg7140
