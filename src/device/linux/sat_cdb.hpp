#pragma once
// ATA commands through the SCSI/ATA Translation (SAT): the ATA PASS-THROUGH(16) command block
// built from the task-file registers (the Windows IDEREGS of the identification and SMART
// path, or a drive command's named fields), and the outcome read from the SG_IO reply and its
// sense data (fixed and descriptor formats). Pure: the backend does the SG_IO call.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "device/drive_commands.hpp"
#include "device/win_layouts.hpp"

namespace fw::linuxio {

enum class AtaDataPhase {
  None,    // non-data protocol
  PioIn,   // PIO data-in of one 512-byte block
};

// The IDEREGS of the identification and SMART path as a 28-bit command.
AtaCommand AtaCommandFromRegisters(const win::IDEREGS& regs, AtaDataPhase phase);

// PROTOCOL, EXTEND, T_DIR, BYT_BLOK and T_LENGTH from the command; CK_COND on the non-data
// commands, whose answer is in the returned registers (a data command's answer is its data,
// and its registers come back anyway when it fails). The data commands carry one 512-byte
// block, which COUNT names (their own COUNT field is unused).
std::array<uint8_t, 16> BuildAtaPassThrough16(const AtaCommand& command);
std::array<uint8_t, 16> BuildAtaPassThrough16(const win::IDEREGS& regs, AtaDataPhase phase);

// The data phase of the ATA commands the identification and SMART path agrees to send, or
// nothing for a command it refuses. Only IDENTIFY DEVICE and the SMART functions read data,
// read thresholds, enable, disable and return status are ever passed to a disk that way.
std::optional<AtaDataPhase> AtaCommandPhase(const win::IDEREGS& regs);

// Whether `command` only reads what the drive reports (IDENTIFY DEVICE, SMART READ DATA and
// THRESHOLDS and RETURN STATUS, SANITIZE STATUS EXT without clearing a failure, READ NATIVE
// MAX ADDRESS (EXT), GET NATIVE MAX ADDRESS EXT, DEVICE CONFIGURATION IDENTIFY), each with the
// protocol it has. Anything else may change the drive and goes only on the working handle.
bool AtaCommandOnlyReads(const AtaCommand& command);

// SG_IO's timeout for a command that may take `seconds` (0: the pass-through's usual 15 s).
unsigned SgIoTimeoutMs(uint32_t seconds);

// What the sg_io_hdr reported, as plain values.
struct SgIoReply {
  uint8_t status = 0;         // SCSI status
  uint16_t hostStatus = 0;
  uint16_t driverStatus = 0;
  const uint8_t* sense = nullptr;
  size_t senseLength = 0;     // sb_len_wr
};

using AtaOutcome = CommandOutcome;

struct AtaResult {
  AtaOutcome outcome = AtaOutcome::TransportError;
  bool registersValid = false;
  uint8_t error = 0;
  uint8_t count = 0;
  uint8_t lbal = 0;
  uint8_t lbam = 0;
  uint8_t lbah = 0;
  uint8_t device = 0;
  uint8_t status = 0;
  // The 48-bit registers' upper halves: COUNT 15:8, LBA 31:24, 39:32, 47:40. Fixed-format
  // sense has no room for them, only flags saying whether they are zero: `upperKnown` is
  // false when they are not (descriptor sense always knows them).
  uint8_t countHigh = 0;
  uint8_t lbalHigh = 0;
  uint8_t lbamHigh = 0;
  uint8_t lbahHigh = 0;
  bool upperKnown = true;
  bool lbaKnown = true;  // false where the sense data ended before the LBA bytes
};

// The ATA Status Return descriptor (descriptor format) or the fixed-format information
// fields, when the sense data carry ATA registers.
AtaResult EvaluateAtaReply(const SgIoReply& reply);

// The drive command's reply: COUNT and LBA put together (48 bits for an extended command, 28
// with the DEVICE nibble otherwise). The registers are valid only when all of their bytes came
// back; status and error whenever the sense data carried them.
AtaReply AtaReplyFromResult(const AtaResult& result, bool extended);

}  // namespace fw::linuxio
