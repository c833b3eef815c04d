#include "cli/command_line.hpp"

#include <getopt.h>

#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "core/product.hpp"

namespace fw::cli {

namespace {

constexpr std::string_view kProgram = "ferrowipe-cli";

enum OptionCode : int {
  kHelp = 'h',
  kDebug = 256,  // past every character, as getopt_long wants for options without a short form
  kVersion,
  kJson,
  kQuick,
  kYes,
  kProgress,
  kVerify,
  kReport,
  kRaw,
  kReportDir,
  kKeepGoing,
  kNoJournal,
  kMethod,
  kOpenHiddenArea,
  kPassword,
  kOperator,
  kOrganization,
  kAssetTag,
  kNotes,
};

constexpr option kHelpOption{"help", no_argument, nullptr, kHelp};
constexpr option kDebugOption{"debug", no_argument, nullptr, kDebug};
constexpr option kEnd{nullptr, 0, nullptr, 0};

constexpr std::string_view kDebugHelp = "      --debug      send the debug lines to standard error\n";

constexpr std::string_view kDiskHelp =
    "DISK is the drive number or the device path as 'list' shows them (the number is the one\n"
    "in the caption's brackets).\n";

struct CommandSpec {
  std::string_view name;
  std::string_view operands;    // what follows the name in the usage line
  std::string_view summary;
  std::string_view optionHelp;  // the command's own options, one line each
  bool takesDisk = false;
  std::vector<option> options;  // the command's own options
  CommandRunner run = nullptr;
  bool takesManyDisks = false;  // DISK... rather than one DISK
};

const std::vector<CommandSpec>& Commands() {
  static const std::vector<CommandSpec> commands{
      {"list", "[--json | --raw]",
       "List the disks: a header, then per disk its number and path, bus, model, firmware,\n"
       "      serial, sectors and capacity.",
       "      --json       the disks as JSON instead\n"
       "      --raw        no header, no number or path: the six cells of each disk separated\n"
       "                   by tabs, for scripts\n",
       false,
       {{"json", no_argument, nullptr, kJson}, {"raw", no_argument, nullptr, kRaw}},
       RunList},
      {"details", "[--json] DISK", "Print the device-details report of DISK.",
       "      --json       the decoded identify data as JSON instead\n", true,
       {{"json", no_argument, nullptr, kJson}}, RunDetails},
      {"smart", "[--json] DISK",
       "Print the S.M.A.R.T. report of DISK, with the thresholds and a health verdict.",
       "      --json       the attributes (or the NVMe health log) and the verdict as JSON\n"
       "                   instead\n",
       true,
       {{"json", no_argument, nullptr, kJson}},
       RunSmart},
      {"format",
       "[--method METHOD] [--quick] [--open-hidden-area] [--verify]\n"
       "         [--report FILE | --report-dir DIR] [--keep-going] [--no-journal] [--yes]\n"
       "         [--progress] DISK...",
       "Erase each DISK by writing zeros over it, or by the drive's own erase, and print the\n"
       "      format log. Several disks are erased at the same time, each with its own log,\n"
       "      verify pass and report.",
       "      --method METHOD\n"
       "                   zero (the default: write zeros), sanitize-block, sanitize-crypto,\n"
       "                   sanitize-overwrite, format-nvm, format-nvm-crypto, secure-erase,\n"
       "                   secure-erase-enhanced, or purge (the strongest Purge method the disk\n"
       "                   offers); 'list --json' shows which ones DISK offers. The drive's own\n"
       "                   erase cannot be stopped once sent, and is always verified\n"
       "      --quick      write only the first 10,240,000 bytes and the last MiB: the partition\n"
       "                   tables go, the rest of the data stays readable with recovery tools\n"
       "                   (zero only)\n"
       "      --open-hidden-area\n"
       "                   also write the sectors the disk hides (a Host Protected Area or an\n"
       "                   Accessible Max Address limit): its max address is set to the native\n"
       "                   size first (zero only, not with --quick)\n"
       "      --verify     read every written byte back and check that it is zero\n"
       "      --report FILE\n"
       "                   when the attempt ends, write its erasure report (JSON) to FILE\n"
       "                   (one DISK only)\n"
       "      --report-dir DIR\n"
       "                   write each disk's erasure report to DIR, named by its serial and\n"
       "                   the time it started: SERIAL_YYYYMMDDTHHMMSSZ.json\n"
       "      --keep-going erase the other disks when the plan refuses some (without it, a\n"
       "                   refused disk refuses the command before anything is written)\n"
       "      --no-journal do not send each disk's result to the systemd journal\n"
       "      --operator NAME, --organization NAME, --asset-tag NUMBER, --notes TEXT\n"
       "                   the record fields of the report: who erased (name and title), for\n"
       "                   which organization, the media's property or asset number, notes\n"
       "      --yes        erase without asking (without it, the question is asked on the\n"
       "                   terminal, and the command refuses when there is none)\n"
       "      --progress   when standard error is not a terminal, print a progress line there\n"
       "                   every second (per disk, its path in front)\n",
       true,
       {{"quick", no_argument, nullptr, kQuick},
        {"verify", no_argument, nullptr, kVerify},
        {"report", required_argument, nullptr, kReport},
        {"operator", required_argument, nullptr, kOperator},
        {"organization", required_argument, nullptr, kOrganization},
        {"asset-tag", required_argument, nullptr, kAssetTag},
        {"notes", required_argument, nullptr, kNotes},
        {"yes", no_argument, nullptr, kYes},
        {"progress", no_argument, nullptr, kProgress},
        {"report-dir", required_argument, nullptr, kReportDir},
        {"keep-going", no_argument, nullptr, kKeepGoing},
        {"no-journal", no_argument, nullptr, kNoJournal},
        {"method", required_argument, nullptr, kMethod},
        {"open-hidden-area", no_argument, nullptr, kOpenHiddenArea}},
       RunFormat,
       true},
      {"unlock", "--password PASSWORD DISK",
       "Remove the user password a failed secure erase left set on DISK (SECURITY DISABLE\n"
       "      PASSWORD; a locked drive is unlocked with it first).",
       "      --password PASSWORD\n"
       "                   the temporary password the format log and the erasure report name\n",
       true,
       {{"password", required_argument, nullptr, kPassword}},
       RunUnlock},
  };
  return commands;
}

void PrintHelp() {
  std::cout << "Usage: " << kProgram << " [--debug] COMMAND [OPTION...] [DISK]\n"
            << "List, inspect and erase disks without a window.\n\nCommands:\n";
  for (const CommandSpec& command : Commands()) {
    std::cout << "  " << command.name << ' ' << command.operands << "\n      " << command.summary
              << '\n';
  }
  std::cout << "\nOptions:\n"
            << kDebugHelp
            << "  -h, --help       print this help (after a command: that command's help) and exit\n"
            << "      --version    print the version and exit\n\n"
            << kDiskHelp
            << "Exit status: 0 done; 1 any other failure; 2 bad usage or no such disk; 3 the\n"
            << "volumes could not be locked; 4 cancelled; 5 aborted, the device is gone;\n"
            << "6 completed with blocks that failed; 7 the verify pass found data that is not\n"
            << "zero or could not read it back; 8 the erase method cannot be used on this disk\n"
            << "(nothing was sent); 9 the drive reported its own erase as failed; details and\n"
            << "smart: 1 the drive could not be read,\n"
            << "10 its health is failing, 11 it counts reallocated, pending or uncorrectable\n"
            << "sectors. format over several disks: the most severe of the disks' statuses, in\n"
            << "the order 7, 9, 5, 6, 1, 3, 8, 4, 0. See ferrowipe-cli(1).\n";
}

void PrintHelp(const CommandSpec& command) {
  std::cout << "Usage: " << kProgram << " [--debug] " << command.name << ' ' << command.operands
            << '\n'
            << command.summary << "\n\nOptions:\n"
            << command.optionHelp << kDebugHelp
            << "  -h, --help       print this help and exit\n";
  if (command.takesDisk) std::cout << '\n' << kDiskHelp;
}

// `who` names the program or the command in the message; the hint names where help is.
int UsageError(const std::string& who, const std::string& message) {
  if (!message.empty()) std::cerr << who << ": " << message << '\n';
  std::cerr << "Try '" << who << " --help' for more information.\n";
  return kExitUsage;
}

// Runs getopt_long over `args` (args[0] is the name its messages begin with) and hands every
// option found to `onOption`; false once getopt_long has named an unknown option.
template <typename OnOption>
bool ScanOptions(std::vector<char*>& args, const char* shortOptions, std::vector<option> options,
                 OnOption onOption) {
  options.push_back(kEnd);
  const int count = static_cast<int>(args.size());
  args.push_back(nullptr);
  optind = 0;  // glibc: start afresh on a new argument vector
  opterr = 1;
  bool known = true;
  for (;;) {
    const int code = getopt_long(count, args.data(), shortOptions, options.data(), nullptr);
    if (code == -1) break;
    if (code == '?' || code == ':') {
      known = false;
      break;
    }
    if (!onOption(code)) break;
  }
  args.pop_back();
  return known;
}

}  // namespace

CommandLine ParseCommandLine(int argc, char** argv) {
  CommandLine line;
  std::string program(kProgram);
  std::vector<char*> args{program.data()};
  for (int i = 1; i < argc; ++i) args.push_back(argv[i]);

  // Before the command: "+" stops at the first word that is not an option.
  bool done = false;
  const bool known = ScanOptions(args, "+h", {kHelpOption, kDebugOption,
                                              {"version", no_argument, nullptr, kVersion}},
                                 [&](int code) {
                                   if (code == kDebug) {
                                     line.debug = true;
                                     return true;
                                   }
                                   if (code == kHelp) PrintHelp();
                                   if (code == kVersion) {
                                     std::cout << kProgram << ' ' << kProductVersion << '\n';
                                   }
                                   done = true;
                                   return false;
                                 });
  if (!known) {
    line.exitStatus = UsageError(program, "");
    return line;
  }
  if (done) {
    line.exitStatus = kExitDone;
    return line;
  }
  if (optind >= argc) {
    line.exitStatus = UsageError(program, "missing command");
    return line;
  }
  const std::string name = argv[optind];
  const CommandSpec* command = nullptr;
  for (const CommandSpec& candidate : Commands()) {
    if (candidate.name == name) command = &candidate;
  }
  if (command == nullptr) {
    line.exitStatus = UsageError(program, "unknown command '" + name + "'");
    return line;
  }

  // After the command: options and operands in any order.
  std::string who = program + ' ' + name;
  std::vector<char*> commandArgs{who.data()};
  for (int i = optind + 1; i < argc; ++i) commandArgs.push_back(argv[i]);
  std::vector<option> options = command->options;
  options.push_back(kHelpOption);
  options.push_back(kDebugOption);
  bool help = false;
  std::string badMethod;
  Options& parsed = line.options;
  const bool commandKnown = ScanOptions(commandArgs, "h", options, [&](int code) {
    switch (code) {
      case kHelp: help = true; break;
      case kDebug: line.debug = true; break;
      case kJson: parsed.json = true; break;
      case kRaw: parsed.raw = true; break;
      case kQuick: parsed.quick = true; break;
      case kYes: parsed.yes = true; break;
      case kProgress: parsed.progress = true; break;
      case kVerify: parsed.verify = true; break;
      case kReport: parsed.report = optarg; break;
      case kReportDir: parsed.reportDir = optarg; break;
      case kKeepGoing: parsed.keepGoing = true; break;
      case kNoJournal: parsed.noJournal = true; break;
      case kMethod:
        if (const std::optional<EraseMethod> method = ParseEraseMethod(optarg)) {
          parsed.method = *method;
        } else {
          badMethod = optarg;
        }
        break;
      case kOpenHiddenArea: parsed.openHiddenArea = true; break;
      case kPassword: parsed.password = optarg; break;
      case kOperator: parsed.record.operatorName = optarg; break;
      case kOrganization: parsed.record.organization = optarg; break;
      case kAssetTag: parsed.record.assetTag = optarg; break;
      case kNotes: parsed.record.notes = optarg; break;
      default: break;
    }
    return true;
  });
  if (commandKnown && !help) {
    std::string problem;
    if (!badMethod.empty()) {
      problem = "unknown method '" + badMethod + "'";
    } else if (parsed.quick && parsed.method != EraseMethod::Zero) {
      problem = "--quick can only be used with --method zero";
    } else if (parsed.openHiddenArea && (parsed.quick || parsed.method != EraseMethod::Zero)) {
      problem = "--open-hidden-area can only be used with --method zero, without --quick";
    } else if (command->run == RunUnlock && (!parsed.password || parsed.password->empty())) {
      problem = "unlock needs --password";
    }
    if (!problem.empty()) {
      line.exitStatus = UsageError(who, problem);
      return line;
    }
  }
  if (!commandKnown) {
    line.exitStatus = UsageError(who, "");
    return line;
  }
  if (help) {
    PrintHelp(*command);
    line.exitStatus = kExitDone;
    return line;
  }
  if (parsed.json && parsed.raw) {
    line.exitStatus = UsageError(who, "--json and --raw cannot be used together");
    return line;
  }
  std::vector<std::string> operands(commandArgs.begin() + optind, commandArgs.end());
  if (command->takesDisk && operands.empty()) {
    line.exitStatus = UsageError(who, "missing DISK");
    return line;
  }
  if (command->takesManyDisks) {
    parsed.disks = operands;
    parsed.disk = parsed.disks.front();
    operands.clear();
  } else if (command->takesDisk) {
    parsed.disk = operands.front();
    operands.erase(operands.begin());
  }
  if (parsed.report && parsed.reportDir) {
    line.exitStatus = UsageError(who, "--report and --report-dir cannot be used together");
    return line;
  }
  if (parsed.report && parsed.disks.size() > 1) {
    line.exitStatus = UsageError(who, "--report takes one DISK; use --report-dir DIR for several");
    return line;
  }
  if (!operands.empty()) {
    line.exitStatus = UsageError(who, "unexpected argument '" + operands.front() + "'");
    return line;
  }
  line.run = command->run;
  return line;
}

}  // namespace fw::cli
