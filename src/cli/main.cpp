// ferrowipe-cli: the program's operations without windows. Standard output carries exactly the
// lines the window would show; --debug sends the debug lines to standard error.
#include <clocale>
#include <iostream>
#include <map>
#include <string>

#include "cli/commands.hpp"
#include "cli/terminal_safe.hpp"
#include "core/logs.hpp"
#include "device/device_io.hpp"

namespace {

constexpr const char* kUsage =
    "usage: ferrowipe-cli [--debug] COMMAND\n"
    "  list                       the disks, one per line: bus, model, firmware, serial, sectors, capacity\n"
    "  details DISK               the device-details report\n"
    "  smart DISK                 the S.M.A.R.T. report\n"
    "  format [--quick] --yes DISK  zero-fill the disk (--quick: its first 10,240,000 bytes)\n"
    "DISK is the number in the caption's brackets, or the device path as 'list' shows it.\n";

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  using namespace fw;
  std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && args.front() == "--debug") {
    DebugMode = true;
    args.erase(args.begin());
  }
  if (args.empty()) {
    std::cerr << kUsage;
    return cli::kExitUsage;
  }
  const std::string command = args.front();
  args.erase(args.begin());

  using Command = int (*)(DeviceIo&, const cli::Args&);
  const std::map<std::string, Command> commands{
      {"list", cli::RunList},
      {"details", cli::RunDetails},
      {"smart", cli::RunSmart},
      {"format", cli::RunFormat},
  };
  const auto it = commands.find(command);
  if (it == commands.end()) {
    std::cerr << kUsage;
    return cli::kExitUsage;
  }

  // Lines carry device strings: a terminal must show them, never obey them.
  const auto print = [](const std::string& line) {
    std::cout << cli::TerminalSafe(line) << '\n' << std::flush;
  };
  SetDebugLineSink([](const std::string& line) { std::cerr << cli::TerminalSafe(line) << '\n'; });
  SetFormatLogSink(print);
  SetDetailsSink(print);
  SetSmartSink(print);

  const std::unique_ptr<DeviceIo> io = CreateDeviceBackend();
  if (!io) {
    std::cerr << "ferrowipe-cli: no device backend\n";
    return cli::kExitFailure;
  }
  return it->second(*io, args);
}
