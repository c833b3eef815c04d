#include "device/purge_commands.hpp"

#include <algorithm>

#include "device/nvme_layouts.hpp"

namespace fw {

namespace {

// ACS-3 command codes.
constexpr uint8_t kReadNativeMaxExt = 0x27;
constexpr uint8_t kSetMaxAddressExt = 0x37;
constexpr uint8_t kAccessibleMaxAddress = 0x78;
constexpr uint8_t kDeviceConfiguration = 0xB1;
constexpr uint8_t kSanitizeDevice = 0xB4;
constexpr uint8_t kSecuritySetPassword = 0xF1;
constexpr uint8_t kSecurityErasePrepare = 0xF3;
constexpr uint8_t kSecurityEraseUnit = 0xF4;
constexpr uint8_t kSecurityDisablePassword = 0xF6;
constexpr uint8_t kSecurityUnlock = 0xF2;

// SANITIZE DEVICE subcommands (FEATURE) and the keys the drive checks in the LBA field, so that
// a stray command with the right code alone cannot start an erase.
constexpr uint16_t kSanitizeStatusExt = 0x0000;
constexpr uint16_t kCryptoScrambleExt = 0x0011;
constexpr uint16_t kBlockEraseExt = 0x0012;
constexpr uint16_t kOverwriteExt = 0x0014;
constexpr uint64_t kCryptoScrambleKey = 0x43727970;  // "Cryp"
constexpr uint64_t kBlockEraseKey = 0x426B4572;      // "BkEr"
constexpr uint64_t kOverwriteKey = 0x4F57;           // "OW", LBA 47:32
// SANITIZE STATUS EXT count bit 0.
constexpr uint16_t kClearSanitizeFailed = 1u << 0;
// OVERWRITE EXT count: bits 3:0 the passes (0 means 16). FAILURE MODE (bit 4) stays clear: a
// failed sanitize keeps the drive in its failed state until a sanitize succeeds, rather than
// letting a status command hand back a medium that was never erased.
constexpr uint16_t kOverwritePassMask = 0x0F;

// DEVICE CONFIGURATION OVERLAY FEATURE.
constexpr uint16_t kDcoIdentify = 0x00C2;
// ACCESSIBLE MAX ADDRESS CONFIGURATION FEATURE.
constexpr uint16_t kGetNativeMaxAddress = 0x0000;
constexpr uint16_t kSetAccessibleMaxAddress = 0x0001;
// SET MAX ADDRESS EXT count bit 0 (VV, "value volatile"): despite its name, one makes the new
// maximum survive a power cycle (hdparm -N p sets it); clear, the drive forgets it at power-off.
constexpr uint16_t kSetMaxKeepAfterPowerOff = 1u << 0;
// Device register: the LBA bit, which the older max-address commands require.
constexpr uint8_t kDeviceLba = 0x40;

// Commands that answer at once. The sanitize commands only start the erase, which then runs
// in the drive's background, but a drive may first finish what it had queued.
constexpr uint32_t kShortCommandSeconds = 15;
constexpr uint32_t kSanitizeStartSeconds = 60;

constexpr uint64_t kLba48Mask = (uint64_t{1} << 48) - 1;

AtaCommand NonData48(uint8_t command, uint16_t feature, uint64_t lba, uint16_t count,
                     uint8_t device, uint32_t timeoutSeconds) {
  AtaCommand c;
  c.registers = {.feature = feature, .count = count, .lba = lba & kLba48Mask, .device = device,
                 .command = command};
  c.protocol = AtaProtocol::NonData;
  c.extended = true;
  c.timeoutSeconds = timeoutSeconds;
  return c;
}

// The 28-bit security and overlay commands move one 512-byte sector; the count says so, as
// hdparm sets it, since SAT takes the transfer length from the count field.
AtaCommand OneSector28(uint8_t command, uint16_t feature, AtaProtocol protocol,
                       uint32_t timeoutSeconds) {
  AtaCommand c;
  c.registers = {.feature = feature, .count = 1, .lba = 0, .device = 0, .command = command};
  c.protocol = protocol;
  c.extended = false;
  c.timeoutSeconds = timeoutSeconds;
  return c;
}

// An address past 48 bits, cut to its low bits, would name a tiny maximum and hide almost
// the whole disk; held at the largest address, the drive refuses it instead.
uint64_t MaxAddress(uint64_t lba) { return std::min(lba, kLba48Mask); }

template <class T>
T Little(std::span<const uint8_t> data, size_t offset) {
  T value = 0;
  for (size_t i = sizeof(T); i-- > 0;) value = static_cast<T>((value << 8) | data[offset + i]);
  return value;
}

// SANITIZE STATUS EXT returned COUNT bits (ACS-3 table "Sanitize Device Normal Output").
constexpr uint16_t kStatusCompleted = 1u << 15;
constexpr uint16_t kStatusInProgress = 1u << 14;
constexpr uint16_t kStatusFrozen = 1u << 13;
// The SANITIZE DEVICE ERROR REASON in LBA 7:0 of an error reply.
constexpr uint8_t kReasonUnsuccessful = 0x01;
constexpr uint8_t kReasonUnsupported = 0x02;
constexpr uint8_t kReasonFrozen = 0x03;

// Progress numerators have 65536 as their denominator in both standards.
constexpr double kProgressDenominator = 65536.0;

// Sanitize Status log (NVMe Base 2.0, log identifier 81h).
namespace sanlog {
constexpr uint8_t kLogId = 0x81;
constexpr uint32_t kSize = 512;
constexpr size_t kSprog = 0;     // u16
constexpr size_t kSstat = 2;     // u16, bits 2:0 the status
constexpr size_t kEstimateOverwrite = 8;   // u32 seconds each
constexpr size_t kEstimateBlock = 12;
constexpr size_t kEstimateCrypto = 16;
constexpr size_t kUsed = 32;
constexpr uint32_t kNotReported = 0xFFFFFFFF;
enum Status : uint16_t {
  kNeverSanitized = 0,
  kCompleted = 1,
  kInProgress = 2,
  kFailed = 3,
  kCompletedNoDeallocate = 4,
};
}  // namespace sanlog

// NVMe admin opcodes and fields used below.
constexpr uint8_t kOpcodeFormatNvm = 0x80;
constexpr uint8_t kOpcodeSanitize = 0x84;
constexpr uint32_t kCnsActiveNamespaces = 0x02;
constexpr uint32_t kSanactBlock = 2;
constexpr uint32_t kSanactOverwrite = 3;
constexpr uint32_t kSanactCrypto = 4;
constexpr unsigned kOwpassShift = 4;  // CDW10 bits 7:4
constexpr uint32_t kSesUserData = 1;
constexpr uint32_t kSesCrypto = 2;
constexpr unsigned kSesShift = 9;            // CDW10 bits 11:9
constexpr unsigned kLbafUpperShift = 12;     // CDW10 bits 13:12: the format index's bits 5:4
// nvme-cli's Format timeout; Sanitize, like ATA's, returns once the erase has started.
constexpr uint32_t kFormatTimeoutMs = 600'000;
constexpr uint32_t kSanitizeTimeoutMs = kSanitizeStartSeconds * 1000;

}  // namespace

AtaCommand AtaSanitize(SanitizeAction action, uint32_t overwritePattern, uint8_t overwritePasses) {
  switch (action) {
    case SanitizeAction::BlockErase:
      return NonData48(kSanitizeDevice, kBlockEraseExt, kBlockEraseKey, 0, 0,
                       kSanitizeStartSeconds);
    case SanitizeAction::CryptoErase:
      return NonData48(kSanitizeDevice, kCryptoScrambleExt, kCryptoScrambleKey, 0, 0,
                       kSanitizeStartSeconds);
    case SanitizeAction::Overwrite: {
      const uint16_t passes = static_cast<uint16_t>(std::clamp<unsigned>(overwritePasses, 1, 16));
      return NonData48(kSanitizeDevice, kOverwriteExt, (kOverwriteKey << 32) | overwritePattern,
                       passes & kOverwritePassMask, 0, kSanitizeStartSeconds);
    }
  }
  return {};
}

AtaCommand AtaSanitizeStatus(bool clearFailure) {
  return NonData48(kSanitizeDevice, kSanitizeStatusExt, 0,
                   clearFailure ? kClearSanitizeFailed : uint16_t{0}, 0, kShortCommandSeconds);
}

SanitizeProgress DecodeAtaSanitizeStatus(const AtaReply& reply) {
  if (reply.outcome == CommandOutcome::DeviceError) {
    // Without the returned registers the reason is unknown; a drive that never offered
    // sanitize is not asked, so the failure of the last sanitize is the likely one.
    if (!reply.registersValid) return {SanitizeState::Failed, std::nullopt};
    switch (static_cast<uint8_t>(reply.registers.lba & 0xFF)) {
      case kReasonUnsupported: return {SanitizeState::Unsupported, std::nullopt};
      case kReasonFrozen: return {SanitizeState::Frozen, std::nullopt};
      case kReasonUnsuccessful:
      default: return {SanitizeState::Failed, std::nullopt};
    }
  }
  if (reply.outcome != CommandOutcome::Success || !reply.registersValid) {
    return {SanitizeState::Unsupported, std::nullopt};
  }
  const uint16_t count = reply.registers.count;
  // hdparm's order: a frozen drive cannot be running a sanitize.
  if (count & kStatusFrozen) return {SanitizeState::Frozen, std::nullopt};
  if (count & kStatusInProgress) {
    return {SanitizeState::InProgress,
            static_cast<double>(reply.registers.lba & 0xFFFF) / kProgressDenominator};
  }
  if (count & kStatusCompleted) return {SanitizeState::Completed, std::nullopt};
  return {SanitizeState::Idle, std::nullopt};
}

AtaCommand AtaSecuritySetPassword() {
  return OneSector28(kSecuritySetPassword, 0, AtaProtocol::PioDataOut, kShortCommandSeconds);
}

AtaCommand AtaSecurityErasePrepare() {
  AtaCommand c = OneSector28(kSecurityErasePrepare, 0, AtaProtocol::NonData, kShortCommandSeconds);
  c.registers.count = 0;
  return c;
}

AtaCommand AtaSecurityEraseUnit(uint32_t timeoutSeconds) {
  return OneSector28(kSecurityEraseUnit, 0, AtaProtocol::PioDataOut, timeoutSeconds);
}

AtaCommand AtaSecurityUnlock() {
  return OneSector28(kSecurityUnlock, 0, AtaProtocol::PioDataOut, kShortCommandSeconds);
}

AtaCommand AtaSecurityDisablePassword() {
  return OneSector28(kSecurityDisablePassword, 0, AtaProtocol::PioDataOut, kShortCommandSeconds);
}

std::array<uint8_t, 512> SecuritySector(const std::string& password, bool enhanced) {
  // ACS-3 word 0: bit 0 the identifier (0 user), bit 1 enhanced erase (ERASE UNIT only), bit 8
  // the level (SET PASSWORD only; 0 high: the master password can still unlock the drive).
  constexpr size_t kPasswordOffset = 2;  // words 1-16
  constexpr size_t kPasswordBytes = 32;
  std::array<uint8_t, 512> sector{};
  sector[0] = enhanced ? 0x02 : 0x00;
  // The bytes go in as given and the rest stays zero, as hdparm fills it: a password left
  // set by a failed erase then works with hdparm's --security-disable as well as with ours.
  const size_t n = std::min(password.size(), kPasswordBytes);
  std::copy_n(password.begin(), n, sector.begin() + kPasswordOffset);
  return sector;
}

uint32_t SecurityEraseTimeoutSeconds(std::optional<uint32_t> estimateMinutes,
                                     int64_t capacityBytes) {
  // hdparm's floor: one second per 30 MB and half an hour of slack; taken even when the drive
  // gives an estimate, since some drives give one far too short.
  constexpr int64_t kBytesPerSecond = 30'000'000;
  const int64_t floorSeconds = std::max<int64_t>(capacityBytes, 0) / kBytesPerSecond + 30 * 60;
  int64_t seconds = floorSeconds;
  if (estimateMinutes && *estimateMinutes > 0) {
    seconds = std::max<int64_t>(seconds, (int64_t{*estimateMinutes} * 2 + 60) * 60);
  }
  return static_cast<uint32_t>(std::min<int64_t>(seconds, UINT32_MAX));
}

AtaCommand AtaReadNativeMaxExt() {
  return NonData48(kReadNativeMaxExt, 0, 0, 0, kDeviceLba, kShortCommandSeconds);
}

AtaCommand AtaSetMaxAddressExt(uint64_t maxLba, bool keepAfterPowerOff) {
  return NonData48(kSetMaxAddressExt, 0, MaxAddress(maxLba),
                   keepAfterPowerOff ? kSetMaxKeepAfterPowerOff : uint16_t{0}, kDeviceLba,
                   kShortCommandSeconds);
}

AtaCommand AtaGetNativeMaxAddress() {
  return NonData48(kAccessibleMaxAddress, kGetNativeMaxAddress, 0, 0, 0, kShortCommandSeconds);
}

AtaCommand AtaSetAccessibleMaxAddress(uint64_t maxLba) {
  return NonData48(kAccessibleMaxAddress, kSetAccessibleMaxAddress, MaxAddress(maxLba), 0, 0,
                   kShortCommandSeconds);
}

AtaCommand AtaDcoIdentify() {
  return OneSector28(kDeviceConfiguration, kDcoIdentify, AtaProtocol::PioDataIn,
                     kShortCommandSeconds);
}

std::optional<int64_t> NativeSectorsFromReply(const AtaReply& reply) {
  if (reply.outcome != CommandOutcome::Success || !reply.registersValid) return std::nullopt;
  return static_cast<int64_t>(reply.registers.lba & kLba48Mask) + 1;
}

std::optional<int64_t> DcoMaxSectors(std::span<const uint8_t, 512> dco) {
  // Word 255: signature A5h in bits 7:0, and a checksum in bits 15:8 that makes all 512 bytes
  // add up to zero (as IDENTIFY DEVICE's integrity word).
  constexpr uint8_t kSignature = 0xA5;
  if (dco[510] != kSignature) return std::nullopt;
  uint8_t sum = 0;
  for (uint8_t b : dco) sum = static_cast<uint8_t>(sum + b);
  if (sum != 0) return std::nullopt;
  constexpr size_t kMaxLbaOffset = 6;  // words 3-6
  const uint64_t maxLba = Little<uint64_t>(dco, kMaxLbaOffset) & kLba48Mask;
  return static_cast<int64_t>(maxLba) + 1;
}

NvmeAdminCommand NvmeSanitize(SanitizeAction action, uint32_t overwritePattern) {
  NvmeAdminCommand c;
  c.opcode = kOpcodeSanitize;
  c.nsid = 0;  // the whole subsystem; the command names no namespace
  switch (action) {
    case SanitizeAction::BlockErase: c.cdw10 = kSanactBlock; break;
    case SanitizeAction::CryptoErase: c.cdw10 = kSanactCrypto; break;
    case SanitizeAction::Overwrite:
      // One pass; AUSE stays clear (a failed sanitize can only be left by one that succeeds),
      // and the controller may deallocate afterwards (NDAS clear).
      c.cdw10 = kSanactOverwrite | (1u << kOwpassShift);
      c.cdw11 = overwritePattern;
      break;
  }
  c.direction = NvmeDataDirection::None;
  c.timeoutMs = kSanitizeTimeoutMs;
  return c;
}

NvmeAdminCommand NvmeFormat(uint32_t nsid, uint8_t lbaFormat, bool crypto) {
  NvmeAdminCommand c;
  c.opcode = kOpcodeFormatNvm;
  c.nsid = nsid;
  // MSET, PI and PIL stay 0: no protection information, metadata as the format says.
  const uint32_t ses = crypto ? kSesCrypto : kSesUserData;
  c.cdw10 = (lbaFormat & 0x0Fu) | (ses << kSesShift) | (((lbaFormat >> 4) & 0x03u) << kLbafUpperShift);
  c.direction = NvmeDataDirection::None;
  c.timeoutMs = kFormatTimeoutMs;
  return c;
}

NvmeAdminCommand NvmeSanitizeStatusLog() {
  NvmeAdminCommand c;
  c.opcode = nvme::kOpcodeGetLogPage;
  c.nsid = nvme::kAllNamespaces;
  const uint32_t dwordsMinusOne = sanlog::kSize / 4 - 1;  // NUMDL, bits 31:16
  c.cdw10 = (dwordsMinusOne << 16) | sanlog::kLogId;
  c.dataLength = sanlog::kSize;
  c.direction = NvmeDataDirection::FromDevice;
  return c;
}

NvmeAdminCommand NvmeActiveNamespaceList() {
  NvmeAdminCommand c;
  c.opcode = nvme::kOpcodeIdentify;
  c.nsid = 0;  // the IDs above 0: all of them
  c.cdw10 = kCnsActiveNamespaces;
  c.dataLength = nvme::kIdentifySize;
  c.direction = NvmeDataDirection::FromDevice;
  return c;
}

SanitizeProgress DecodeNvmeSanitizeLog(std::span<const uint8_t> page) {
  if (page.size() < sanlog::kUsed) return {SanitizeState::Unsupported, std::nullopt};
  const uint16_t status = Little<uint16_t>(page, sanlog::kSstat) & 0x07;
  switch (status) {
    case sanlog::kNeverSanitized: return {SanitizeState::Idle, std::nullopt};
    case sanlog::kCompleted:
    case sanlog::kCompletedNoDeallocate: return {SanitizeState::Completed, std::nullopt};
    case sanlog::kInProgress:
      return {SanitizeState::InProgress,
              Little<uint16_t>(page, sanlog::kSprog) / kProgressDenominator};
    case sanlog::kFailed: return {SanitizeState::Failed, std::nullopt};
    default: return {SanitizeState::Unsupported, std::nullopt};
  }
}

std::optional<uint32_t> NvmeSanitizeEstimateSeconds(std::span<const uint8_t> page,
                                                    SanitizeAction action) {
  if (page.size() < sanlog::kUsed) return std::nullopt;
  size_t offset = sanlog::kEstimateBlock;
  switch (action) {
    case SanitizeAction::BlockErase: offset = sanlog::kEstimateBlock; break;
    case SanitizeAction::CryptoErase: offset = sanlog::kEstimateCrypto; break;
    case SanitizeAction::Overwrite: offset = sanlog::kEstimateOverwrite; break;
  }
  const uint32_t seconds = Little<uint32_t>(page, offset);
  if (seconds == sanlog::kNotReported) return std::nullopt;
  return seconds;
}

uint32_t CountActiveNamespaces(std::span<const uint8_t> list) {
  // Ascending IDs, the rest of the page zero.
  uint32_t count = 0;
  for (size_t offset = 0; offset + 4 <= list.size(); offset += 4) {
    if (Little<uint32_t>(list, offset) == 0) break;
    ++count;
  }
  return count;
}

}  // namespace fw
