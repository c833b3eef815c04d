#include "device/linux/sat_cdb.hpp"

#include <algorithm>

namespace fw::linuxio {
namespace {

constexpr uint8_t kAtaPassThrough16 = 0x85;
constexpr uint8_t kProtocolNonData = 3;
constexpr uint8_t kProtocolPioIn = 4;

constexpr uint8_t kStatusErr = 0x01;
constexpr uint8_t kStatusDrq = 0x08;

// SCSI host byte values of sg_io_hdr.host_status.
constexpr uint16_t kDidNoConnect = 0x01;
constexpr uint16_t kDidTimeOut = 0x03;
// Driver byte: DRIVER_SENSE is the only value that goes with a completed command.
constexpr uint16_t kDriverSense = 0x08;

constexpr uint8_t kSenseKeyIllegalRequest = 0x05;
constexpr uint8_t kAtaStatusReturnDescriptor = 0x09;

}  // namespace

std::array<uint8_t, 16> BuildAtaPassThrough16(const win::IDEREGS& regs, AtaDataPhase phase) {
  const bool dataIn = phase == AtaDataPhase::PioIn;
  std::array<uint8_t, 16> cdb{};
  cdb[0] = kAtaPassThrough16;
  // cdb[1]: multiple_count 0, protocol, extend 0 (28-bit command).
  cdb[1] = static_cast<uint8_t>((dataIn ? kProtocolPioIn : kProtocolNonData) << 1);
  // cdb[2]: off_line 0, ck_cond, t_type 0, t_dir, byt_blok, t_length.
  // Data-in: t_dir 1 (from the device), byt_blok 1 (count in blocks), t_length 2 (in COUNT).
  // Non-data: ck_cond 1, so that the drive's registers come back in the sense data.
  cdb[2] = dataIn ? 0x0E : 0x20;
  // cdb[3..14]: features, count, lbal, lbam, lbah (each high byte 0), device, command.
  cdb[4] = regs.bFeaturesReg;
  cdb[6] = regs.bSectorCountReg;
  cdb[8] = regs.bSectorNumberReg;
  cdb[10] = regs.bCylLowReg;
  cdb[12] = regs.bCylHighReg;
  // Only the LBA and DEV bits of drive/head mean anything to a SATL (bits 7 and 5 are
  // obsolete, and libata selects the device itself).
  cdb[13] = static_cast<uint8_t>(regs.bDriveHeadReg & 0x50);
  cdb[14] = regs.bCommandReg;
  return cdb;
}

std::optional<AtaDataPhase> AtaCommandPhase(const win::IDEREGS& regs) {
  if (regs.bCommandReg == win::ID_CMD) return AtaDataPhase::PioIn;
  if (regs.bCommandReg != win::SMART_CMD) return std::nullopt;
  switch (regs.bFeaturesReg) {
    case win::READ_ATTRIBUTES:
    case win::READ_THRESHOLDS: return AtaDataPhase::PioIn;
    case win::ENABLE_SMART:
    case win::DISABLE_SMART:
    case win::RETURN_SMART_STATUS: return AtaDataPhase::None;
    default: return std::nullopt;
  }
}

AtaResult EvaluateAtaReply(const SgIoReply& reply) {
  AtaResult result;
  if (reply.hostStatus == kDidNoConnect) {
    result.outcome = AtaOutcome::NoDevice;
    return result;
  }
  if (reply.hostStatus == kDidTimeOut) {
    result.outcome = AtaOutcome::Timeout;
    return result;
  }
  const uint16_t driver = reply.driverStatus & 0x0F;
  if (reply.hostStatus != 0 || (driver != 0 && driver != kDriverSense)) {
    result.outcome = AtaOutcome::TransportError;
    return result;
  }
  const uint8_t* sb = reply.sense;
  const size_t len = reply.sense != nullptr ? reply.senseLength : 0;
  if (len == 0) {
    // libata's path for a command without ck_cond that ended well: no sense at all.
    result.outcome = reply.status == 0 ? AtaOutcome::Success : AtaOutcome::TransportError;
    return result;
  }

  const uint8_t responseCode = sb[0] & 0x7F;
  uint8_t key = 0;
  uint8_t asc = 0;
  uint8_t ascq = 0;
  if (responseCode == 0x72 || responseCode == 0x73) {
    if (len < 4) return result;
    key = sb[1] & 0x0F;
    asc = sb[2];
    ascq = sb[3];
    // Descriptors from byte 8; the additional length in byte 7 counts them.
    const size_t end = len < 8 ? len : std::min(len, size_t{8} + sb[7]);
    for (size_t at = 8; at + 2 <= end;) {
      const size_t descriptorLength = size_t{2} + sb[at + 1];
      if (sb[at] == kAtaStatusReturnDescriptor && at + 14 <= end) {
        const uint8_t* d = sb + at;
        result.registersValid = true;
        result.error = d[3];
        result.count = d[5];
        result.lbal = d[7];
        result.lbam = d[9];
        result.lbah = d[11];
        result.device = d[12];
        result.status = d[13];
        break;
      }
      at += descriptorLength;
    }
  } else if (responseCode == 0x70 || responseCode == 0x71) {
    if (len < 3) return result;
    key = sb[2] & 0x0F;
    if (len >= 14) {
      asc = sb[12];
      ascq = sb[13];
    }
    if (len >= 12) {
      // SAT's fixed format: the information field carries error, status, device, count and
      // the command-specific field the three LBA bytes.
      result.registersValid = true;
      result.error = sb[3];
      result.status = sb[4];
      result.device = sb[5];
      result.count = sb[6];
      result.lbal = sb[9];
      result.lbam = sb[10];
      result.lbah = sb[11];
    }
  } else {
    return result;
  }

  // ATA PASS-THROUGH INFORMATION AVAILABLE (00/1D) with NO SENSE or RECOVERED ERROR is the
  // normal answer to ck_cond; any other key is a failure.
  if ((key == 0 || key == 1) && (asc == 0x00 && ascq == 0x1D)) {
    result.outcome = AtaOutcome::Success;
  } else if (key == 0 && asc == 0 && ascq == 0 && reply.status == 0) {
    result.outcome = AtaOutcome::Success;
  } else if (key == kSenseKeyIllegalRequest) {
    result.outcome = AtaOutcome::NotSupported;
    result.registersValid = false;
    return result;
  } else if (result.registersValid && (result.status & (kStatusErr | kStatusDrq)) != 0) {
    result.outcome = AtaOutcome::DeviceError;
    return result;
  } else {
    result.outcome = AtaOutcome::TransportError;
    return result;
  }
  if (result.registersValid && (result.status & (kStatusErr | kStatusDrq)) != 0) {
    result.outcome = AtaOutcome::DeviceError;
  }
  return result;
}

}  // namespace fw::linuxio
