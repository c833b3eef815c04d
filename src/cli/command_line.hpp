#pragma once
// ferrowipe-cli's command line, parsed with getopt_long as Linux disk tools parse theirs:
//   ferrowipe-cli [--debug] [--help] [--version] COMMAND [OPTION...] [DISK]
// Options of a command may come before or after DISK; --help and --debug are taken everywhere.
#include <optional>

#include "cli/commands.hpp"

namespace fw::cli {

using CommandRunner = int (*)(DeviceIo&, const Options&);

struct CommandLine {
  // Set when the program is to end at once: help or version printed (0), or bad usage printed
  // on standard error (2).
  std::optional<int> exitStatus;
  CommandRunner run = nullptr;
  Options options;
  bool debug = false;
};

// Parses argv; prints help, the version or the usage error itself.
CommandLine ParseCommandLine(int argc, char** argv);

}  // namespace fw::cli
