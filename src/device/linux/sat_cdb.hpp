#pragma once
// ATA commands through the SCSI/ATA Translation (SAT): the ATA PASS-THROUGH(16) command block
// built from the Windows task-file registers, and the outcome read from the SG_IO reply and
// its sense data (fixed and descriptor formats). Pure: the backend does the SG_IO call.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "device/win_layouts.hpp"

namespace fw::linuxio {

enum class AtaDataPhase {
  None,    // non-data protocol
  PioIn,   // PIO data-in of one 512-byte block
};

std::array<uint8_t, 16> BuildAtaPassThrough16(const win::IDEREGS& regs, AtaDataPhase phase);

// The data phase of the ATA commands the backend agrees to send, or nothing for a command it
// refuses. Only IDENTIFY DEVICE and the SMART functions read data, read thresholds, enable,
// disable and return status are ever passed to a disk.
std::optional<AtaDataPhase> AtaCommandPhase(const win::IDEREGS& regs);

// What the sg_io_hdr reported, as plain values.
struct SgIoReply {
  uint8_t status = 0;         // SCSI status
  uint16_t hostStatus = 0;
  uint16_t driverStatus = 0;
  const uint8_t* sense = nullptr;
  size_t senseLength = 0;     // sb_len_wr
};

enum class AtaOutcome {
  Success,         // the command completed; `registers` valid when `registersValid`
  DeviceError,     // the drive answered with ERR or DRQ set
  NotSupported,    // the path refused the pass-through (ILLEGAL REQUEST and the like)
  TransportError,  // the host or the transport failed
  Timeout,
  NoDevice,        // the device went away
};

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
};

// The ATA Status Return descriptor (descriptor format) or the fixed-format information
// fields, when the sense data carry ATA registers.
AtaResult EvaluateAtaReply(const SgIoReply& reply);

}  // namespace fw::linuxio
