#pragma once
// A simulated disk as its firmware answers the commands of its own erase and of its hidden area
// (ATA SANITIZE, the security feature set, the max address and DCO commands; NVMe Sanitize,
// Format NVM, the sanitize log and the namespace list), from what its IDENTIFY sector or NVMe
// identify data say it supports. The metadata adds only behaviour: the accessible sectors, how
// long a sanitize runs, which commands fail.
//
// What a drive keeps while it stays powered between two runs of the program (its password, its
// max address, a sanitize under way, what a crypto erase left) lives in NAME.state beside the
// image: a later run finds the drive as the last one left it. Removing the file gives the drive
// as its metadata describes it, as after a power cycle that also forgot the password.
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "core/clock.hpp"
#include "device/ata_transport.hpp"
#include "device/drive_commands.hpp"
#include "device/image/image_drive.hpp"
#include "device/image/scrambled_stretches.hpp"
#include "device/purge_commands.hpp"

namespace fw::image {

class SimulatedDrive {
 public:
  // `imageBytes`: the image's size, the whole native medium.
  SimulatedDrive(const ImageDrive& drive, int64_t imageBytes, Clock& clock);

  // One command. Commands that change the drive are taken only when `working` (they came on the
  // working handle of the disk); otherwise they are refused as not carried (NotSupported with
  // ERROR_ACCESS_DENIED), nothing done.
  AtaReply Ata(const AtaCommand& command, std::span<uint8_t> data, bool working);
  NvmeReply Nvme(const NvmeAdminCommand& command, std::span<uint8_t> data, bool working);

  // IDENTIFY DEVICE as the drive answers it now: its security state, and, where it has a hidden
  // area, its current max address. Nothing when the drive takes no ATA commands.
  std::optional<Sector> Identify();
  // Another command reached the drive (SMART through the driver interface): an ERASE PREPARE
  // or READ NATIVE MAX before it no longer counts as the command just before.
  void OtherCommand();

  // The disk's size in bytes as the system sees it; nothing when that is the image's size (the
  // drive has no hidden area and its max address was never changed).
  std::optional<int64_t> SystemBytes();
  // The system reads the drive's size again: from now on it sees the current max address.
  int64_t RereadCapacity();

  // 0 when the medium can be read and written now; otherwise the Windows error code a read or
  // write fails with (a sanitize running or failed, the security feature set locked).
  uint32_t MediaRefusal();
  // [begin, end) of the medium was written: it reads as written from now on.
  void Written(int64_t begin, int64_t end);
  // What the medium reads as over `count` bytes just read at `offset` from the image.
  void Overlay(int64_t offset, uint8_t* bytes, int64_t count) const;

  // Writes the state file when something in it changed since (the writes' effect on a crypto
  // erase is kept until the handle's flush or close).
  void Save();
  // A problem with the state file found when the drive was made (empty when none).
  const std::string& StateProblem() const { return m_stateProblem; }

 private:
  enum class Phase { Idle, Running, Completed, Failed };

  struct Security {
    bool enabled = false;
    bool locked = false;
    bool frozen = false;
    bool levelMaximum = false;
    int attemptsLeft = 5;
    std::optional<std::string> user;    // 32 bytes; unknown when set before the drive was made
    std::optional<std::string> master;  // 32 bytes; unknown: the factory's
  };

  struct Sanitize {
    Phase phase = Phase::Idle;
    int64_t startMs = 0;
    double seconds = 0;
    bool willFail = false;
    bool failureMode = false;  // a failure is left only by another sanitize
    bool frozen = false;       // SANITIZE FREEZE LOCK EXT
    bool antifreeze = false;
    bool globalDataErased = false;
    uint32_t nvmeCdw10 = 0;
    uint8_t overwritePasses = 0;
  };

  AtaReply SanitizeCommand(const AtaCommand& command, bool working);
  AtaReply SecurityCommand(const AtaCommand& command, std::span<uint8_t> data, bool working);
  AtaReply MaxAddressCommand(const AtaCommand& command, bool working, bool afterReadNativeMax);
  AtaReply DcoCommand(const AtaCommand& command, std::span<uint8_t> data);
  NvmeReply NvmeSanitize(const NvmeAdminCommand& command, bool working);
  NvmeReply NvmeFormat(const NvmeAdminCommand& command, bool working);
  NvmeReply NvmeIdentify(const NvmeAdminCommand& command, std::span<uint8_t> data);
  NvmeReply NvmeLog(const NvmeAdminCommand& command, std::span<uint8_t> data);

  // Starts a sanitize: the medium takes its effect now (it cannot be read until the end).
  void StartSanitize(SanitizeAction action, uint32_t pattern, uint8_t passes, bool invert);
  // A running sanitize whose time is up has completed (or failed).
  void Advance();
  // 0..1 of a running sanitize.
  double SanitizeFraction() const;
  // Gives [0, endBytes) of the image the effect of `action`; false when the image cannot be
  // written.
  bool EraseMedium(SanitizeAction action, uint32_t pattern, int64_t endBytes);
  void SetMax(int64_t sectors);
  // Reads the state file again when another backend (another run, another disk's thread)
  // wrote it since this one last read or wrote it.
  void Refresh();
  void Load();

  const ImageDrive& m_drive;
  Clock& m_clock;
  int64_t m_nativeSectors = 0;
  int64_t m_maxSectors = 0;                   // what the drive shows now
  std::optional<int64_t> m_systemSectors;     // what the system saw when it last read the size
  bool m_maxShown = false;                    // IDENTIFY's size words say m_maxSectors
  bool m_amaFrozen = false;
  bool m_afterErasePrepare = false;
  bool m_afterReadNativeMax = false;
  Security m_security;
  Sanitize m_sanitize;
  ScrambledStretches m_scrambled;
  bool m_dirty = false;
  std::string m_stateProblem;
  struct FileStamp {
    bool exists = false;
    uint64_t inode = 0;
    int64_t size = 0;
    int64_t modifiedNs = 0;
    bool operator==(const FileStamp&) const = default;
  };
  static FileStamp StampOf(const std::string& path);
  FileStamp m_seen;  // the state file as last read or written
};

}  // namespace fw::image
