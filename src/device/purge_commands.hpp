#pragma once
// The command words of the drive's own erase and of its hidden-area commands, built field by
// field from the published layouts (ACS-3, NVMe Base 2.0), and the decoding of what the drive
// answers. Pure: a backend sends what these build.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "device/drive_commands.hpp"

namespace fw {

enum class SanitizeAction { BlockErase, CryptoErase, Overwrite };

// ATA SANITIZE DEVICE (B4h): BLOCK ERASE EXT 0012h, CRYPTO SCRAMBLE EXT 0011h, OVERWRITE EXT
// 0014h with its key; the drive runs it in the background, so the command returns at once.
AtaCommand AtaSanitize(SanitizeAction action, uint32_t overwritePattern = 0,
                       uint8_t overwritePasses = 1);
// SANITIZE STATUS EXT (0000h); `clearFailure` sets CLEAR SANITIZE OPERATION FAILED.
AtaCommand AtaSanitizeStatus(bool clearFailure = false);

enum class SanitizeState { Idle, InProgress, Completed, Failed, Frozen, Unsupported };

struct SanitizeProgress {
  SanitizeState state = SanitizeState::Idle;
  std::optional<double> fraction;  // 0..1 while in progress, when the drive says
  bool operator==(const SanitizeProgress&) const = default;
};

// From SANITIZE STATUS EXT's returned registers (a DeviceError reply carries the reason).
SanitizeProgress DecodeAtaSanitizeStatus(const AtaReply& reply);

// ATA Security: SET PASSWORD (F1h), ERASE PREPARE (F3h), ERASE UNIT (F4h), DISABLE PASSWORD
// (F6h). The data-out commands carry SecuritySector's 512 bytes; the user password always.
AtaCommand AtaSecuritySetPassword();
AtaCommand AtaSecurityErasePrepare();
AtaCommand AtaSecurityEraseUnit(uint32_t timeoutSeconds);
AtaCommand AtaSecurityDisablePassword();
// SECURITY UNLOCK (F2h): a drive locked since its last power-on takes the user password first.
AtaCommand AtaSecurityUnlock();
// The data sector: identifier user, `enhanced` (ERASE UNIT), level high, the password in
// words 1-16 (zero-padded to 32 bytes, as hdparm pads it).
std::array<uint8_t, 512> SecuritySector(const std::string& password, bool enhanced = false);
// What ERASE UNIT may take: the drive's estimate x 2 + 60 minutes, at least 1 s per 30 MB +
// 30 minutes when it gives none.
uint32_t SecurityEraseTimeoutSeconds(std::optional<uint32_t> estimateMinutes,
                                     int64_t capacityBytes);

// Hidden areas: READ NATIVE MAX ADDRESS EXT (27h), SET MAX ADDRESS EXT (37h, volatile),
// GET NATIVE MAX ADDRESS EXT and SET ACCESSIBLE MAX ADDRESS EXT (78h features 0 and 1),
// DEVICE CONFIGURATION IDENTIFY (B1h / C2h, one sector in).
AtaCommand AtaReadNativeMaxExt();
AtaCommand AtaSetMaxAddressExt(uint64_t maxLba, bool keepAfterPowerOff = false);
AtaCommand AtaGetNativeMaxAddress();
AtaCommand AtaSetAccessibleMaxAddress(uint64_t maxLba);
AtaCommand AtaDcoIdentify();
// The native sector count from a native-max reply (its LBA + 1); nothing when invalid.
std::optional<int64_t> NativeSectorsFromReply(const AtaReply& reply);
// The DCO's maximum sector count (words 3-6 + 1) when the sector's checksum holds.
std::optional<int64_t> DcoMaxSectors(std::span<const uint8_t, 512> dco);

// NVMe Sanitize (84h): SANACT 2 block, 3 overwrite, 4 crypto. Acts on the whole subsystem.
NvmeAdminCommand NvmeSanitize(SanitizeAction action, uint32_t overwritePattern = 0);
// NVMe Format NVM (80h) of namespace `nsid` in LBA format `lbaFormat`, SES 1 (user data) or
// 2 (cryptographic); the timeout nvme-cli gives it.
NvmeAdminCommand NvmeFormat(uint32_t nsid, uint8_t lbaFormat, bool crypto);
// Get Log Page, Sanitize Status (81h), 512 bytes.
NvmeAdminCommand NvmeSanitizeStatusLog();
// Identify, Active Namespace ID list (CNS 02h), 4096 bytes.
NvmeAdminCommand NvmeActiveNamespaceList();

// From the Sanitize Status log page.
SanitizeProgress DecodeNvmeSanitizeLog(std::span<const uint8_t> page);
// The log's estimate for `action`, seconds; nothing when not reported.
std::optional<uint32_t> NvmeSanitizeEstimateSeconds(std::span<const uint8_t> page,
                                                    SanitizeAction action);
// The number of namespace IDs in an active namespace list.
uint32_t CountActiveNamespaces(std::span<const uint8_t> list);

}  // namespace fw
