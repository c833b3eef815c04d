#pragma once
// What a drive offers for its own erase and what it hides, decoded from data it already gives
// (ATA IDENTIFY DEVICE, NVMe Identify Controller), and which erase methods that opens. Pure.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/device_types.hpp"
#include "device/erase_method.hpp"
#include "device/nvme_layouts.hpp"

namespace fw {

using IdentifySector = std::array<uint8_t, 512>;

enum class MediaType { Unknown, Hdd, Ssd, Nvme, UsbFlash };

// IDENTIFY word 128 and the erase time estimates of words 89 and 90.
struct AtaSecurity {
  bool supported = false;
  bool enabled = false;
  bool locked = false;
  bool frozen = false;
  bool countExpired = false;
  bool enhancedSupported = false;
  bool levelMaximum = false;
  // Minutes, nothing when not reported; a "more than 508 minutes" estimate is 508.
  std::optional<uint32_t> normalEraseMinutes;
  std::optional<uint32_t> enhancedEraseMinutes;

  bool operator==(const AtaSecurity&) const = default;
};

struct AtaEraseFeatures {
  bool sanitize = false;  // word 59 bit 12
  bool sanitizeCrypto = false;
  bool sanitizeOverwrite = false;
  bool sanitizeBlock = false;
  bool sanitizeAntifreeze = false;
  AtaSecurity security;
  bool hpaSupported = false;  // word 82 bit 10
  bool hpaEnabled = false;    // word 85 bit 10
  bool amaSupported = false;  // Accessible Max Address Configuration (ACS-3)
  bool dcoSupported = false;  // word 83 bit 11
  bool lba48 = false;
  bool nonRotating = false;   // word 217 = 1
  bool rotating = false;      // word 217 gives a speed (0401h-FFFEh); neither: not reported
  int64_t accessibleSectors = 0;  // words 100-103 (or 60-61)

  bool operator==(const AtaEraseFeatures&) const = default;
};

struct NvmeEraseFeatures {
  bool formatNvm = false;                 // OACS bit 1
  bool formatAppliesToAll = false;        // FNA bit 0
  bool secureEraseAppliesToAll = false;   // FNA bit 1
  bool cryptoFormat = false;              // FNA bit 2
  bool sanitizeCrypto = false;            // SANICAP bit 0
  bool sanitizeBlock = false;             // SANICAP bit 1
  bool sanitizeOverwrite = false;         // SANICAP bit 2
  uint32_t namespaceCount = 1;            // the controller's active namespaces

  bool operator==(const NvmeEraseFeatures&) const = default;
};

// The hidden area of an ATA disk, as READ NATIVE MAX ADDRESS (or GET NATIVE MAX ADDRESS) and
// DEVICE CONFIGURATION IDENTIFY found it.
struct HiddenArea {
  int64_t nativeSectors = 0;
  int64_t accessibleSectors = 0;
  bool dcoRestricts = false;      // a DCO lowers the maximum LBA below the native size
  int64_t dcoMaxSectors = 0;      // the DCO's maximum, when it restricts

  int64_t hiddenSectors() const { return nativeSectors - accessibleSectors; }
  bool operator==(const HiddenArea&) const = default;
};

// Everything the method choice needs about one disk.
struct DriveEraseFacts {
  MediaType media = MediaType::Unknown;
  bool passThrough = false;  // ATA or NVMe commands reach the drive on this path
  std::optional<AtaEraseFeatures> ata;
  std::optional<NvmeEraseFeatures> nvme;
  bool sanitizeInProgress = false;
  bool sanitizeFrozen = false;  // SANITIZE STATUS EXT: SANITIZE FROZEN (a freeze lock until reset)
  std::optional<HiddenArea> hidden;  // nothing: could not be told

  bool operator==(const DriveEraseFacts&) const = default;
};

AtaEraseFeatures DecodeAtaEraseFeatures(const IdentifySector& identify);
// A "more than" estimate gives its bound; nothing when the word reports none.
std::optional<uint32_t> EraseTimeMinutes(uint16_t word);
NvmeEraseFeatures DecodeNvmeEraseFeatures(const nvme::IdentifyPage& controller,
                                          uint32_t namespaceCount);

// NVMe by its bus; an ATA drive by word 217 (an old drive that reports no rotation stays
// Unknown: SSDs of its time did not say so either); a removable USB disk that takes no ATA
// command is a flash stick.
MediaType MediaTypeOf(const TIdentifyDeviceData& device, const std::optional<AtaEraseFeatures>& ata);

// The NIST SP 800-88 category a run of `method` earns on `media`: Purge for a sanitize crypto
// erase anywhere, a block erase of flash, an overwrite sanitize of a hard disk or an NVMe disk,
// a format of an NVMe disk, an enhanced security erase of a hard disk; Clear for the other
// methods (an Unknown medium earns only what both kinds would).
EraseCategory EraseCategoryOn(MediaType media, EraseMethod method);

// Every method of kEraseMethods, in that order, with whether it is open and its category on
// this disk (a security erase of flash is Clear; an enhanced one of a hard disk is Purge).
std::vector<EraseMethodState> EraseMethodStates(const DriveEraseFacts& facts);

// What `purge` stands for on this disk: crypto, then block, then overwrite sanitize, then the
// format (crypto, then user data), then the enhanced security erase when it is a Purge there;
// nothing when the disk has no open Purge method.
std::optional<EraseMethod> StrongestPurge(const DriveEraseFacts& facts);

// `method` on this disk (Purge resolved to what it stands for; refused as unsupported when
// there is none).
EraseMethodState EraseMethodOn(const DriveEraseFacts& facts, EraseMethod method);

}  // namespace fw
