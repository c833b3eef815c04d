#include "device/erase_capabilities.hpp"

#include "device/identify_decoder.hpp"
#include "device/nvme_decoder.hpp"
#include "device/win_layouts.hpp"

namespace fw {

namespace {

// IDENTIFY DEVICE words (ACS-3 table "IDENTIFY DEVICE data").
constexpr size_t kSanitizeWord = 59;
constexpr size_t kCommandSet1Word = 82;
constexpr size_t kCommandSet2Word = 83;
constexpr size_t kCommandSetEnabled1Word = 85;
constexpr size_t kNormalEraseTimeWord = 89;
constexpr size_t kEnhancedEraseTimeWord = 90;
constexpr size_t kCommandSet3Word = 119;
constexpr size_t kSecurityWord = 128;
constexpr size_t kRotationWord = 217;

uint16_t Word(const IdentifySector& sector, size_t n) {
  return static_cast<uint16_t>(sector[2 * n] | (sector[2 * n + 1] << 8));
}

bool Bit(uint16_t word, unsigned bit) { return ((word >> bit) & 1u) != 0; }

// Words 83 and 119 hold their content only when bit 15 is clear and bit 14 set; a drive that
// predates them leaves zeros there (or ones, in some firmware).
bool Valid(uint16_t word) { return (word & 0xC000) == 0x4000; }

// The Purge candidates of `purge`, strongest first.
constexpr EraseMethod kPurgeOrder[] = {
    EraseMethod::SanitizeCrypto, EraseMethod::SanitizeBlock,   EraseMethod::SanitizeOverwrite,
    EraseMethod::FormatNvmCrypto, EraseMethod::FormatNvm,      EraseMethod::SecureEraseEnhanced,
};

enum class Reach { None, Ata, Nvme };

// Whether the drive offers `method`, and through which command set.
Reach Offered(const DriveEraseFacts& facts, EraseMethod method) {
  const AtaEraseFeatures* ata = facts.ata ? &*facts.ata : nullptr;
  const NvmeEraseFeatures* nvme = facts.nvme ? &*facts.nvme : nullptr;
  auto either = [&](bool viaAta, bool viaNvme) {
    if (viaAta) return Reach::Ata;
    return viaNvme ? Reach::Nvme : Reach::None;
  };
  switch (method) {
    case EraseMethod::SanitizeBlock:
      return either(ata && ata->sanitize && ata->sanitizeBlock, nvme && nvme->sanitizeBlock);
    case EraseMethod::SanitizeCrypto:
      return either(ata && ata->sanitize && ata->sanitizeCrypto, nvme && nvme->sanitizeCrypto);
    case EraseMethod::SanitizeOverwrite:
      return either(ata && ata->sanitize && ata->sanitizeOverwrite,
                    nvme && nvme->sanitizeOverwrite);
    case EraseMethod::FormatNvm: return either(false, nvme && nvme->formatNvm);
    case EraseMethod::FormatNvmCrypto:
      return either(false, nvme && nvme->formatNvm && nvme->cryptoFormat);
    case EraseMethod::SecureErase: return either(ata && ata->security.supported, false);
    case EraseMethod::SecureEraseEnhanced:
      return either(ata && ata->security.supported && ata->security.enhancedSupported, false);
    case EraseMethod::Zero:
    case EraseMethod::Purge: break;
  }
  return Reach::None;
}

bool IsSanitize(EraseMethod m) {
  return m == EraseMethod::SanitizeBlock || m == EraseMethod::SanitizeCrypto ||
         m == EraseMethod::SanitizeOverwrite;
}

bool IsSecurityErase(EraseMethod m) {
  return m == EraseMethod::SecureErase || m == EraseMethod::SecureEraseEnhanced;
}

// Whether the command would reach namespaces other than the disk's own: a sanitize always acts
// on the whole subsystem; a format when FNA says a format or a secure erase covers them all.
bool ReachesOtherNamespaces(const NvmeEraseFeatures& nvme, EraseMethod m) {
  if (nvme.namespaceCount <= 1) return false;
  if (IsSanitize(m)) return true;
  return nvme.formatAppliesToAll || nvme.secureEraseAppliesToAll;
}

// One of the drive's own methods (not Zero, not Purge). The order of the checks is the order
// in which a user can act on the reasons: what the drive lacks, what the path lacks, then what
// would pass with time, a password or a power cycle.
EraseRefusal DriveMethodRefusal(const DriveEraseFacts& facts, EraseMethod method) {
  const Reach reach = Offered(facts, method);
  if (reach == Reach::None) {
    // Nothing known of the drive because nothing reaches it: the path is the reason.
    const bool known = facts.ata || facts.nvme;
    return !known && !facts.passThrough ? EraseRefusal::NoPassthrough : EraseRefusal::Unsupported;
  }
  if (!facts.passThrough) return EraseRefusal::NoPassthrough;
  if (facts.sanitizeInProgress) return EraseRefusal::InProgress;
  if (reach == Reach::Ata) {
    const AtaSecurity& security = facts.ata->security;
    // A locked drive aborts the sanitize commands too (ACS-3 security state SEC4).
    if (security.locked) return EraseRefusal::Locked;
    if (IsSecurityErase(method) && security.frozen) return EraseRefusal::Frozen;
    if (IsSanitize(method) && facts.sanitizeFrozen) return EraseRefusal::Frozen;
    return EraseRefusal::None;
  }
  if (ReachesOtherNamespaces(*facts.nvme, method)) return EraseRefusal::OtherNamespaces;
  return EraseRefusal::None;
}

EraseMethodState StateOf(const DriveEraseFacts& facts, EraseMethod method) {
  EraseMethodState state{method, EraseRefusal::None, EraseCategoryOn(facts.media, method)};
  if (method == EraseMethod::Zero) {
    // The drive rejects writes while it sanitizes, and every access while it is locked.
    if (facts.sanitizeInProgress) {
      state.refusal = EraseRefusal::InProgress;
    } else if (facts.ata && facts.ata->security.locked) {
      state.refusal = EraseRefusal::Locked;
    }
  } else {
    state.refusal = DriveMethodRefusal(facts, method);
  }
  return state;
}

// `purge` on this disk: what it stands for, or why it cannot stand for anything. When no
// Purge method is open, the reason is that of the strongest one the drive offers (a frozen
// sanitize says "frozen", not "unsupported").
EraseMethodState PurgeState(const DriveEraseFacts& facts) {
  std::optional<EraseRefusal> closedReason;
  for (EraseMethod m : kPurgeOrder) {
    const EraseMethodState s = StateOf(facts, m);
    if (s.category != EraseCategory::Purge) continue;
    if (s.available()) return s;
    if (!closedReason && s.refusal != EraseRefusal::Unsupported) closedReason = s.refusal;
  }
  return {EraseMethod::Purge, closedReason.value_or(EraseRefusal::Unsupported),
          EraseCategory::Purge};
}

}  // namespace

std::optional<uint32_t> EraseTimeMinutes(uint16_t word) {
  // ACS-3 words 89/90: bit 15 set, bits 14:0 x 2 minutes (7FFFh: more than 65532);
  // otherwise bits 7:0 x 2 minutes (FFh: more than 508). Zero: not reported.
  if (Bit(word, 15)) {
    const uint32_t value = word & 0x7FFFu;
    if (value == 0) return std::nullopt;
    return value == 0x7FFF ? 65532u : value * 2;
  }
  const uint32_t value = word & 0xFFu;
  if (value == 0) return std::nullopt;
  return value == 0xFF ? 508u : value * 2;
}

AtaEraseFeatures DecodeAtaEraseFeatures(const IdentifySector& identify) {
  AtaEraseFeatures f;
  const uint16_t sanitize = Word(identify, kSanitizeWord);
  f.sanitize = Bit(sanitize, 12);
  f.sanitizeCrypto = f.sanitize && Bit(sanitize, 13);
  f.sanitizeOverwrite = f.sanitize && Bit(sanitize, 14);
  f.sanitizeBlock = f.sanitize && Bit(sanitize, 15);
  f.sanitizeAntifreeze = f.sanitize && Bit(sanitize, 10);

  const uint16_t security = Word(identify, kSecurityWord);
  AtaSecurity& s = f.security;
  s.supported = Bit(security, 0);
  if (s.supported) {
    s.enabled = Bit(security, 1);
    s.locked = Bit(security, 2);
    s.frozen = Bit(security, 3);
    s.countExpired = Bit(security, 4);
    s.enhancedSupported = Bit(security, 5);
    s.levelMaximum = Bit(security, 8);
    s.normalEraseMinutes = EraseTimeMinutes(Word(identify, kNormalEraseTimeWord));
    if (s.enhancedSupported) {
      s.enhancedEraseMinutes = EraseTimeMinutes(Word(identify, kEnhancedEraseTimeWord));
    }
  }

  const uint16_t commandSet2 = Word(identify, kCommandSet2Word);
  if (Valid(commandSet2)) {
    f.hpaSupported = Bit(Word(identify, kCommandSet1Word), 10);
    f.hpaEnabled = f.hpaSupported && Bit(Word(identify, kCommandSetEnabled1Word), 10);
    f.dcoSupported = Bit(commandSet2, 11);
    f.lba48 = Bit(commandSet2, 10);
  }
  const uint16_t commandSet3 = Word(identify, kCommandSet3Word);
  f.amaSupported = Valid(commandSet3) && Bit(commandSet3, 8);

  const uint16_t rotation = Word(identify, kRotationWord);
  f.nonRotating = rotation == 0x0001;
  f.rotating = rotation >= 0x0401 && rotation <= 0xFFFE;
  f.accessibleSectors = DecodeIdentifySector(identify).lbasectors;
  return f;
}

NvmeEraseFeatures DecodeNvmeEraseFeatures(const nvme::IdentifyPage& controller,
                                          uint32_t namespaceCount) {
  const NvmeControllerFacts c = DecodeNvmeIdentifyController(controller);
  const uint8_t fna = controller[nvme::ctrl::kFna];
  NvmeEraseFeatures f;
  f.formatNvm = c.formatNvm;
  f.formatAppliesToAll = Bit(fna, 0);
  f.secureEraseAppliesToAll = Bit(fna, 1);
  f.cryptoFormat = c.cryptographicErase;
  f.sanitizeCrypto = c.sanitizeCrypto;
  f.sanitizeBlock = c.sanitizeBlock;
  f.sanitizeOverwrite = c.sanitizeOverwrite;
  f.namespaceCount = namespaceCount;
  return f;
}

MediaType MediaTypeOf(const TIdentifyDeviceData& device,
                      const std::optional<AtaEraseFeatures>& ata) {
  if (device.BusType == kBusTypeNvme) return MediaType::Nvme;
  if (ata) {
    if (ata->nonRotating) return MediaType::Ssd;
    if (ata->rotating) return MediaType::Hdd;
    return MediaType::Unknown;
  }
  if (device.BusType == win::BusTypeUsb && device.RemovableMedia) return MediaType::UsbFlash;
  return MediaType::Unknown;
}

EraseCategory EraseCategoryOn(MediaType media, EraseMethod method) {
  const bool flash = media == MediaType::Ssd || media == MediaType::UsbFlash;
  const bool nvme = media == MediaType::Nvme;
  const bool hdd = media == MediaType::Hdd;
  auto purgeIf = [](bool purge) { return purge ? EraseCategory::Purge : EraseCategory::Clear; };
  switch (method) {
    case EraseMethod::Zero: return EraseCategory::Clear;
    case EraseMethod::SanitizeCrypto:
    case EraseMethod::FormatNvmCrypto:
    case EraseMethod::Purge: return EraseCategory::Purge;
    case EraseMethod::SanitizeBlock: return purgeIf(flash || nvme);
    case EraseMethod::SanitizeOverwrite: return purgeIf(hdd || nvme);
    case EraseMethod::FormatNvm: return purgeIf(nvme);
    // NIST counts a security erase of flash as Clear: the drive's firmware decides what it
    // reaches, and for the normal erase on any medium only the user-addressable sectors.
    case EraseMethod::SecureErase: return EraseCategory::Clear;
    case EraseMethod::SecureEraseEnhanced: return purgeIf(hdd);
  }
  return EraseCategory::Clear;
}

std::vector<EraseMethodState> EraseMethodStates(const DriveEraseFacts& facts) {
  std::vector<EraseMethodState> states;
  states.reserve(std::size(kEraseMethods));
  for (EraseMethod m : kEraseMethods) {
    if (m == EraseMethod::Purge) {
      EraseMethodState purge = PurgeState(facts);
      purge.method = EraseMethod::Purge;  // the list names the word the user gives
      states.push_back(purge);
    } else {
      states.push_back(StateOf(facts, m));
    }
  }
  return states;
}

std::optional<EraseMethod> StrongestPurge(const DriveEraseFacts& facts) {
  const EraseMethodState s = PurgeState(facts);
  if (!s.available()) return std::nullopt;
  return s.method;
}

EraseMethodState EraseMethodOn(const DriveEraseFacts& facts, EraseMethod method) {
  if (method == EraseMethod::Purge) return PurgeState(facts);
  return StateOf(facts, method);
}

}  // namespace fw
