#pragma once
// A simulated disk: an image file and what its NAME.json says about it. The folder scan reads
// every drive once; bad metadata leaves that drive out with one error line naming file and key.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/ata_transport.hpp"
#include "device/nvme_layouts.hpp"

namespace fw::image {

// Windows error codes that requests of the drive fail with (0: the request succeeds).
struct ImageFaults {
  uint32_t geometry = 0;
  uint32_t length = 0;
  uint32_t adapter = 0;
  uint32_t device = 0;
  uint32_t smartEnable = 0;
  uint32_t smartRead = 0;
  uint32_t identify = 0;
  uint32_t lock = 0;
  uint32_t openWorking = 0;
  uint32_t nvmeIdentifyController = 0;
  uint32_t nvmeIdentifyNamespace = 0;
  uint32_t nvmeSmartLog = 0;
  // The drive's own erase and hidden-area commands: any value but 0 makes the drive report the
  // command as failed (a sanitize runs its time and then says it failed; the others end with
  // an error at once) and leaves the medium as it was.
  uint32_t sanitize = 0;
  uint32_t securityErase = 0;
  uint32_t formatNvm = 0;
  uint32_t setMax = 0;
};

struct ImageWriteError {
  int64_t offset = 0;
  uint32_t code = 0;
};

// A stretch of the disk whose writes report success without storing anything: the fault that
// only a read-back finds.
struct ImageLostWrite {
  int64_t offset = 0;
  int64_t length = 0;
};

struct ImageMount {
  std::string mountPoint;
  uint32_t partition = 1;
  bool busy = false;  // files open on it: it cannot be unmounted
};

struct ImageDrive {
  std::string path;  // the image file, as the drive's path
  // Descriptor strings as the device stores them: one byte per character (Latin-1).
  std::string vendor;
  std::string product;
  std::string revision;
  std::string serial;
  uint8_t busType = 15;  // a file-backed virtual disk, as a loop device shows
  uint32_t sectorSize = 512;
  uint32_t maxTransfer = 1310720;  // a loop device's max_hw_sectors_kb, 1280 KiB
  bool removable = false;
  bool slave = false;
  std::optional<Sector> identify;  // absent: the drive takes no ATA commands
  std::optional<Sector> smart;
  std::optional<Sector> thresholds;  // SMART READ THRESHOLDS (absent: the read fails)
  // The NVMe data an NVMe disk answers with (absent: the request fails, as on another bus).
  std::optional<nvme::IdentifyPage> nvmeController;
  std::optional<nvme::IdentifyPage> nvmeNamespace;
  std::optional<nvme::HealthLog> nvmeHealth;
  ImageFaults fail;
  std::vector<ImageWriteError> writeErrors;
  std::vector<ImageLostWrite> lostWrites;
  std::optional<int64_t> unplugAt;
  std::vector<ImageMount> mounts;
  // A hidden area: the image holds the whole native medium, the drive shows this many sectors
  // until its max address is set higher (absent: the whole image).
  std::optional<int64_t> accessibleSectors;
  // How long the drive's sanitize runs (0: it is done by the next status read).
  double sanitizeSeconds = 0;
  // The active namespaces of an NVMe controller; the image is the first of them.
  uint32_t nvmeNamespaces = 1;
};

// Where the drive keeps what it remembers between runs of the program (its password, max
// address, a sanitize under way, what a crypto erase left unreadable): NAME.state beside
// NAME.img.
std::string DriveStatePath(const std::string& imagePath);

// The drive described by the metadata text `json` of `jsonPath` for the image `imagePath`;
// sector files are looked up beside `jsonPath`. On bad metadata (more than 1 MiB of it, or
// nested more than 16 levels, among the rest): nullopt and *error set to one line naming the
// file and the key. Nothing is thrown.
std::optional<ImageDrive> ParseImageDrive(const std::string& imagePath, const std::string& jsonPath,
                                          const std::string& json, std::string* error);

// Every *.img of `folder` in name order, each with its NAME.json when there is one. Drives with
// bad metadata are left out and described in `errors`.
std::vector<ImageDrive> ScanImageFolder(const std::string& folder,
                                        std::vector<std::string>& errors);

}  // namespace fw::image
