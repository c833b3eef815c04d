#include "device/image/image_drive_commands.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <map>
#include <random>
#include <utility>
#include <vector>

#include "core/small_file.hpp"
#include "device/device_io.hpp"
#include "device/erase_capabilities.hpp"
#include "device/nvme_layouts.hpp"

namespace fw::image {

namespace {

using nlohmann::json;

// ATA status and error register values.
constexpr uint8_t kStatusReady = 0x50;  // DRDY, DSC
constexpr uint8_t kStatusError = 0x51;  // DRDY, DSC, ERR
constexpr uint8_t kErrorAbort = 0x04;
constexpr uint8_t kErrorIdNotFound = 0x10;

// ATA command codes the drive answers.
constexpr uint8_t kIdentifyDevice = 0xEC;
constexpr uint8_t kSanitizeDevice = 0xB4;
constexpr uint8_t kSecuritySetPassword = 0xF1;
constexpr uint8_t kSecurityUnlock = 0xF2;
constexpr uint8_t kSecurityErasePrepare = 0xF3;
constexpr uint8_t kSecurityEraseUnit = 0xF4;
constexpr uint8_t kSecurityFreezeLock = 0xF5;
constexpr uint8_t kSecurityDisablePassword = 0xF6;
constexpr uint8_t kReadNativeMaxExt = 0x27;
constexpr uint8_t kSetMaxAddressExt = 0x37;
constexpr uint8_t kAccessibleMaxAddress = 0x78;
constexpr uint8_t kDeviceConfiguration = 0xB1;

// SANITIZE DEVICE subcommands and their keys.
constexpr uint16_t kSanitizeStatus = 0x0000;
constexpr uint16_t kCryptoScramble = 0x0011;
constexpr uint16_t kBlockErase = 0x0012;
constexpr uint16_t kOverwrite = 0x0014;
constexpr uint16_t kFreezeLock = 0x0020;
constexpr uint16_t kAntifreezeLock = 0x0040;
constexpr uint64_t kCryptoKey = 0x43727970;    // "Cryp"
constexpr uint64_t kBlockKey = 0x426B4572;     // "BkEr"
constexpr uint64_t kOverwriteKey = 0x4F57;     // LBA 47:32
constexpr uint64_t kFreezeKey = 0x46724C6B;    // "FrLk"
constexpr uint64_t kAntifreezeKey = 0x416E7469;  // "Anti"
// Why a sanitize command was refused (LBA 7:0 of the error outputs).
constexpr uint64_t kReasonUnknown = 0;
constexpr uint64_t kReasonFailed = 1;
constexpr uint64_t kReasonInvalid = 2;
constexpr uint64_t kReasonFrozen = 3;
constexpr uint64_t kReasonAntifreeze = 4;

// NVMe admin opcodes and status values (SCT << 8 | SC).
constexpr uint8_t kNvmeFormat = 0x80;
constexpr uint8_t kNvmeSanitize = 0x84;
constexpr uint32_t kCnsActiveNamespaces = 0x02;
constexpr uint32_t kLogSanitizeStatus = 0x81;
constexpr uint16_t kNvmeInvalidOpcode = 0x0001;
constexpr uint16_t kNvmeInvalidField = 0x0002;
constexpr uint16_t kNvmeInternalError = 0x0006;
constexpr uint16_t kNvmeInvalidNamespace = 0x000B;
constexpr uint16_t kNvmeSanitizeInProgress = 0x001D;
constexpr uint16_t kNvmeInvalidFormat = 0x010A;
constexpr uint16_t kNvmeInvalidLogPage = 0x0109;

constexpr size_t kSanitizeLogSize = 512;
constexpr size_t kPasswordBytes = 32;
constexpr int64_t kFillChunk = 1 << 20;
constexpr size_t kSectorBytes = 512;

uint16_t Word(const Sector& s, size_t n) {
  return static_cast<uint16_t>(s[2 * n] | (s[2 * n + 1] << 8));
}

void PutWord(Sector& s, size_t n, uint16_t value) {
  s[2 * n] = static_cast<uint8_t>(value);
  s[2 * n + 1] = static_cast<uint8_t>(value >> 8);
}

void PutBit(Sector& s, size_t word, int bit, bool on) {
  const auto mask = static_cast<uint16_t>(1u << bit);
  PutWord(s, word, static_cast<uint16_t>(on ? Word(s, word) | mask : Word(s, word) & ~mask));
}

// Word 255: signature A5h and the checksum that makes the sector's bytes sum to zero.
void SealIdentify(Sector& s) {
  if (s[510] != 0xA5) return;
  uint8_t sum = 0;
  for (size_t i = 0; i < 511; ++i) sum = static_cast<uint8_t>(sum + s[i]);
  s[511] = static_cast<uint8_t>(-sum);
}

template <size_t N>
void PutLe(std::array<uint8_t, N>& page, size_t offset, uint64_t value, size_t bytes) {
  for (size_t i = 0; i < bytes; ++i) page[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

AtaReply AtaOk(const AtaTaskFile& registers = {}) {
  AtaReply reply;
  reply.outcome = CommandOutcome::Success;
  reply.registersValid = true;
  reply.registers = registers;
  reply.status = kStatusReady;
  return reply;
}

AtaReply AtaAbort(uint64_t lba = kReasonUnknown, uint8_t error = kErrorAbort) {
  AtaReply reply;
  reply.outcome = CommandOutcome::DeviceError;
  reply.registersValid = true;
  reply.registers.lba = lba;
  reply.status = kStatusError;
  reply.error = error;
  return reply;
}

// Nothing sent, as the Linux backend refuses a command that changes the drive on another handle.
AtaReply AtaRefusedOffWorkingHandle() {
  AtaReply reply;
  reply.outcome = CommandOutcome::NotSupported;
  reply.code = win::ERROR_ACCESS_DENIED;
  return reply;
}

NvmeReply NvmeStatus(uint16_t status) {
  NvmeReply reply;
  reply.outcome = status == 0 ? CommandOutcome::Success : CommandOutcome::DeviceError;
  reply.status = status;
  return reply;
}

NvmeReply NvmeRefusedOffWorkingHandle() {
  NvmeReply reply;
  reply.outcome = CommandOutcome::NotSupported;
  reply.code = win::ERROR_ACCESS_DENIED;
  return reply;
}

// The password of a security data sector: words 1-16.
std::string SectorPassword(std::span<const uint8_t> data) {
  return std::string(reinterpret_cast<const char*>(data.data()) + 2, kPasswordBytes);
}

std::string Hex(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (const char c : bytes) {
    text.push_back(kDigits[static_cast<uint8_t>(c) >> 4]);
    text.push_back(kDigits[static_cast<uint8_t>(c) & 15]);
  }
  return text;
}

std::optional<std::string> FromHex(const json& value) {
  if (!value.is_string()) return std::nullopt;
  const std::string& text = value.get_ref<const std::string&>();
  if (text.size() != 2 * kPasswordBytes) return std::nullopt;
  std::string bytes;
  for (size_t i = 0; i < text.size(); i += 2) {
    const auto digit = [](char c) -> int {
      if (c >= '0' && c <= '9') return c - '0';
      if (c >= 'a' && c <= 'f') return c - 'a' + 10;
      return -1;
    };
    const int high = digit(text[i]);
    const int low = digit(text[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes.push_back(static_cast<char>(high * 16 + low));
  }
  return bytes;
}

const char* PhaseWord(int phase) {
  static constexpr const char* kWords[] = {"idle", "running", "completed", "failed"};
  return kWords[phase];
}

}  // namespace

SimulatedDrive::SimulatedDrive(const ImageDrive& drive, int64_t imageBytes, Clock& clock)
    : m_drive(drive), m_clock(clock) {
  m_nativeSectors = drive.sectorSize == 0 ? 0 : imageBytes / drive.sectorSize;
  m_maxSectors = std::min(m_nativeSectors, drive.accessibleSectors.value_or(m_nativeSectors));
  if (drive.accessibleSectors) {
    m_maxShown = true;
    m_systemSectors = m_maxSectors;
  }
  if (drive.identify) {
    const AtaSecurity security = DecodeAtaEraseFeatures(*drive.identify).security;
    m_security.enabled = security.enabled;
    m_security.locked = security.locked;
    m_security.frozen = security.frozen;
    m_security.levelMaximum = security.levelMaximum;
    if (security.countExpired) m_security.attemptsLeft = 0;
  }
  Refresh();
}

// ---- ATA ----

AtaReply SimulatedDrive::Ata(const AtaCommand& command, std::span<uint8_t> data, bool working) {
  if (!m_drive.identify) return {};
  Refresh();
  Advance();
  const bool afterErasePrepare = std::exchange(m_afterErasePrepare, false);
  const bool afterReadNativeMax = std::exchange(m_afterReadNativeMax, false);
  const uint8_t code = command.registers.command;
  const bool dataIn = command.protocol == AtaProtocol::PioDataIn;
  const bool dataOut = command.protocol == AtaProtocol::PioDataOut;
  if ((dataIn || dataOut) && data.size() < kSectorBytes) {
    AtaReply reply;  // no room for the sector: nothing reaches the drive
    reply.code = win::ERROR_INVALID_PARAMETER;
    return reply;
  }

  AtaReply reply;
  switch (code) {
    case kIdentifyDevice: {
      if (!dataIn) return AtaAbort();
      const Sector sector = *Identify();
      std::copy(sector.begin(), sector.end(), data.begin());
      return AtaOk();
    }
    case kSanitizeDevice:
      reply = SanitizeCommand(command, working);
      break;
    case kSecuritySetPassword:
    case kSecurityUnlock:
    case kSecurityErasePrepare:
    case kSecurityEraseUnit:
    case kSecurityFreezeLock:
    case kSecurityDisablePassword: {
      const bool needsData = code != kSecurityErasePrepare && code != kSecurityFreezeLock;
      if (needsData != dataOut) return AtaAbort();
      if (code == kSecurityEraseUnit && !afterErasePrepare) return AtaAbort();
      reply = SecurityCommand(command, data, working);
      if (code == kSecurityErasePrepare && reply.outcome == CommandOutcome::Success) {
        m_afterErasePrepare = true;
      }
      break;
    }
    case kReadNativeMaxExt:
    case kSetMaxAddressExt:
    case kAccessibleMaxAddress:
      reply = MaxAddressCommand(command, working, afterReadNativeMax);
      break;
    case kDeviceConfiguration:
      reply = DcoCommand(command, data);
      break;
    default:
      reply = AtaAbort();
      break;
  }
  Save();
  return reply;
}

AtaReply SimulatedDrive::SanitizeCommand(const AtaCommand& command, bool working) {
  const AtaEraseFeatures features = DecodeAtaEraseFeatures(*m_drive.identify);
  if (!features.sanitize || command.protocol != AtaProtocol::NonData) return AtaAbort(kReasonInvalid);
  const AtaTaskFile& r = command.registers;
  if (r.feature == kSanitizeStatus) {
    if (m_sanitize.phase == Phase::Failed) {
      const bool clear = (r.count & 1) != 0 && !m_sanitize.failureMode;
      if (!clear) return AtaAbort(kReasonFailed);
      m_sanitize.phase = Phase::Idle;
      m_dirty = true;
    }
    AtaTaskFile out;
    out.count = static_cast<uint16_t>((m_sanitize.phase == Phase::Completed ? 0x8000 : 0) |
                                      (m_sanitize.phase == Phase::Running ? 0x4000 : 0) |
                                      (m_sanitize.frozen ? 0x2000 : 0) |
                                      (m_sanitize.antifreeze ? 0x1000 : 0));
    out.lba = m_sanitize.phase == Phase::Running
                  ? static_cast<uint64_t>(std::min(65535.0, std::floor(SanitizeFraction() * 65536)))
                  : 0xFFFF;
    return AtaOk(out);
  }
  if (!working) return AtaRefusedOffWorkingHandle();
  // While a sanitize runs the drive takes no other sanitize command.
  if (m_sanitize.phase == Phase::Running) return AtaAbort(kReasonUnknown);
  if (m_security.locked) return AtaAbort(kReasonUnknown);
  switch (r.feature) {
    case kCryptoScramble:
    case kBlockErase: {
      const bool crypto = r.feature == kCryptoScramble;
      if (!(crypto ? features.sanitizeCrypto : features.sanitizeBlock)) return AtaAbort(kReasonInvalid);
      if ((r.lba & 0xFFFFFFFFULL) != (crypto ? kCryptoKey : kBlockKey)) return AtaAbort(kReasonInvalid);
      if (m_sanitize.frozen) return AtaAbort(kReasonFrozen);
      m_sanitize.failureMode = (r.count & 0x10) != 0;
      StartSanitize(crypto ? SanitizeAction::CryptoErase : SanitizeAction::BlockErase, 0, 1, false);
      return AtaOk();
    }
    case kOverwrite: {
      if (!features.sanitizeOverwrite) return AtaAbort(kReasonInvalid);
      if (((r.lba >> 32) & 0xFFFF) != kOverwriteKey) return AtaAbort(kReasonInvalid);
      if (m_sanitize.frozen) return AtaAbort(kReasonFrozen);
      m_sanitize.failureMode = (r.count & 0x10) != 0;
      const uint8_t passes = (r.count & 0x0F) == 0 ? 16 : static_cast<uint8_t>(r.count & 0x0F);
      StartSanitize(SanitizeAction::Overwrite, static_cast<uint32_t>(r.lba), passes,
                    (r.count & 0x80) != 0);
      return AtaOk();
    }
    case kFreezeLock:
      if ((r.lba & 0xFFFFFFFFULL) != kFreezeKey) return AtaAbort(kReasonInvalid);
      if (m_sanitize.antifreeze) return AtaAbort(kReasonAntifreeze);
      m_sanitize.frozen = true;
      m_dirty = true;
      return AtaOk();
    case kAntifreezeLock:
      if (!features.sanitizeAntifreeze || (r.lba & 0xFFFFFFFFULL) != kAntifreezeKey) {
        return AtaAbort(kReasonInvalid);
      }
      m_sanitize.antifreeze = true;
      m_dirty = true;
      return AtaOk();
    default:
      return AtaAbort(kReasonInvalid);
  }
}

AtaReply SimulatedDrive::SecurityCommand(const AtaCommand& command, std::span<uint8_t> data,
                                         bool working) {
  const AtaSecurity features = DecodeAtaEraseFeatures(*m_drive.identify).security;
  if (!features.supported) return AtaAbort();
  if (!working) return AtaRefusedOffWorkingHandle();
  if (m_sanitize.phase == Phase::Running) return AtaAbort();
  const uint8_t code = command.registers.command;
  Security& s = m_security;
  if (code == kSecurityFreezeLock) {
    if (s.locked) return AtaAbort();
    s.frozen = true;
    m_dirty = true;
    return AtaOk();
  }
  if (s.frozen) return AtaAbort();

  const bool master = (data.size() >= 1 && (data[0] & 1) != 0);
  const std::string password = code == kSecurityErasePrepare ? std::string() : SectorPassword(data);
  // A wrong password counts against the drive's five attempts; after the fifth, UNLOCK,
  // DISABLE PASSWORD and ERASE UNIT are refused until a power cycle.
  const auto matches = [&]() {
    const std::optional<std::string>& stored = master ? s.master : s.user;
    if (stored && *stored == password) return true;
    if (s.attemptsLeft > 0) --s.attemptsLeft;
    m_dirty = true;
    return false;
  };
  switch (code) {
    case kSecuritySetPassword:
      if (s.locked) return AtaAbort();
      if (master) {
        s.master = password;
      } else {
        s.user = password;
        s.enabled = true;
        s.levelMaximum = (data[1] & 1) != 0;
      }
      m_dirty = true;
      return AtaOk();
    case kSecurityUnlock:
      if (s.attemptsLeft == 0) return AtaAbort();
      // A maximum security level lets the master password erase the drive, not unlock it.
      if (master && s.levelMaximum) return AtaAbort();
      if (!matches()) return AtaAbort();
      s.locked = false;
      s.attemptsLeft = 5;
      m_dirty = true;
      return AtaOk();
    case kSecurityErasePrepare:
      return AtaOk();
    case kSecurityEraseUnit: {
      const bool enhanced = (data[0] & 2) != 0;
      if (enhanced && !features.enhancedSupported) return AtaAbort();
      if (s.attemptsLeft == 0) return AtaAbort();
      if (!s.enabled || !matches()) return AtaAbort();
      if (m_drive.fail.securityErase != 0) return AtaAbort();
      // The enhanced erase reaches every sector the drive has, its hidden area too; the normal
      // one the sectors it shows.
      const int64_t end = (enhanced ? m_nativeSectors : m_maxSectors) * m_drive.sectorSize;
      if (!EraseMedium(SanitizeAction::BlockErase, 0, end)) return AtaAbort();
      s.enabled = false;
      s.locked = false;
      s.user.reset();
      s.attemptsLeft = 5;
      m_sanitize.globalDataErased = false;
      m_dirty = true;
      return AtaOk();
    }
    case kSecurityDisablePassword:
      if (s.locked || s.attemptsLeft == 0) return AtaAbort();
      if (!s.enabled || !matches()) return AtaAbort();
      s.enabled = false;
      s.user.reset();
      s.attemptsLeft = 5;
      m_dirty = true;
      return AtaOk();
    default:
      return AtaAbort();
  }
}

AtaReply SimulatedDrive::MaxAddressCommand(const AtaCommand& command, bool working,
                                           bool afterReadNativeMax) {
  const AtaEraseFeatures f = DecodeAtaEraseFeatures(*m_drive.identify);
  const AtaTaskFile& r = command.registers;
  if (command.protocol != AtaProtocol::NonData || m_nativeSectors == 0) return AtaAbort();
  AtaTaskFile native;
  native.lba = static_cast<uint64_t>(m_nativeSectors - 1);
  native.device = 0x40;
  // A new max address: never past the native one; what the system sees stays until it reads
  // the size again.
  const auto setMax = [&](uint64_t lba) {
    if (m_security.locked || m_drive.fail.setMax != 0) return AtaAbort();
    if (lba >= static_cast<uint64_t>(m_nativeSectors)) return AtaAbort(0, kErrorIdNotFound);
    SetMax(static_cast<int64_t>(lba) + 1);
    AtaTaskFile out;
    out.lba = lba;
    out.device = 0x40;
    return AtaOk(out);
  };
  switch (r.command) {
    case kReadNativeMaxExt:
      if (!f.hpaSupported || !f.lba48) return AtaAbort();
      m_afterReadNativeMax = true;
      return AtaOk(native);
    case kSetMaxAddressExt:
      if (!f.hpaSupported || !f.lba48) return AtaAbort();
      if (!working) return AtaRefusedOffWorkingHandle();
      // SET MAX ADDRESS EXT is taken only right after READ NATIVE MAX ADDRESS EXT.
      if (!afterReadNativeMax || m_sanitize.phase == Phase::Running) return AtaAbort();
      return setMax(r.lba);
    default:  // ACCESSIBLE MAX ADDRESS CONFIGURATION
      if (!f.amaSupported) return AtaAbort();
      if (r.feature == 0x0000) return AtaOk(native);
      if (r.feature != 0x0001 && r.feature != 0x0002) return AtaAbort();
      if (!working) return AtaRefusedOffWorkingHandle();
      if (m_amaFrozen || m_sanitize.phase == Phase::Running) return AtaAbort();
      if (r.feature == 0x0002) {
        m_amaFrozen = true;
        m_dirty = true;
        return AtaOk();
      }
      return setMax(r.lba);
  }
}

// Only DEVICE CONFIGURATION IDENTIFY is answered: this drive's overlay is read, never changed.
AtaReply SimulatedDrive::DcoCommand(const AtaCommand& command, std::span<uint8_t> data) {
  const AtaEraseFeatures f = DecodeAtaEraseFeatures(*m_drive.identify);
  if (!f.dcoSupported || command.registers.feature != 0xC2 ||
      command.protocol != AtaProtocol::PioDataIn || m_nativeSectors == 0) {
    return AtaAbort();
  }
  const Sector& id = *m_drive.identify;
  Sector dco{};
  PutWord(dco, 0, 0x0002);                                   // revision
  PutWord(dco, 1, static_cast<uint16_t>(Word(id, 63) & 0x0007));  // multiword DMA modes
  PutWord(dco, 2, static_cast<uint16_t>(Word(id, 88) & 0x007F));  // Ultra DMA modes
  const auto maxLba = static_cast<uint64_t>(m_nativeSectors - 1);
  for (size_t i = 0; i < 4; ++i) PutWord(dco, 3 + i, static_cast<uint16_t>(maxLba >> (16 * i)));
  // Command sets the overlay could take away: 48-bit, HPA, security, SMART.
  PutWord(dco, 7, static_cast<uint16_t>(((Word(id, 83) >> 10) & 1) << 8 |
                                        ((Word(id, 82) >> 10) & 1) << 7 |
                                        ((Word(id, 82) >> 1) & 1) << 3 | (Word(id, 82) & 1)));
  dco[510] = 0xA5;
  SealIdentify(dco);
  std::copy(dco.begin(), dco.end(), data.begin());
  return AtaOk();
}

std::optional<Sector> SimulatedDrive::Identify() {
  if (!m_drive.identify) return std::nullopt;
  Refresh();
  Advance();
  Sector s = *m_drive.identify;
  if (m_maxShown) {
    const auto max = static_cast<uint64_t>(m_maxSectors);
    const uint64_t small = std::min<uint64_t>(max, 0x0FFFFFFF);
    PutWord(s, 60, static_cast<uint16_t>(small));
    PutWord(s, 61, static_cast<uint16_t>(small >> 16));
    for (size_t i = 0; i < 4; ++i) PutWord(s, 100 + i, static_cast<uint16_t>(max >> (16 * i)));
  }
  if (DecodeAtaEraseFeatures(*m_drive.identify).security.supported) {
    PutBit(s, 128, 1, m_security.enabled);
    PutBit(s, 128, 2, m_security.locked);
    PutBit(s, 128, 3, m_security.frozen);
    PutBit(s, 128, 4, m_security.attemptsLeft == 0);
    PutBit(s, 128, 8, m_security.levelMaximum);
    PutBit(s, 85, 1, m_security.enabled);
  }
  SealIdentify(s);
  return s;
}

void SimulatedDrive::OtherCommand() {
  m_afterErasePrepare = false;
  m_afterReadNativeMax = false;
}

// ---- NVMe ----

NvmeReply SimulatedDrive::Nvme(const NvmeAdminCommand& command, std::span<uint8_t> data,
                               bool working) {
  if (!m_drive.nvmeController) return {};
  Refresh();
  Advance();
  if ((command.direction == NvmeDataDirection::None && command.dataLength != 0) ||
      data.size() < command.dataLength) {
    NvmeReply reply;
    reply.code = win::ERROR_INVALID_PARAMETER;
    return reply;
  }
  NvmeReply reply;
  switch (command.opcode) {
    case nvme::kOpcodeIdentify:
      reply = NvmeIdentify(command, data);
      break;
    case nvme::kOpcodeGetLogPage:
      reply = NvmeLog(command, data);
      break;
    case kNvmeSanitize:
      reply = NvmeSanitize(command, working);
      break;
    case kNvmeFormat:
      reply = NvmeFormat(command, working);
      break;
    default:
      reply = NvmeStatus(kNvmeInvalidOpcode);
      break;
  }
  Save();
  return reply;
}

NvmeReply SimulatedDrive::NvmeIdentify(const NvmeAdminCommand& command, std::span<uint8_t> data) {
  if (command.direction != NvmeDataDirection::FromDevice ||
      command.dataLength < nvme::kIdentifySize) {
    return NvmeStatus(kNvmeInvalidField);
  }
  const auto fault = [](uint32_t code) {
    NvmeReply reply;
    reply.outcome = CommandOutcome::TransportError;
    reply.code = code;
    return reply;
  };
  const std::span<uint8_t> out = data.first(nvme::kIdentifySize);
  const uint32_t cns = command.cdw10 & 0xFF;
  const uint32_t namespaces = m_drive.nvmeNamespaces;
  if (cns == nvme::kCnsController) {
    if (m_drive.fail.nvmeIdentifyController != 0) return fault(m_drive.fail.nvmeIdentifyController);
    std::copy(m_drive.nvmeController->begin(), m_drive.nvmeController->end(), out.begin());
    return NvmeStatus(0);
  }
  if (cns == nvme::kCnsNamespace) {
    if (command.nsid == 0 || command.nsid > namespaces) return NvmeStatus(kNvmeInvalidNamespace);
    if (!m_drive.nvmeNamespace) return NvmeStatus(kNvmeInvalidField);
    if (m_drive.fail.nvmeIdentifyNamespace != 0) return fault(m_drive.fail.nvmeIdentifyNamespace);
    // The other namespaces are alike; only the first has a medium here.
    std::copy(m_drive.nvmeNamespace->begin(), m_drive.nvmeNamespace->end(), out.begin());
    return NvmeStatus(0);
  }
  if (cns == kCnsActiveNamespaces) {
    std::fill(out.begin(), out.end(), uint8_t{0});
    size_t at = 0;
    for (uint32_t id = command.nsid + 1; id <= namespaces && at + 4 <= out.size(); ++id, at += 4) {
      for (size_t i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(id >> (8 * i));
    }
    return NvmeStatus(0);
  }
  return NvmeStatus(kNvmeInvalidField);
}

NvmeReply SimulatedDrive::NvmeLog(const NvmeAdminCommand& command, std::span<uint8_t> data) {
  if (command.direction != NvmeDataDirection::FromDevice) return NvmeStatus(kNvmeInvalidField);
  const uint32_t lid = command.cdw10 & 0xFF;
  const uint64_t dwords = ((static_cast<uint64_t>(command.cdw11 & 0xFFFF) << 16) |
                           (command.cdw10 >> 16)) + 1;
  const size_t wanted = static_cast<size_t>(std::min<uint64_t>(dwords * 4, command.dataLength));
  std::array<uint8_t, kSanitizeLogSize> page{};
  if (lid == nvme::kLogSmartHealth) {
    if (!m_drive.nvmeHealth) return NvmeStatus(kNvmeInvalidLogPage);
    if (m_drive.fail.nvmeSmartLog != 0) {
      NvmeReply reply;
      reply.outcome = CommandOutcome::TransportError;
      reply.code = m_drive.fail.nvmeSmartLog;
      return reply;
    }
    std::copy(m_drive.nvmeHealth->begin(), m_drive.nvmeHealth->end(), page.begin());
  } else if (lid == kLogSanitizeStatus) {
    const bool running = m_sanitize.phase == Phase::Running;
    PutLe(page, 0, running ? std::min<uint64_t>(65535, static_cast<uint64_t>(std::floor(
                                                           SanitizeFraction() * 65536)))
                           : 0xFFFF,
          2);
    uint16_t status = 0;
    switch (m_sanitize.phase) {
      case Phase::Idle:
        status = m_sanitize.nvmeCdw10 == 0 ? 0 : 1;
        break;
      case Phase::Completed:
        status = 1;
        break;
      case Phase::Running:
        status = 2;
        break;
      case Phase::Failed:
        status = 3;
        break;
    }
    if (m_sanitize.phase == Phase::Completed) {
      status = static_cast<uint16_t>(status | (m_sanitize.overwritePasses & 0x1F) << 3);
    }
    if (m_sanitize.globalDataErased) status |= 0x0100;
    PutLe(page, 2, status, 2);
    PutLe(page, 4, m_sanitize.nvmeCdw10, 4);
    const NvmeEraseFeatures f = DecodeNvmeEraseFeatures(*m_drive.nvmeController, 1);
    const uint32_t estimate =
        static_cast<uint32_t>(std::max(1.0, std::ceil(m_drive.sanitizeSeconds)));
    const bool offered[] = {f.sanitizeOverwrite, f.sanitizeBlock, f.sanitizeCrypto};
    for (size_t i = 0; i < 3; ++i) {
      PutLe(page, 8 + 4 * i, offered[i] ? estimate : 0xFFFFFFFF, 4);
      PutLe(page, 20 + 4 * i, offered[i] ? estimate : 0xFFFFFFFF, 4);
    }
  } else {
    return NvmeStatus(kNvmeInvalidLogPage);
  }
  const size_t n = std::min(wanted, page.size());
  std::copy_n(page.begin(), n, data.begin());
  return NvmeStatus(0);
}

NvmeReply SimulatedDrive::NvmeSanitize(const NvmeAdminCommand& command, bool working) {
  if (!working) return NvmeRefusedOffWorkingHandle();
  const NvmeEraseFeatures f = DecodeNvmeEraseFeatures(*m_drive.nvmeController, 1);
  if (!f.sanitizeBlock && !f.sanitizeCrypto && !f.sanitizeOverwrite) {
    return NvmeStatus(kNvmeInvalidOpcode);
  }
  if (m_sanitize.phase == Phase::Running) return NvmeStatus(kNvmeSanitizeInProgress);
  const uint32_t cdw10 = command.cdw10;
  const uint32_t sanact = cdw10 & 0x7;
  if (sanact == 1) {  // exit failure mode, allowed when the failed sanitize was unrestricted
    if (m_sanitize.phase == Phase::Failed) {
      if (m_sanitize.failureMode) return NvmeStatus(0x000C);  // command sequence error
      m_sanitize.phase = Phase::Idle;
      m_dirty = true;
    }
    return NvmeStatus(0);
  }
  SanitizeAction action = SanitizeAction::BlockErase;
  bool offered = false;
  switch (sanact) {
    case 2:
      action = SanitizeAction::BlockErase;
      offered = f.sanitizeBlock;
      break;
    case 3:
      action = SanitizeAction::Overwrite;
      offered = f.sanitizeOverwrite;
      break;
    case 4:
      action = SanitizeAction::CryptoErase;
      offered = f.sanitizeCrypto;
      break;
    default:
      break;
  }
  if (!offered) return NvmeStatus(kNvmeInvalidField);
  m_sanitize.nvmeCdw10 = cdw10;
  m_sanitize.failureMode = (cdw10 & 0x8) == 0;  // AUSE clear: restricted completion
  const uint32_t owpass = (cdw10 >> 4) & 0xF;
  StartSanitize(action, command.cdw11, static_cast<uint8_t>(owpass == 0 ? 16 : owpass),
                (cdw10 & 0x100) != 0);
  return NvmeStatus(0);
}

NvmeReply SimulatedDrive::NvmeFormat(const NvmeAdminCommand& command, bool working) {
  if (!working) return NvmeRefusedOffWorkingHandle();
  const NvmeEraseFeatures f =
      DecodeNvmeEraseFeatures(*m_drive.nvmeController, m_drive.nvmeNamespaces);
  if (!f.formatNvm) return NvmeStatus(kNvmeInvalidOpcode);
  if (m_sanitize.phase == Phase::Running) return NvmeStatus(kNvmeSanitizeInProgress);
  const uint32_t nsid = command.nsid;
  if (nsid != nvme::kAllNamespaces && (nsid == 0 || nsid > m_drive.nvmeNamespaces)) {
    return NvmeStatus(kNvmeInvalidNamespace);
  }
  const uint32_t cdw10 = command.cdw10;
  const uint32_t ses = (cdw10 >> 9) & 0x7;
  if (ses > 2 || (ses == 2 && !f.cryptoFormat)) return NvmeStatus(kNvmeInvalidField);
  const uint32_t lbaf = (cdw10 & 0xF) | ((cdw10 >> 12) & 0x3) << 4;
  uint32_t current = 0;
  if (m_drive.nvmeNamespace) {
    const uint8_t flbas = (*m_drive.nvmeNamespace)[nvme::ns::kFlbas];
    current = (flbas & 0xF) | ((flbas >> 5) & 0x3) << 4;
  }
  // Another LBA format would change the sector size the image is read in.
  if (lbaf != current || (cdw10 & 0x1F0) != 0) return NvmeStatus(kNvmeInvalidFormat);
  if (m_drive.fail.formatNvm != 0) return NvmeStatus(kNvmeInternalError);
  // The image is the first namespace: a format of another leaves it, unless a format always
  // reaches them all.
  const bool reachesImage = nsid == 1 || nsid == nvme::kAllNamespaces || f.formatAppliesToAll ||
                            (ses != 0 && f.secureEraseAppliesToAll);
  if (reachesImage &&
      !EraseMedium(ses == 2 ? SanitizeAction::CryptoErase : SanitizeAction::BlockErase, 0,
                   m_nativeSectors * m_drive.sectorSize)) {
    return NvmeStatus(kNvmeInternalError);
  }
  return NvmeStatus(0);
}

// ---- sanitize, medium ----

void SimulatedDrive::StartSanitize(SanitizeAction action, uint32_t pattern, uint8_t passes,
                                   bool invert) {
  m_sanitize.phase = Phase::Running;
  m_sanitize.startMs = m_clock.NowMs();
  m_sanitize.seconds = m_drive.sanitizeSeconds;
  m_sanitize.willFail = m_drive.fail.sanitize != 0;
  m_sanitize.overwritePasses = action == SanitizeAction::Overwrite ? passes : 0;
  m_sanitize.globalDataErased = false;
  m_dirty = true;
  if (m_sanitize.willFail) return;
  // With the pattern inverted between passes, an even number of passes ends on the inverse.
  const uint32_t last = invert && passes % 2 == 0 ? ~pattern : pattern;
  if (!EraseMedium(action, last, m_nativeSectors * m_drive.sectorSize)) m_sanitize.willFail = true;
}

double SimulatedDrive::SanitizeFraction() const {
  if (m_sanitize.seconds <= 0) return 1;
  const double elapsed = static_cast<double>(m_clock.NowMs() - m_sanitize.startMs);
  return std::clamp(elapsed / (m_sanitize.seconds * 1000), 0.0, 1.0);
}

void SimulatedDrive::Advance() {
  if (m_sanitize.phase != Phase::Running) return;
  if (static_cast<double>(m_clock.NowMs() - m_sanitize.startMs) < m_sanitize.seconds * 1000) return;
  m_sanitize.phase = m_sanitize.willFail ? Phase::Failed : Phase::Completed;
  if (m_sanitize.phase == Phase::Completed) m_sanitize.globalDataErased = true;
  m_dirty = true;
}

bool SimulatedDrive::EraseMedium(SanitizeAction action, uint32_t pattern, int64_t endBytes) {
  const int fd = ::open(m_drive.path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  const bool fill = action == SanitizeAction::Overwrite && pattern != 0;
  int64_t toWrite = fill ? endBytes : 0;
  // Zeros as a hole, as the backend's own writes of zeros, so that a demo disk stays sparse;
  // where the file system cannot punch one, the zeros are written.
  if (ok && !fill && endBytes > 0 &&
      ::fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, 0, endBytes) != 0) {
    ok = errno == EOPNOTSUPP || errno == ENOSYS;
    toWrite = endBytes;
  }
  if (ok && toWrite > 0) {
    std::vector<uint8_t> chunk(static_cast<size_t>(kFillChunk));
    for (size_t i = 0; i < chunk.size(); ++i) {
      chunk[i] = fill ? static_cast<uint8_t>(pattern >> (8 * (i % 4))) : 0;
    }
    for (int64_t at = 0; ok && at < toWrite;) {
      const auto n = static_cast<size_t>(std::min<int64_t>(kFillChunk, toWrite - at));
      const ssize_t written = ::pwrite(fd, chunk.data(), n, at);
      if (written < 0 && errno == EINTR) continue;
      ok = written > 0;
      if (ok) at += written;
    }
  }
  ok = ::close(fd) == 0 && ok;
  if (!ok) return false;
  if (action == SanitizeAction::CryptoErase) {
    std::random_device random;
    const uint64_t key = (static_cast<uint64_t>(random()) << 32) ^ random();
    m_scrambled.ScrambleAll(key, endBytes);
  } else {
    m_scrambled.Written(0, endBytes);
  }
  m_dirty = true;
  return true;
}

void SimulatedDrive::SetMax(int64_t sectors) {
  if (!m_systemSectors) m_systemSectors = m_maxSectors;
  m_maxSectors = sectors;
  m_maxShown = true;
  m_dirty = true;
}

std::optional<int64_t> SimulatedDrive::SystemBytes() {
  Refresh();
  if (!m_systemSectors) return std::nullopt;
  return *m_systemSectors * m_drive.sectorSize;
}

int64_t SimulatedDrive::RereadCapacity() {
  Refresh();
  if (m_systemSectors != m_maxSectors) {
    m_systemSectors = m_maxSectors;
    m_dirty = true;
    Save();
  }
  return m_maxSectors * m_drive.sectorSize;
}

uint32_t SimulatedDrive::MediaRefusal() {
  Refresh();
  Advance();
  Save();
  if (m_sanitize.phase == Phase::Running) return win::ERROR_NOT_READY;
  if (m_sanitize.phase == Phase::Failed || m_security.locked) return win::ERROR_IO_DEVICE;
  return 0;
}

void SimulatedDrive::Written(int64_t begin, int64_t end) {
  if (!m_scrambled.empty()) {
    m_scrambled.Written(begin, end);
    m_dirty = true;
  }
  if (m_sanitize.globalDataErased && end > begin) {
    m_sanitize.globalDataErased = false;
    m_dirty = true;
  }
}

void SimulatedDrive::Overlay(int64_t offset, uint8_t* bytes, int64_t count) const {
  m_scrambled.Overlay(offset, bytes, count);
}

// ---- the state file ----

void SimulatedDrive::Save() {
  if (!m_dirty) return;
  m_dirty = false;
  json stretches = json::array();
  for (const auto& [begin, end] : m_scrambled.stretches()) stretches.push_back({begin, end});
  const auto password = [](const std::optional<std::string>& p) {
    return p ? json(Hex(*p)) : json(nullptr);
  };
  const json state = {
      {"max_sectors", m_maxSectors},
      {"max_shown", m_maxShown},
      {"system_sectors", m_systemSectors ? json(*m_systemSectors) : json(nullptr)},
      {"ama_frozen", m_amaFrozen},
      {"security",
       {{"enabled", m_security.enabled},
        {"locked", m_security.locked},
        {"frozen", m_security.frozen},
        {"level_maximum", m_security.levelMaximum},
        {"attempts_left", m_security.attemptsLeft},
        {"user", password(m_security.user)},
        {"master", password(m_security.master)}}},
      {"sanitize",
       {{"phase", PhaseWord(static_cast<int>(m_sanitize.phase))},
        {"start_ms", m_sanitize.startMs},
        {"seconds", m_sanitize.seconds},
        {"will_fail", m_sanitize.willFail},
        {"failure_mode", m_sanitize.failureMode},
        {"frozen", m_sanitize.frozen},
        {"antifreeze", m_sanitize.antifreeze},
        {"global_data_erased", m_sanitize.globalDataErased},
        {"nvme_cdw10", m_sanitize.nvmeCdw10},
        {"overwrite_passes", m_sanitize.overwritePasses}}},
      {"scrambled", {{"key", m_scrambled.key()}, {"stretches", stretches}}},
  };
  // A folder that cannot be written keeps the state for this run only.
  const std::string path = DriveStatePath(m_drive.path);
  if (WriteFileAtomically(path, state.dump(1) + "\n", std::nullopt, FolderLinks::Follow).empty()) {
    m_seen = StampOf(path);
  }
}

SimulatedDrive::FileStamp SimulatedDrive::StampOf(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return {};
  return FileStamp{true, static_cast<uint64_t>(st.st_ino), st.st_size,
                   static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

void SimulatedDrive::Refresh() {
  const FileStamp now = StampOf(DriveStatePath(m_drive.path));
  if (now == m_seen) return;
  m_seen = now;
  if (now.exists) Load();
}

void SimulatedDrive::Load() {
  const std::string path = DriveStatePath(m_drive.path);
  const SmallFileRead read = ReadBoundedFile(path, 1 << 20, false);
  if (!read.ok) {
    m_stateProblem = path + ": cannot read the file: " + read.problem;
    return;
  }
  // The state is this program's own; anything unexpected in it leaves the drive as its
  // metadata describes it, and says so.
  const int64_t nativeBytes = m_nativeSectors * m_drive.sectorSize;
  int64_t maxSectors = 0;
  bool maxShown = false;
  std::optional<int64_t> systemSectors;
  bool amaFrozen = false;
  Security security;
  Sanitize sanitize;
  uint64_t key = 0;
  std::map<int64_t, int64_t> stretches;
  try {
    const json state = json::parse(read.content);
    const auto sectors = [&](const json& value) {
      const auto n = value.get<int64_t>();
      if (n < 1 || n > m_nativeSectors) throw std::out_of_range("a sector count past the image");
      return n;
    };
    maxSectors = sectors(state.at("max_sectors"));
    maxShown = state.at("max_shown").get<bool>();
    const json& system = state.at("system_sectors");
    systemSectors =
        system.is_null() ? std::nullopt : std::optional<int64_t>(sectors(system));
    amaFrozen = state.at("ama_frozen").get<bool>();
    const json& sec = state.at("security");
    security.enabled = sec.at("enabled").get<bool>();
    security.locked = sec.at("locked").get<bool>();
    security.frozen = sec.at("frozen").get<bool>();
    security.levelMaximum = sec.at("level_maximum").get<bool>();
    security.attemptsLeft = std::clamp(sec.at("attempts_left").get<int>(), 0, 5);
    for (const auto& [key, field] : {std::pair{"user", &security.user},
                                     std::pair{"master", &security.master}}) {
      const json& value = sec.at(key);
      *field = value.is_null() ? std::nullopt : FromHex(value);
      if (!value.is_null() && !*field) throw std::invalid_argument("a password is not 64 hex digits");
    }
    const json& san = state.at("sanitize");
    const std::string phase = san.at("phase").get<std::string>();
    bool known = false;
    for (int p = 0; p < 4; ++p) {
      if (phase == PhaseWord(p)) {
        sanitize.phase = static_cast<Phase>(p);
        known = true;
      }
    }
    if (!known) throw std::invalid_argument("unknown sanitize phase \"" + phase + "\"");
    sanitize.startMs = san.at("start_ms").get<int64_t>();
    sanitize.seconds = san.at("seconds").get<double>();
    sanitize.willFail = san.at("will_fail").get<bool>();
    sanitize.failureMode = san.at("failure_mode").get<bool>();
    sanitize.frozen = san.at("frozen").get<bool>();
    sanitize.antifreeze = san.at("antifreeze").get<bool>();
    sanitize.globalDataErased = san.at("global_data_erased").get<bool>();
    sanitize.nvmeCdw10 = san.at("nvme_cdw10").get<uint32_t>();
    sanitize.overwritePasses = san.at("overwrite_passes").get<uint8_t>();
    const json& scrambled = state.at("scrambled");
    for (const json& stretch : scrambled.at("stretches")) {
      const auto begin = stretch.at(0).get<int64_t>();
      const auto end = stretch.at(1).get<int64_t>();
      if (begin < 0 || end <= begin || end > nativeBytes) {
        throw std::out_of_range("a scrambled stretch past the image");
      }
      stretches.emplace(begin, end);
    }
    key = scrambled.at("key").get<uint64_t>();
  } catch (const std::exception& e) {
    m_stateProblem = path + ": not this drive's state, left unused: " + e.what();
    return;
  }
  m_maxSectors = maxSectors;
  m_maxShown = maxShown;
  m_systemSectors = systemSectors;
  m_amaFrozen = amaFrozen;
  m_security = std::move(security);
  m_sanitize = sanitize;
  m_scrambled.Restore(key, std::move(stretches));
}

}  // namespace fw::image
