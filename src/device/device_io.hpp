#pragma once
// The one door to disks and volumes. Backends (Linux block devices, disk images, the tests'
// scripted fake) answer the Windows storage contract: open modes, control codes with their
// buffer sizes and byte-exact reply layouts, 64-bit seek, synchronous write, Windows error codes.
// Failures are results (kInvalidHandle, false, -1); the caller fetches LastError() at once.
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "device/disk_contents.hpp"
#include "device/disk_takeover.hpp"
#include "device/drive_commands.hpp"
#include "device/io_queue.hpp"

namespace fw {

using Handle = int64_t;
inline constexpr Handle kInvalidHandle = -1;

enum class OpenMode {
  Identification,  // read, shared read/write: the scan
  Working,         // read/write, exclusive: the chosen disk, for the whole run
  VolumeLock,      // read, shared: a volume of the chosen disk, kept while it is locked
  VolumeQuery,     // no data access, shared: which disk a volume lies on
  Claim,           // the whole disk claimed for the duration of a format (O_EXCL on Linux)
};

// Windows error codes the program sees (winerror.h values).
namespace win {
inline constexpr uint32_t ERROR_SUCCESS = 0;
inline constexpr uint32_t ERROR_INVALID_FUNCTION = 1;
inline constexpr uint32_t ERROR_FILE_NOT_FOUND = 2;
inline constexpr uint32_t ERROR_ACCESS_DENIED = 5;
inline constexpr uint32_t ERROR_INVALID_HANDLE = 6;
inline constexpr uint32_t ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr uint32_t ERROR_WRITE_PROTECT = 19;
inline constexpr uint32_t ERROR_NOT_READY = 21;
inline constexpr uint32_t ERROR_SHARING_VIOLATION = 32;
inline constexpr uint32_t ERROR_LOCK_VIOLATION = 33;
inline constexpr uint32_t ERROR_DEV_NOT_EXIST = 55;
inline constexpr uint32_t ERROR_INVALID_PARAMETER = 87;
inline constexpr uint32_t ERROR_DISK_FULL = 112;
inline constexpr uint32_t ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr uint32_t ERROR_SEM_TIMEOUT = 121;
inline constexpr uint32_t ERROR_IO_DEVICE = 1117;
}  // namespace win

class DeviceIo {
 public:
  virtual ~DeviceIo() = default;

  // The path of physical drive N (0..255): the node for a block device, the image file for a
  // simulated disk; empty when there is no N-th drive. The list is taken once per backend
  // instance, so drive numbers stay put for the whole run even if disks come and go.
  virtual std::string PhysicalDrivePath(int n) = 0;

  // The volumes ("drive roots") of the system, in the order the system lists them: on Linux
  // the mount points of block-device mounts.
  virtual std::vector<std::string> LogicalDrives() = 0;

  virtual Handle Open(const std::string& path, OpenMode mode) = 0;

  // DeviceIoControl: `returned` receives the byte count of the reply (may be null).
  virtual bool DeviceControl(Handle handle, uint32_t code, const void* in, uint32_t inSize,
                             void* out, uint32_t outCapacity, uint32_t* returned) = 0;

  // Absolute position from the start; the new position, or -1 (never a partial position).
  virtual int64_t SeekDevice(Handle handle, int64_t offset) = 0;

  // Synchronous write at the current position; bytes written, or -1.
  virtual int64_t Write(Handle handle, const void* buffer, int64_t count) = 0;

  // Reads `count` bytes at absolute `offset` without moving the write position; bytes read
  // (fewer only at the end of the disk), or -1. On the working handle the data comes from the
  // medium, not from a cache: `buffer` and `count` must suit direct I/O (page-aligned buffer,
  // whole sectors), as the engine's buffer does.
  virtual int64_t ReadAt(Handle handle, int64_t offset, void* buffer, int64_t count) = 0;

  // Makes written data durable: the page cache written back (buffered writes) and the
  // device's volatile write cache emptied (direct writes too).
  virtual bool Flush(Handle handle) = 0;

  virtual void Close(Handle handle) = 0;

  // The Windows error code of the last failed call.
  virtual uint32_t LastError() const = 0;

  // The system's message for an error code, without trailing blanks, control characters and
  // full stops.
  virtual std::string ErrorText(uint32_t code) const = 0;

  // Beyond the storage contract, for telling disks apart in the lists and confirmations: what
  // drive `drivePath` (a path PhysicalDrivePath gave) holds. A backend that cannot tell says
  // nothing.
  virtual DiskContents DescribeDisk(const std::string& drivePath) {
    (void)drivePath;
    return {};
  }

  // The whole disk that the partition `path` lies on, as its drive path ("/dev/sda" for
  // "/dev/sda1", symbolic links followed); empty when `path` is no partition.
  virtual std::string WholeDiskOfPartition(const std::string& path) {
    (void)path;
    return {};
  }

  // true when the file system holding `path` (an existing file or folder) lies on the drive
  // `drivePath` or one of its partitions, or on something stacked on them: a file written
  // there would go with the erasure. A backend that cannot tell answers false.
  virtual bool PathLiesOnDisk(const std::string& drivePath, const std::string& path) {
    (void)drivePath;
    (void)path;
    return false;
  }

  // Starts one format attempt's takeover of the disk at `drivePath` (a path PhysicalDrivePath
  // gave). While the object lives, this backend's volume lock, dismount and claim calls for
  // that disk are its steps. A backend with nothing to plan or put back answers a takeover
  // that refuses nothing.
  virtual std::unique_ptr<DiskTakeover> BeginTakeover(const std::string& drivePath) {
    (void)drivePath;
    return std::make_unique<DiskTakeover>();
  }

  // Beyond the storage contract, for the drive's own erase and its hidden area: one ATA
  // command or NVMe admin command on `handle` (the working handle of the chosen disk). `data`
  // is the command's data (one 512-byte sector for a PIO command; dataLength bytes for NVMe),
  // read into or written from. A backend or a path that cannot carry the command sends nothing
  // and answers NotSupported.
  virtual AtaReply SendAtaCommand(Handle handle, const AtaCommand& command,
                                  std::span<uint8_t> data) {
    (void)handle;
    (void)command;
    (void)data;
    return {};
  }
  virtual NvmeReply SendNvmeAdminCommand(Handle handle, const NvmeAdminCommand& command,
                                  std::span<uint8_t> data) {
    (void)handle;
    (void)command;
    (void)data;
    return {};
  }

  // Queued transfers on `handle` (the working handle), at most `depth` at once: the engine's
  // writes and reads. Buffers and counts must suit direct I/O, as the engine's do. The queue
  // lives no longer than the handle. A backend without queues of its own answers one that does
  // each transfer in turn through SeekDevice, Write and ReadAt.
  virtual std::unique_ptr<IoQueue> OpenQueue(Handle handle, int depth) {
    (void)depth;
    return MakeSyncIoQueue(*this, handle);
  }

  // Has the system read the size of the disk behind `handle` again (after its max address
  // changed); the size in bytes it now sees, or nothing when it cannot.
  virtual std::optional<int64_t> RereadCapacity(Handle handle) {
    (void)handle;
    return std::nullopt;
  }
};

// The backend of this run: the simulated disks when FERROWIPE_DISKS names a folder, otherwise
// the machine's block devices.
std::unique_ptr<DeviceIo> CreateDeviceBackend();

}  // namespace fw
