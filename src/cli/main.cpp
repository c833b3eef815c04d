// ferrowipe-cli: the program's operations without windows. Standard output carries exactly the
// lines the window would show; --debug sends the debug lines to standard error.
#include <clocale>
#include <iostream>
#include <string>

#include "cli/command_line.hpp"
#include "cli/commands.hpp"
#include "cli/terminal_safe.hpp"
#include "core/logs.hpp"
#include "device/device_io.hpp"

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  using namespace fw;
  const cli::CommandLine line = cli::ParseCommandLine(argc, argv);
  if (line.exitStatus) return *line.exitStatus;
  DebugMode = line.debug;

  // Lines carry device strings: a terminal must show them, never obey them.
  const auto print = [](const std::string& line) {
    std::cout << cli::TerminalSafe(line) << '\n' << std::flush;
  };
  SetDebugLineSink([](const std::string& line) { std::cerr << cli::TerminalSafe(line) << '\n'; });
  SetDetailsSink(print);
  SetSmartSink(print);

  const std::unique_ptr<DeviceIo> io = CreateDeviceBackend();
  if (!io) {
    std::cerr << "ferrowipe-cli: no device backend\n";
    return cli::kExitFailure;
  }
  return line.run(*io, line.options);
}
