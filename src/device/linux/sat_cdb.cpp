#include "device/linux/sat_cdb.hpp"

#include <algorithm>
#include <climits>

#include "device/linux/errno_map.hpp"

namespace fw::linuxio {
namespace {

constexpr uint8_t kAtaPassThrough16 = 0x85;
constexpr uint8_t kProtocolNonData = 3;
constexpr uint8_t kProtocolPioIn = 4;
constexpr uint8_t kProtocolPioOut = 5;

// Byte 2 of the CDB.
constexpr uint8_t kCkCond = 0x20;
constexpr uint8_t kTDirFromDevice = 0x08;
constexpr uint8_t kBytBlok = 0x04;       // the transfer length counts 512-byte blocks
constexpr uint8_t kTLengthInCount = 0x02;

constexpr uint8_t kStatusErr = 0x01;
constexpr uint8_t kStatusDrdy = 0x40;
constexpr uint8_t kStatusDrq = 0x08;

// SCSI host byte values of sg_io_hdr.host_status.
constexpr uint16_t kDidNoConnect = 0x01;
constexpr uint16_t kDidTimeOut = 0x03;
// Driver byte: DRIVER_SENSE is the only value that goes with a completed command.
constexpr uint16_t kDriverSense = 0x08;

constexpr uint8_t kSenseKeyIllegalRequest = 0x05;
constexpr uint8_t kSenseKeyAbortedCommand = 0x0B;
constexpr uint8_t kAtaStatusReturnDescriptor = 0x09;

// Fixed-format byte 8: EXTEND, COUNT UPPER NONZERO, LBA UPPER NONZERO.
constexpr uint8_t kFixedExtend = 0x80;
constexpr uint8_t kFixedUpperNonzero = 0x60;

// hdparm's SG_IO timeout: long enough for a drive spinning up, short enough for a window.
constexpr unsigned kDefaultTimeoutMs = 15000;

// Zero upper halves only when the SATL says so: one that sets no flags (older than SAT-3)
// might have cut a 48-bit value, and a native max read too small would hide sectors.
bool UpperKnown(uint8_t flags) {
  return (flags & kFixedExtend) != 0 && (flags & kFixedUpperNonzero) == 0;
}

struct ReadOnlyCommand {
  uint8_t command;
  std::optional<uint16_t> feature;  // nothing: any
  AtaProtocol protocol;
};

constexpr ReadOnlyCommand kReadOnly[] = {
    {0xEC, std::nullopt, AtaProtocol::PioDataIn},  // IDENTIFY DEVICE
    {0xB0, 0xD0, AtaProtocol::PioDataIn},          // SMART READ DATA
    {0xB0, 0xD1, AtaProtocol::PioDataIn},          // SMART READ THRESHOLDS
    {0xB0, 0xDA, AtaProtocol::NonData},            // SMART RETURN STATUS
    {0xB4, 0x0000, AtaProtocol::NonData},          // SANITIZE STATUS EXT
    {0x27, std::nullopt, AtaProtocol::NonData},    // READ NATIVE MAX ADDRESS EXT
    {0xF8, std::nullopt, AtaProtocol::NonData},    // READ NATIVE MAX ADDRESS
    {0x78, 0x0000, AtaProtocol::NonData},          // GET NATIVE MAX ADDRESS EXT
    {0xB1, 0x00C2, AtaProtocol::PioDataIn},        // DEVICE CONFIGURATION IDENTIFY
};

// SANITIZE STATUS EXT's CLEAR SANITIZE OPERATION FAILED bit changes the drive's state.
constexpr uint8_t kSanitizeStatusCommand = 0xB4;
constexpr uint16_t kClearSanitizeFailure = 0x0001;

}  // namespace

AtaCommand AtaCommandFromRegisters(const win::IDEREGS& regs, AtaDataPhase phase) {
  AtaCommand command;
  command.extended = false;
  command.protocol = phase == AtaDataPhase::PioIn ? AtaProtocol::PioDataIn : AtaProtocol::NonData;
  command.registers.feature = regs.bFeaturesReg;
  command.registers.count = regs.bSectorCountReg;
  command.registers.lba = uint64_t{regs.bSectorNumberReg} | uint64_t{regs.bCylLowReg} << 8 |
                          uint64_t{regs.bCylHighReg} << 16 |
                          uint64_t{static_cast<uint8_t>(regs.bDriveHeadReg & 0x0F)} << 24;
  command.registers.device = regs.bDriveHeadReg;
  command.registers.command = regs.bCommandReg;
  return command;
}

std::array<uint8_t, 16> BuildAtaPassThrough16(const AtaCommand& command) {
  const AtaTaskFile& r = command.registers;
  const bool dataIn = command.protocol == AtaProtocol::PioDataIn;
  const bool dataOut = command.protocol == AtaProtocol::PioDataOut;
  const uint8_t protocol = dataIn ? kProtocolPioIn : dataOut ? kProtocolPioOut : kProtocolNonData;
  std::array<uint8_t, 16> cdb{};
  cdb[0] = kAtaPassThrough16;
  // cdb[1]: multiple_count 0, protocol, extend.
  cdb[1] = static_cast<uint8_t>(protocol << 1 | (command.extended ? 1 : 0));
  // cdb[2]: off_line 0, ck_cond, t_type 0, t_dir, byt_blok, t_length.
  if (dataIn) {
    cdb[2] = kTDirFromDevice | kBytBlok | kTLengthInCount;
  } else if (dataOut) {
    cdb[2] = kBytBlok | kTLengthInCount;
  } else {
    cdb[2] = kCkCond;
  }
  const uint16_t count = dataIn || dataOut ? uint16_t{1} : r.count;
  // cdb[3..12]: each register's upper byte (48-bit only) before its lower byte.
  cdb[4] = static_cast<uint8_t>(r.feature);
  cdb[6] = static_cast<uint8_t>(count);
  cdb[8] = static_cast<uint8_t>(r.lba);
  cdb[10] = static_cast<uint8_t>(r.lba >> 8);
  cdb[12] = static_cast<uint8_t>(r.lba >> 16);
  // Only the LBA and DEV bits of the device register mean anything to a SATL (bits 7 and 5
  // are obsolete, and libata selects the device itself); a 28-bit command's LBA 27:24 goes
  // in its low nibble.
  uint8_t device = static_cast<uint8_t>(r.device & 0x50);
  if (command.extended) {
    cdb[3] = static_cast<uint8_t>(r.feature >> 8);
    cdb[5] = static_cast<uint8_t>(count >> 8);
    cdb[7] = static_cast<uint8_t>(r.lba >> 24);
    cdb[9] = static_cast<uint8_t>(r.lba >> 32);
    cdb[11] = static_cast<uint8_t>(r.lba >> 40);
  } else {
    device = static_cast<uint8_t>(device | ((r.lba >> 24) & 0x0F));
  }
  cdb[13] = device;
  cdb[14] = r.command;
  return cdb;
}

std::array<uint8_t, 16> BuildAtaPassThrough16(const win::IDEREGS& regs, AtaDataPhase phase) {
  return BuildAtaPassThrough16(AtaCommandFromRegisters(regs, phase));
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

bool AtaCommandOnlyReads(const AtaCommand& command) {
  const AtaTaskFile& r = command.registers;
  if (r.command == kSanitizeStatusCommand && (r.count & kClearSanitizeFailure) != 0) return false;
  // A 28-bit command sees only the low byte of FEATURE.
  const uint16_t feature = command.extended ? r.feature : static_cast<uint16_t>(r.feature & 0xFF);
  return std::any_of(std::begin(kReadOnly), std::end(kReadOnly), [&](const ReadOnlyCommand& c) {
    return c.command == r.command && (!c.feature || *c.feature == feature) &&
           c.protocol == command.protocol;
  });
}

unsigned SgIoTimeoutMs(uint32_t seconds) {
  if (seconds == 0) return kDefaultTimeoutMs;
  return static_cast<unsigned>(std::min<uint64_t>(uint64_t{seconds} * 1000, UINT_MAX));
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
        result.countHigh = d[4];
        result.count = d[5];
        result.lbalHigh = d[6];
        result.lbal = d[7];
        result.lbamHigh = d[8];
        result.lbam = d[9];
        result.lbahHigh = d[10];
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
    // Kernels before the 2024 correction of libata's fixed format wrote the registers where
    // the descriptor's would be, five bytes late: an empty information field (a drive that
    // answered always has DRDY in its status) and a status byte at 9 give them away.
    // Those kernels also report only the 18 bytes the additional length counts, which end
    // before the LBA: then only error, status, device and count are known.
    const bool emptyInformation = len >= 7 && sb[3] == 0 && sb[4] == 0 && sb[5] == 0 && sb[6] == 0;
    const bool lateLayout = len >= 12 && emptyInformation && (sb[9] & kStatusDrdy) != 0;
    if (lateLayout) {
      result.registersValid = true;
      result.error = sb[8];
      result.status = sb[9];
      result.device = sb[10];
      result.count = sb[11];
      result.lbaKnown = len >= 20;
      if (result.lbaKnown) {
        result.upperKnown = UpperKnown(sb[16]);
        result.lbal = sb[17];
        result.lbam = sb[18];
        result.lbah = sb[19];
      }
    } else if (len >= 12) {
      // SAT's fixed format: the information field carries error, status, device and count,
      // the command-specific field the three LBA bytes; byte 8 only says whether the upper
      // halves of a 48-bit command's registers are zero.
      result.registersValid = true;
      result.error = sb[3];
      result.status = sb[4];
      result.device = sb[5];
      result.count = sb[6];
      result.upperKnown = UpperKnown(sb[8]);
      result.lbal = sb[9];
      result.lbam = sb[10];
      result.lbah = sb[11];
    }
  } else {
    return result;
  }

  const bool ataError = result.registersValid && (result.status & (kStatusErr | kStatusDrq)) != 0;
  // ATA PASS-THROUGH INFORMATION AVAILABLE (00/1D) with NO SENSE or RECOVERED ERROR is the
  // normal answer to ck_cond; any other key is a failure.
  if ((key == 0 || key == 1) && (asc == 0x00 && ascq == 0x1D)) {
    result.outcome = ataError ? AtaOutcome::DeviceError : AtaOutcome::Success;
  } else if (key == 0 && asc == 0 && ascq == 0 && reply.status == 0) {
    result.outcome = ataError ? AtaOutcome::DeviceError : AtaOutcome::Success;
  } else if (key == kSenseKeyIllegalRequest) {
    result.outcome = AtaOutcome::NotSupported;
    result.registersValid = false;
  } else if (ataError || (key == kSenseKeyAbortedCommand && asc == 0 && ascq == 0)) {
    // ABORTED COMMAND without a further code is how SAT says the drive aborted the command,
    // also where the registers did not come back.
    result.outcome = AtaOutcome::DeviceError;
  } else {
    result.outcome = AtaOutcome::TransportError;
  }
  return result;
}

AtaReply AtaReplyFromResult(const AtaResult& result, bool extended) {
  AtaReply reply;
  reply.outcome = result.outcome;
  reply.code = result.outcome == CommandOutcome::Success || result.outcome == CommandOutcome::DeviceError
                   ? 0
                   : WindowsErrorOfOutcome(result.outcome);
  if (!result.registersValid) return reply;
  reply.status = result.status;
  reply.error = result.error;
  reply.registersValid = result.lbaKnown && (!extended || result.upperKnown);
  if (!reply.registersValid) return reply;
  AtaTaskFile& r = reply.registers;
  r.device = result.device;
  if (extended) {
    r.count = static_cast<uint16_t>(result.countHigh << 8 | result.count);
    r.lba = uint64_t{result.lbal} | uint64_t{result.lbam} << 8 | uint64_t{result.lbah} << 16 |
            uint64_t{result.lbalHigh} << 24 | uint64_t{result.lbamHigh} << 32 |
            uint64_t{result.lbahHigh} << 40;
  } else {
    r.count = result.count;
    r.lba = uint64_t{result.lbal} | uint64_t{result.lbam} << 8 | uint64_t{result.lbah} << 16 |
            uint64_t{static_cast<uint8_t>(result.device & 0x0F)} << 24;
  }
  return reply;
}

}  // namespace fw::linuxio
