// unlock: removes the user password that a failed secure erase left set (SECURITY DISABLE
// PASSWORD with it). A drive that was power-cycled since comes up locked and takes the
// password through SECURITY UNLOCK first.
#include <array>
#include <iostream>
#include <optional>
#include <span>
#include <string>

#include "cli/chosen_disk.hpp"
#include "cli/commands.hpp"
#include "cli/terminal_safe.hpp"
#include "device/purge_commands.hpp"
#include "select/device_table.hpp"

namespace fw::cli {

namespace {

std::string Why(DeviceIo& io, const AtaReply& reply) {
  switch (reply.outcome) {
    case CommandOutcome::DeviceError:
      return "the drive refused it (wrong password, or no password set)";
    case CommandOutcome::NotSupported:
      return "the path to the drive does not carry ATA security commands";
    case CommandOutcome::Timeout: return "the drive did not answer in time";
    case CommandOutcome::NoDevice: return "the drive has gone";
    default: break;
  }
  return reply.code != 0 ? io.ErrorText(reply.code) : "the command failed";
}

}  // namespace

int RunUnlock(DeviceIo& io, const Options& options) {
  int status = kExitDone;
  const std::optional<ChosenDisk> chosen = ChooseDisk(io, options.disk, &status);
  if (!chosen) return status;
  const std::string path = TerminalSafe(DeviceTable[chosen->row].DevicePath);
  std::array<uint8_t, 512> sector = SecuritySector(options.password.value_or(""));
  AtaReply reply = io.SendAtaCommand(chosen->handle, AtaSecurityDisablePassword(), sector);
  if (reply.outcome == CommandOutcome::DeviceError) {
    // Locked since the failed erase: the same password unlocks it, then the disable is taken.
    sector = SecuritySector(options.password.value_or(""));
    const AtaReply unlocked = io.SendAtaCommand(chosen->handle, AtaSecurityUnlock(), sector);
    if (unlocked.outcome == CommandOutcome::Success) {
      sector = SecuritySector(options.password.value_or(""));
      reply = io.SendAtaCommand(chosen->handle, AtaSecurityDisablePassword(), sector);
    }
  }
  io.Close(chosen->handle);
  if (reply.outcome == CommandOutcome::Success) {
    std::cout << "The user password of " << path << " was removed.\n";
    return kExitDone;
  }
  std::cerr << "ferrowipe-cli: unlock " << path << ": " << Why(io, reply) << '\n';
  return reply.outcome == CommandOutcome::NotSupported ? kExitMethodRefused : kExitFailure;
}

}  // namespace fw::cli
