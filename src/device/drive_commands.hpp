#pragma once
// Commands sent to the drive itself rather than to its medium: the drive's own erase (sanitize,
// security erase, format), its hidden-area commands and the reads that go with them, as named
// register fields and command dwords. Built by pure code (purge_commands.hpp), carried by a
// backend only on the working handle of the disk the user chose and confirmed.
#include <cstdint>

namespace fw {

enum class AtaProtocol {
  NonData,
  PioDataIn,   // one 512-byte sector from the drive
  PioDataOut,  // one 512-byte sector to the drive
};

// The task file of a 48-bit command (ATA PASS-THROUGH(16) with EXTEND set); a 28-bit command
// uses the low halves and the low 28 bits of `lba`.
struct AtaTaskFile {
  uint16_t feature = 0;
  uint16_t count = 0;
  uint64_t lba = 0;  // 48 bits
  uint8_t device = 0;
  uint8_t command = 0;

  bool operator==(const AtaTaskFile&) const = default;
};

struct AtaCommand {
  AtaTaskFile registers;
  AtaProtocol protocol = AtaProtocol::NonData;
  bool extended = true;  // a 48-bit command
  // How long the drive may take before the transport gives up; never the pass-through's default
  // for a command that runs for minutes.
  uint32_t timeoutSeconds = 15;

  bool operator==(const AtaCommand&) const = default;
};

enum class CommandOutcome {
  Success,         // completed without error; the returned registers or status are valid
  DeviceError,     // the drive completed it with an error (ATA ERR, an NVMe status)
  NotSupported,    // the path does not carry the command (a bridge, a backend): nothing was sent
  TransportError,  // the host or the transport failed
  Timeout,
  NoDevice,        // the device went away
};

struct AtaReply {
  CommandOutcome outcome = CommandOutcome::NotSupported;
  bool registersValid = false;
  AtaTaskFile registers;  // as returned: count, lba and device (feature holds nothing)
  uint8_t status = 0;
  uint8_t error = 0;
  uint32_t code = 0;  // the Windows error code of a failed send (0 when the drive answered)
};

enum class NvmeDataDirection { None, FromDevice, ToDevice };

struct NvmeAdminCommand {
  uint8_t opcode = 0;
  uint32_t nsid = 0;
  uint32_t cdw10 = 0;
  uint32_t cdw11 = 0;
  uint32_t cdw12 = 0;
  uint32_t cdw13 = 0;
  uint32_t cdw14 = 0;
  uint32_t cdw15 = 0;
  uint32_t dataLength = 0;
  NvmeDataDirection direction = NvmeDataDirection::None;
  uint32_t timeoutMs = 0;  // 0: the driver's default (for the short reads only)

  bool operator==(const NvmeAdminCommand&) const = default;
};

struct NvmeReply {
  CommandOutcome outcome = CommandOutcome::NotSupported;
  uint16_t status = 0;  // completion status field without the phase bit: SCT << 8 | SC; 0 success
  uint32_t result = 0;  // completion dword 0
  uint32_t code = 0;    // the Windows error code of a failed send (0 when the controller answered)
};

}  // namespace fw
