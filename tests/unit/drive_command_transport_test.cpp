// How the Linux backend carries the drive's own commands: the ATA PASS-THROUGH(16) blocks of
// each protocol laid out byte by byte as SAT-3 gives them, the 48-bit registers read back from
// both sense formats, the NVMe passthrough fields, and which commands count as reads only.
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

#include "device/device_io.hpp"
#include "device/linux/errno_map.hpp"
#include "device/linux/nvme_admin.hpp"
#include "device/linux/sat_cdb.hpp"
#include "device/purge_commands.hpp"

namespace fw::linuxio {
namespace {

using Cdb = std::array<uint8_t, 16>;

AtaCommand Ata(uint8_t command, uint16_t feature, uint16_t count, uint64_t lba, uint8_t device,
               AtaProtocol protocol = AtaProtocol::NonData, bool extended = true) {
  AtaCommand c;
  c.registers = {feature, count, lba, device, command};
  c.protocol = protocol;
  c.extended = extended;
  return c;
}

TEST(SatDriveCommand, CommandBlockOfEachProtocol) {
  struct Case {
    const char* name;
    AtaCommand command;
    Cdb expected;
  };
  const Case cases[] = {
      // Non-data, 48-bit: protocol 3 + EXTEND; CK_COND alone in byte 2 (no data, answer in
      // the registers).
      {"READ NATIVE MAX ADDRESS EXT", Ata(0x27, 0, 0, 0, 0x40),
       {0x85, 0x07, 0x20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x40, 0x27, 0}},
      // Every byte of a 48-bit LBA in its own place: 31:24 before 7:0, 39:32 before 15:8,
      // 47:40 before 23:16; the upper feature and count bytes likewise.
      {"SET MAX ADDRESS EXT", Ata(0x37, 0x0000, 0x0001, 0xABCDEF012345ull, 0x40),
       {0x85, 0x07, 0x20, 0, 0, 0, 0x01, 0xEF, 0x45, 0xCD, 0x23, 0xAB, 0x01, 0x40, 0x37, 0}},
      {"SANITIZE CRYPTO SCRAMBLE EXT", Ata(0xB4, 0x0011, 0x0010, 0x43727970, 0),
       {0x85, 0x07, 0x20, 0, 0x11, 0, 0x10, 0x43, 0x70, 0, 0x79, 0, 0x72, 0, 0xB4, 0}},
      {"SANITIZE OVERWRITE EXT", Ata(0xB4, 0x0014, 0x0091, 0x4F57A5A55A5Aull, 0),
       {0x85, 0x07, 0x20, 0, 0x14, 0, 0x91, 0xA5, 0x5A, 0x57, 0x5A, 0x4F, 0xA5, 0, 0xB4, 0}},
      {"ACCESSIBLE MAX feature high byte", Ata(0x78, 0x0201, 0x0304, 0, 0x40),
       {0x85, 0x07, 0x20, 0x02, 0x01, 0x03, 0x04, 0, 0, 0, 0, 0, 0, 0x40, 0x78, 0}},
      // 28-bit: no upper bytes at all, LBA 27:24 in the device nibble.
      {"28-bit non-data", Ata(0xF9, 0x1234, 0x0105, 0x5A12345, 0xE0, AtaProtocol::NonData, false),
       {0x85, 0x06, 0x20, 0, 0x34, 0, 0x05, 0, 0x45, 0, 0x23, 0, 0xA1, 0x45, 0xF9, 0}},
      // PIO data-out: protocol 5, T_DIR 0, BYT_BLOK 1, T_LENGTH 2, COUNT names the one block.
      {"SECURITY SET PASSWORD", Ata(0xF1, 0, 0, 0, 0, AtaProtocol::PioDataOut, false),
       {0x85, 0x0A, 0x06, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0xF1, 0}},
      {"SECURITY ERASE UNIT", Ata(0xF4, 0, 0, 0, 0xA0, AtaProtocol::PioDataOut, false),
       {0x85, 0x0A, 0x06, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0xF4, 0}},
      // PIO data-in: protocol 4, T_DIR 1.
      {"DCO IDENTIFY", Ata(0xB1, 0x00C2, 0, 0, 0x40, AtaProtocol::PioDataIn, false),
       {0x85, 0x08, 0x0E, 0, 0xC2, 0, 1, 0, 0, 0, 0, 0, 0, 0x40, 0xB1, 0}},
      {"48-bit PIO data-in", Ata(0x2F, 0x0000, 0x0000, 0x0000000130ull, 0x40,
                                 AtaProtocol::PioDataIn),
       {0x85, 0x09, 0x0E, 0, 0, 0, 1, 0, 0x30, 0, 0x01, 0, 0, 0x40, 0x2F, 0}},
  };
  for (const Case& c : cases) EXPECT_EQ(BuildAtaPassThrough16(c.command), c.expected) << c.name;
}

// Beside the erase's own commands (below): reads in name that write in effect.
TEST(SatDriveCommand, OnlyTheReadsGoOnAnyHandle) {
  using P = AtaProtocol;
  struct Case {
    const char* name;
    AtaCommand command;
    bool onlyReads;
  };
  const Case cases[] = {
      {"IDENTIFY DEVICE", Ata(0xEC, 0, 1, 0, 0, P::PioDataIn, false), true},
      {"SMART RETURN STATUS", Ata(0xB0, 0xDA, 0, 0xC24F00, 0, P::NonData, false), true},
      {"IDENTIFY with a data-out phase", Ata(0xEC, 0, 1, 0, 0, P::PioDataOut, false), false},
      {"28-bit command with a feature high byte", Ata(0xB1, 0x01C3, 0, 0, 0, P::NonData, false),
       false},
      {"DCO SET", Ata(0xB1, 0x00C3, 0, 0, 0, P::PioDataOut, false), false},
      {"SMART DISABLE OPERATIONS", Ata(0xB0, 0xD9, 0, 0xC24F00, 0, P::NonData, false), false},
  };
  for (const Case& c : cases) EXPECT_EQ(AtaCommandOnlyReads(c.command), c.onlyReads) << c.name;
}

AtaResult Evaluate(std::vector<uint8_t> sense, uint8_t status = 0x02) {
  SgIoReply reply;
  reply.status = status;
  reply.driverStatus = 0x08;
  reply.sense = sense.data();
  reply.senseLength = sense.size();
  return EvaluateAtaReply(reply);
}

// An ATA Status Return descriptor with every register byte distinct.
std::vector<uint8_t> Descriptor48(uint8_t key, uint8_t ascq, uint8_t status) {
  std::vector<uint8_t> sb(8 + 14, 0);
  sb[0] = 0x72;
  sb[1] = key;
  sb[3] = ascq;
  sb[7] = 14;
  const uint8_t d[14] = {0x09, 0x0C, 0x01, 0x04, 0x80, 0x21, 0x32, 0x43,
                         0x54, 0x65, 0x76, 0x87, 0x4A, status};
  std::memcpy(sb.data() + 8, d, sizeof d);
  return sb;
}

std::vector<uint8_t> Fixed(uint8_t key, uint8_t ascq, uint8_t status, uint8_t flags) {
  std::vector<uint8_t> sb(32, 0);
  sb[0] = 0x70;
  sb[2] = key;
  sb[3] = 0x04;
  sb[4] = status;
  sb[5] = 0x4A;
  sb[6] = 0x21;
  sb[7] = 10;
  sb[8] = flags;
  sb[9] = 0x43;
  sb[10] = 0x65;
  sb[11] = 0x87;
  sb[13] = ascq;
  return sb;
}

TEST(SatDriveCommand, RegistersOfBothSenseFormatsForBothWidths) {
  struct Case {
    const char* name;
    std::vector<uint8_t> sense;
    bool extended;
    CommandOutcome outcome;
    bool valid;
    uint16_t count;
    uint64_t lba;
  };
  const Case cases[] = {
      {"descriptor, 48-bit", Descriptor48(0, 0x1D, 0x50), true, CommandOutcome::Success, true,
       0x8021, 0x765432876543ull},
      // A 28-bit command takes LBA 27:24 from the device nibble (0x4A: 0xA) and no upper byte.
      {"descriptor, 28-bit", Descriptor48(0, 0x1D, 0x50), false, CommandOutcome::Success, true,
       0x21, 0xA876543},
      {"fixed, 48-bit, upper halves zero", Fixed(0, 0x1D, 0x50, 0x80), true,
       CommandOutcome::Success, true, 0x21, 0x876543},
      // Only the SATL's flags say the upper halves exist, not what they hold.
      {"fixed, 48-bit, upper count set", Fixed(0, 0x1D, 0x50, 0xC0), true,
       CommandOutcome::Success, false, 0, 0},
      {"fixed, 48-bit, upper LBA set", Fixed(1, 0x1D, 0x50, 0xA0), true, CommandOutcome::Success,
       false, 0, 0},
      {"fixed, 48-bit, no flags at all", Fixed(0, 0x1D, 0x50, 0x00), true,
       CommandOutcome::Success, false, 0, 0},
      {"fixed, 28-bit, flags ignored", Fixed(0, 0x1D, 0x50, 0xE0), false,
       CommandOutcome::Success, true, 0x21, 0xA876543},
      {"fixed, drive aborted", Fixed(0x0B, 0, 0x51, 0x80), true, CommandOutcome::DeviceError,
       true, 0x21, 0x876543},
      {"descriptor, drive aborted", Descriptor48(0x0B, 0, 0x51), true,
       CommandOutcome::DeviceError, true, 0x8021, 0x765432876543ull},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const AtaReply reply = AtaReplyFromResult(Evaluate(c.sense), c.extended);
    EXPECT_EQ(reply.outcome, c.outcome);
    EXPECT_EQ(reply.code, 0u) << "the drive answered";
    EXPECT_EQ(reply.registersValid, c.valid);
    EXPECT_EQ(reply.status, c.outcome == CommandOutcome::Success ? 0x50 : 0x51);
    EXPECT_EQ(reply.error, 0x04);
    if (!c.valid) continue;
    EXPECT_EQ(reply.registers.count, c.count);
    EXPECT_EQ(reply.registers.lba, c.lba);
    EXPECT_EQ(reply.registers.device, 0x4A);
  }
}

TEST(SatDriveCommand, OlderKernelsFixedLayoutAndAbortsWithoutRegisters) {
  // What QEMU's AHCI disk answered DEVICE CONFIGURATION IDENTIFY with under Debian 12's
  // kernel (6.1): ABORTED COMMAND, the registers five bytes late, 18 bytes in all.
  const std::vector<uint8_t> seen = {0x70, 0x00, 0x0B, 0x00, 0x00, 0x00, 0x00, 0x0A, 0x04,
                                     0x41, 0x40, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  for (const bool extended : {false, true}) {
    const AtaReply cut = AtaReplyFromResult(Evaluate(seen), extended);
    EXPECT_EQ(cut.outcome, CommandOutcome::DeviceError);
    EXPECT_EQ(cut.status, 0x41);
    EXPECT_EQ(cut.error, 0x04);
    EXPECT_FALSE(cut.registersValid) << "the LBA bytes lie past the 18";
  }
  // The whole buffer, where a kernel hands it over.
  std::vector<uint8_t> late = seen;
  late.resize(24, 0);
  const AtaReply aborted = AtaReplyFromResult(Evaluate(late), false);
  EXPECT_EQ(aborted.outcome, CommandOutcome::DeviceError);
  EXPECT_TRUE(aborted.registersValid);
  EXPECT_EQ(aborted.status, 0x41);
  EXPECT_EQ(aborted.error, 0x04);
  EXPECT_EQ(aborted.registers.count, 1);
  // The same for a 48-bit command: flags at byte 16, LBA at 17-19.
  std::vector<uint8_t> late48 = late;
  late48[16] = 0x80;
  late48[17] = 0xFF;
  late48[18] = 0x3F;
  late48[19] = 0x01;
  const AtaReply native = AtaReplyFromResult(Evaluate(late48), true);
  EXPECT_TRUE(native.registersValid);
  EXPECT_EQ(native.registers.lba, 0x013FFFu);

  // ABORTED COMMAND with no registers at all is still the drive's refusal.
  const std::vector<uint8_t> bare = {0x70, 0x00, 0x0B, 0, 0, 0, 0, 0x0A};
  EXPECT_EQ(AtaReplyFromResult(Evaluate(bare), true).outcome, CommandOutcome::DeviceError);
  // A transport's abort (an ASC of its own) is not.
  std::vector<uint8_t> parity = Fixed(0x0B, 0, 0, 0);
  parity[12] = 0x47;
  EXPECT_EQ(AtaReplyFromResult(Evaluate(parity), true).outcome, CommandOutcome::TransportError);
}

TEST(SatDriveCommand, FailedSendsCarryTheirWindowsCode) {
  struct Case {
    int error;
    CommandOutcome outcome;
    uint32_t code;
  };
  const Case cases[] = {
      {EINVAL, CommandOutcome::NotSupported, win::ERROR_INVALID_FUNCTION},  // a loop device
      {ENOTTY, CommandOutcome::NotSupported, win::ERROR_INVALID_FUNCTION},
      {EOPNOTSUPP, CommandOutcome::NotSupported, win::ERROR_INVALID_FUNCTION},
      {ENODEV, CommandOutcome::NoDevice, win::ERROR_DEV_NOT_EXIST},
      {ENXIO, CommandOutcome::NoDevice, win::ERROR_DEV_NOT_EXIST},
      {ETIMEDOUT, CommandOutcome::Timeout, win::ERROR_SEM_TIMEOUT},
      {EIO, CommandOutcome::TransportError, win::ERROR_IO_DEVICE},
      {EPERM, CommandOutcome::TransportError, win::ERROR_ACCESS_DENIED},  // no CAP_SYS_RAWIO
      {EINTR, CommandOutcome::TransportError, win::ERROR_IO_DEVICE},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CommandOutcomeFromErrno(c.error), c.outcome) << c.error;
    EXPECT_EQ(CommandErrorFromErrno(c.error), c.code) << c.error;
  }
  // A path that refuses the pass-through itself (ILLEGAL REQUEST): nothing reached the drive.
  std::vector<uint8_t> invalid = Fixed(0x05, 0, 0, 0);
  invalid[12] = 0x20;
  const AtaReply refused = AtaReplyFromResult(Evaluate(invalid), true);
  EXPECT_EQ(refused.outcome, CommandOutcome::NotSupported);
  EXPECT_EQ(refused.code, win::ERROR_INVALID_FUNCTION);
  EXPECT_FALSE(refused.registersValid);
}

// The commands the erase builds, as this backend carries them: the facts are read on the
// identification handle, so every read must count as one, and nothing else may.
TEST(SatDriveCommand, TheEraseCommandsAsTheBackendCarriesThem) {
  struct Case {
    const char* name;
    AtaCommand command;
    bool onlyReads;
    uint8_t byte1, byte2;  // protocol + extend, ck_cond + transfer
  };
  const Case cases[] = {
      {"SANITIZE STATUS EXT", AtaSanitizeStatus(), true, 0x07, 0x20},
      {"READ NATIVE MAX ADDRESS EXT", AtaReadNativeMaxExt(), true, 0x07, 0x20},
      {"GET NATIVE MAX ADDRESS EXT", AtaGetNativeMaxAddress(), true, 0x07, 0x20},
      {"DCO IDENTIFY", AtaDcoIdentify(), true, 0x08, 0x0E},
      {"SANITIZE STATUS EXT, clearing", AtaSanitizeStatus(true), false, 0x07, 0x20},
      {"BLOCK ERASE EXT", AtaSanitize(SanitizeAction::BlockErase), false, 0x07, 0x20},
      {"CRYPTO SCRAMBLE EXT", AtaSanitize(SanitizeAction::CryptoErase), false, 0x07, 0x20},
      {"OVERWRITE EXT", AtaSanitize(SanitizeAction::Overwrite, 0, 1), false, 0x07, 0x20},
      {"SECURITY SET PASSWORD", AtaSecuritySetPassword(), false, 0x0A, 0x06},
      {"SECURITY ERASE PREPARE", AtaSecurityErasePrepare(), false, 0x06, 0x20},
      {"SECURITY ERASE UNIT", AtaSecurityEraseUnit(7200), false, 0x0A, 0x06},
      {"SECURITY DISABLE PASSWORD", AtaSecurityDisablePassword(), false, 0x0A, 0x06},
      {"SET MAX ADDRESS EXT", AtaSetMaxAddressExt(1000), false, 0x07, 0x20},
      {"SET ACCESSIBLE MAX ADDRESS EXT", AtaSetAccessibleMaxAddress(1000), false, 0x07, 0x20},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(AtaCommandOnlyReads(c.command), c.onlyReads);
    const Cdb cdb = BuildAtaPassThrough16(c.command);
    EXPECT_EQ(cdb[1], c.byte1);
    EXPECT_EQ(cdb[2], c.byte2);
    EXPECT_EQ(cdb[14], c.command.registers.command);
    EXPECT_GE(SgIoTimeoutMs(c.command.timeoutSeconds), 15000u);
  }
  // An erase of hours keeps its hours (never the 15 s default); nothing overflows.
  EXPECT_EQ(SgIoTimeoutMs(AtaSecurityEraseUnit(7200).timeoutSeconds), 7200000u);
  EXPECT_EQ(SgIoTimeoutMs(0), 15000u);
  EXPECT_EQ(SgIoTimeoutMs(UINT32_MAX), UINT_MAX);

  EXPECT_TRUE(NvmeAdminOnlyReads(NvmeSanitizeStatusLog()));
  EXPECT_TRUE(NvmeAdminOnlyReads(NvmeActiveNamespaceList()));
  EXPECT_FALSE(NvmeAdminOnlyReads(NvmeSanitize(SanitizeAction::BlockErase)));
  EXPECT_FALSE(NvmeAdminOnlyReads(NvmeFormat(1, 0, false)));
  // Format's own timeout reaches the driver, not its default.
  uint8_t none = 0;
  EXPECT_EQ(BuildNvmePassthru(NvmeFormat(1, 0, false), &none).timeout_ms, 600000u);
}

uint32_t U32(const uint8_t* bytes, size_t at) {
  uint32_t value = 0;
  std::memcpy(&value, bytes + at, sizeof value);
  return value;
}

TEST(NvmeDriveCommand, PassthroughFieldsOfEachDirection) {
  struct Case {
    const char* name;
    NvmeAdminCommand command;
    bool carriesData;
  };
  NvmeAdminCommand format;
  format.opcode = 0x80;
  format.nsid = 1;
  format.cdw10 = 0x200;  // SES 1, LBA format 0
  format.timeoutMs = 600000;
  NvmeAdminCommand sanitize;
  sanitize.opcode = 0x84;
  sanitize.cdw10 = 0x3 | 0x10;  // overwrite, one pass
  sanitize.cdw11 = 0xA5A55A5A;
  sanitize.cdw12 = 0x12;
  sanitize.cdw13 = 0x13;
  sanitize.cdw14 = 0x14;
  sanitize.cdw15 = 0x15;
  NvmeAdminCommand log;
  log.opcode = 0x02;
  log.nsid = 0xFFFFFFFF;
  log.cdw10 = 0x007F0081;
  log.dataLength = 512;
  log.direction = NvmeDataDirection::FromDevice;
  NvmeAdminCommand stray = format;  // a length without a direction moves nothing
  stray.dataLength = 4096;
  const Case cases[] = {{"Format NVM", format, false},
                        {"Sanitize", sanitize, false},
                        {"Sanitize Status log", log, true},
                        {"length without direction", stray, false}};
  uint8_t data[512];
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const nvme_passthru_cmd cmd = BuildNvmePassthru(c.command, data);
    uint8_t raw[sizeof cmd];
    std::memcpy(raw, &cmd, sizeof cmd);
    EXPECT_EQ(raw[0], c.command.opcode);
    EXPECT_EQ(raw[1], 0) << "flags";
    EXPECT_EQ(U32(raw, 4), c.command.nsid);
    EXPECT_EQ(cmd.addr, c.carriesData ? reinterpret_cast<uintptr_t>(data) : 0u);
    EXPECT_EQ(U32(raw, 36), c.carriesData ? c.command.dataLength : 0u);
    const uint32_t dwords[] = {c.command.cdw10, c.command.cdw11, c.command.cdw12,
                               c.command.cdw13, c.command.cdw14, c.command.cdw15};
    for (size_t i = 0; i < 6; ++i) EXPECT_EQ(U32(raw, 40 + 4 * i), dwords[i]) << "cdw" << 10 + i;
    EXPECT_EQ(U32(raw, 64), c.command.timeoutMs);
    EXPECT_EQ(cmd.metadata, 0u);
  }
}

TEST(NvmeDriveCommand, ReadsAndRepliesFromTheIoctl) {
  NvmeAdminCommand c;
  for (const uint8_t opcode : {0x02, 0x06, 0x0A}) {
    c.opcode = opcode;
    c.direction = NvmeDataDirection::FromDevice;
    EXPECT_TRUE(NvmeAdminOnlyReads(c)) << int{opcode};
    c.direction = NvmeDataDirection::ToDevice;
    EXPECT_FALSE(NvmeAdminOnlyReads(c)) << int{opcode};
  }
  c.direction = NvmeDataDirection::None;
  for (const uint8_t opcode : {0x80, 0x84, 0x09, 0x0D, 0x10, 0x11}) {
    c.opcode = opcode;
    EXPECT_FALSE(NvmeAdminOnlyReads(c)) << int{opcode};
  }

  struct Case {
    int returned, error;
    CommandOutcome outcome;
    uint16_t status;
    uint32_t code;
  };
  const Case cases[] = {
      {0, 0, CommandOutcome::Success, 0, 0},
      // QEMU's answer to Sanitize: Invalid Command Opcode with DNR.
      {0x4001, 0, CommandOutcome::DeviceError, 0x001, 0},
      {0x2002, 0, CommandOutcome::DeviceError, 0x002, 0},      // More bit dropped
      {0x0371, 0, CommandOutcome::DeviceError, 0x371, 0},      // aborted by the host
      {0x180B, 0, CommandOutcome::DeviceError, 0x00B, 0},      // CRD dropped
      {-1, ENOTTY, CommandOutcome::NotSupported, 0, win::ERROR_INVALID_FUNCTION},
      {-1, ENODEV, CommandOutcome::NoDevice, 0, win::ERROR_DEV_NOT_EXIST},
      {-1, EACCES, CommandOutcome::TransportError, 0, win::ERROR_ACCESS_DENIED},
      {-1, EINTR, CommandOutcome::TransportError, 0, win::ERROR_IO_DEVICE},
  };
  for (const Case& k : cases) {
    const NvmeReply reply = NvmeReplyFromIoctl(k.returned, k.error, 0xC0FFEE);
    EXPECT_EQ(reply.outcome, k.outcome) << k.returned << "/" << k.error;
    EXPECT_EQ(reply.status, k.status) << k.returned;
    EXPECT_EQ(reply.code, k.code) << k.returned << "/" << k.error;
    EXPECT_EQ(reply.result, k.returned >= 0 ? 0xC0FFEEu : 0u);
  }
}

}  // namespace
}  // namespace fw::linuxio
