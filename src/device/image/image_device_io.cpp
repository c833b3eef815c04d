// The simulated disks behind FERROWIPE_DISKS: image files answer the storage contract as a
// Linux disk does through our Linux backend, with faults injected from their metadata.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "device/backends.hpp"
#include "device/control_codes.hpp"
#include "device/disk_contents.hpp"
#include "device/image/image_contents.hpp"
#include "device/image/image_drive.hpp"
#include "device/image/image_drive_commands.hpp"
#include "core/clock.hpp"
#include "core/terminal_safe.hpp"
#include "device/linux/descriptors.hpp"
#include "device/linux/errno_map.hpp"
#include "device/nvme_protocol.hpp"
#include "device/win_layouts.hpp"

namespace fw {

namespace {

using image::ImageDrive;
using linuxio::ErrnoSite;

constexpr uint32_t kSectorBytes = 512;
// Writes are stored in pieces of this size, each either punched out as zeros or written.
constexpr int64_t kZeroChunk = 1 << 20;

class ImageDeviceIo final : public DeviceIo {
 public:
  ImageDeviceIo(std::vector<ImageDrive> drives, std::shared_ptr<Clock> clock)
      : m_drives(std::move(drives)), m_state(m_drives.size()), m_clock(std::move(clock)) {
    for (size_t d = 0; d < m_drives.size(); ++d) {
      m_state[d].mounted.assign(m_drives[d].mounts.size(), true);
      struct stat st {};
      const int64_t bytes = ::stat(m_drives[d].path.c_str(), &st) == 0 ? st.st_size : 0;
      m_state[d].firmware = std::make_unique<image::SimulatedDrive>(m_drives[d], bytes, *m_clock);
    }
  }

  ~ImageDeviceIo() override {
    for (const auto& [handle, open] : m_handles) {
      if (open.fd >= 0) ::close(open.fd);
    }
    for (DriveState& state : m_state) state.firmware->Save();
  }

  // What the drives' state files held that could not be used.
  std::vector<std::string> StateProblems() const {
    std::vector<std::string> problems;
    for (const DriveState& state : m_state) {
      if (!state.firmware->StateProblem().empty()) problems.push_back(state.firmware->StateProblem());
    }
    return problems;
  }

  ImageDeviceIo(const ImageDeviceIo&) = delete;
  ImageDeviceIo& operator=(const ImageDeviceIo&) = delete;

  std::string PhysicalDrivePath(int n) override {
    return n >= 0 && static_cast<size_t>(n) < m_drives.size() ? m_drives[n].path : std::string();
  }

  std::vector<std::string> LogicalDrives() override {
    std::vector<std::string> names;
    for (size_t d = 0; d < m_drives.size(); ++d) {
      for (size_t m = 0; m < m_drives[d].mounts.size(); ++m) {
        if (m_state[d].mounted[m]) names.push_back(m_drives[d].mounts[m].mountPoint);
      }
    }
    return names;
  }

  Handle Open(const std::string& path, OpenMode mode) override {
    if (const auto drive = FindDrive(path)) return OpenDrive(*drive, mode);
    if (const auto volume = FindVolume(path))
      return OpenVolume(volume->first, volume->second, mode);
    return FailOpen(win::ERROR_FILE_NOT_FOUND);
  }

  bool DeviceControl(Handle handle, uint32_t code, const void* in, uint32_t inSize, void* out,
                     uint32_t outCapacity, uint32_t* returned) override {
    if (returned != nullptr) *returned = 0;
    const auto it = m_handles.find(handle);
    if (it == m_handles.end()) return Fail(win::ERROR_INVALID_HANDLE);
    Reply reply{static_cast<uint8_t*>(out), out == nullptr ? 0 : outCapacity, returned};
    const OpenHandle& open = it->second;
    return open.volume ? VolumeControl(open, code, reply)
                       : DriveControl(open, code, in, inSize, reply);
  }

  int64_t SeekDevice(Handle handle, int64_t offset) override {
    OpenHandle* open = DriveHandle(handle);
    if (open == nullptr) return FailCount(win::ERROR_INVALID_HANDLE);
    // A disk does not grow: positions past its end are refused, as a block device does.
    int64_t size = 0;
    if (!DiskSize(*open, size)) return -1;
    if (offset < 0 || offset > size) return FailCount(win::ERROR_INVALID_PARAMETER);
    open->position = offset;
    Succeed();
    return offset;
  }

  int64_t Write(Handle handle, const void* buffer, int64_t count) override {
    OpenHandle* open = DriveHandle(handle);
    if (open == nullptr || buffer == nullptr) return FailCount(win::ERROR_INVALID_HANDLE);
    if (open->mode != OpenMode::Working) return FailCount(win::ERROR_ACCESS_DENIED);
    if (count < 0 || count > INT64_MAX - open->position) {
      return FailCount(win::ERROR_INVALID_PARAMETER);
    }
    const ImageDrive& drive = m_drives[open->drive];
    DriveState& state = m_state[open->drive];
    const int64_t begin = open->position;
    const int64_t end = begin + count;

    // An unplugged disk stays gone: every later write fails as well.
    if (state.unplugged) return FailCount(win::ERROR_DEV_NOT_EXIST);
    if (drive.unplugAt && count > 0 && end > *drive.unplugAt) {
      state.unplugged = true;
      return FailCount(win::ERROR_DEV_NOT_EXIST);
    }
    for (const image::ImageWriteError& error : drive.writeErrors) {
      if (error.offset >= begin && error.offset < end) return FailCount(error.code);
    }
    if (const uint32_t refusal = state.firmware->MediaRefusal(); refusal != 0) {
      return FailCount(refusal);
    }

    int64_t size = 0;
    if (!DiskSize(*open, size)) return -1;
    const int64_t room = std::max<int64_t>(0, size - begin);
    const int64_t wanted = std::min(count, room);
    if (count > 0 && wanted == 0) return FailCount(win::ERROR_DISK_FULL);
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    int64_t written = 0;
    while (written < wanted) {
      const Stretch stretch = NextStretch(drive, begin + written, begin + wanted);
      if (stretch.lost) {
        written += stretch.length;  // reported as written, never stored
        continue;
      }
      const int64_t chunk = std::min(stretch.length, kZeroChunk);
      const ssize_t n = StoreChunk(*open, bytes + written, chunk, begin + written);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        const int error = n < 0 ? errno : EIO;
        if (written == 0) {
          FailErrno(error, ErrnoSite::Write);
          return -1;
        }
        break;
      }
      written += n;
    }
    state.firmware->Written(begin, begin + written);
    open->position = begin + written;
    // Past the end of the disk only the part that fits is written, as on a block device.
    if (written < count) {
      m_lastError = win::ERROR_DISK_FULL;
      return written;
    }
    Succeed();
    return written;
  }

  int64_t ReadAt(Handle handle, int64_t offset, void* buffer, int64_t count) override {
    OpenHandle* open = DriveHandle(handle);
    if (open == nullptr || buffer == nullptr) return FailCount(win::ERROR_INVALID_HANDLE);
    if (offset < 0 || count < 0) return FailCount(win::ERROR_INVALID_PARAMETER);
    DriveState& state = m_state[open->drive];
    if (state.unplugged) return FailCount(win::ERROR_DEV_NOT_EXIST);
    if (const uint32_t refusal = state.firmware->MediaRefusal(); refusal != 0) {
      return FailCount(refusal);
    }
    // The end of the disk is where the system sees it, not the image's end.
    int64_t size = 0;
    if (!DiskSize(*open, size)) return -1;
    count = std::min(count, std::max<int64_t>(0, size - offset));
    auto* bytes = static_cast<uint8_t*>(buffer);
    int64_t done = 0;
    while (done < count) {
      const ssize_t n = ::pread(open->fd, bytes + done, static_cast<size_t>(count - done),
                                offset + done);
      if (n < 0 && errno == EINTR) continue;
      if (n == 0) break;  // the end of the disk
      if (n < 0) {
        FailErrno(errno, ErrnoSite::Other);
        return -1;
      }
      done += n;
    }
    state.firmware->Overlay(offset, bytes, done);
    Succeed();
    return done;
  }

  bool Flush(Handle handle) override {
    OpenHandle* open = DriveHandle(handle);
    if (open == nullptr) return Fail(win::ERROR_INVALID_HANDLE);
    if (m_state[open->drive].unplugged) return Fail(win::ERROR_DEV_NOT_EXIST);
    if (open->fd >= 0 && ::fdatasync(open->fd) != 0) return FailErrno(errno, ErrnoSite::Other);
    m_state[open->drive].firmware->Save();
    return Succeed();
  }

  void Close(Handle handle) override {
    const auto it = m_handles.find(handle);
    if (it == m_handles.end()) return;
    const OpenHandle& open = it->second;
    if (open.fd >= 0) ::close(open.fd);  // also drops the working open's lock
    if (!open.volume && open.mode == OpenMode::Claim) m_state[open.drive].claimed = false;
    if (!open.volume) m_state[open.drive].firmware->Save();
    m_handles.erase(it);
  }

  uint32_t LastError() const override { return m_lastError; }

  // The drive's own commands, answered by its simulated firmware from its identify data.
  AtaReply SendAtaCommand(Handle handle, const AtaCommand& command,
                          std::span<uint8_t> data) override {
    OpenHandle* open = DriveHandle(handle);
    if (open == nullptr) return SendFailure<AtaReply>(CommandOutcome::TransportError,
                                                      win::ERROR_INVALID_HANDLE);
    if (m_state[open->drive].unplugged) {
      return SendFailure<AtaReply>(CommandOutcome::NoDevice, win::ERROR_DEV_NOT_EXIST);
    }
    return Answered(m_state[open->drive].firmware->Ata(command, data, open->mode == OpenMode::Working));
  }

  NvmeReply SendNvmeAdminCommand(Handle handle, const NvmeAdminCommand& command,
                                 std::span<uint8_t> data) override {
    OpenHandle* open = DriveHandle(handle);
    if (open == nullptr) return SendFailure<NvmeReply>(CommandOutcome::TransportError,
                                                       win::ERROR_INVALID_HANDLE);
    if (m_state[open->drive].unplugged) {
      return SendFailure<NvmeReply>(CommandOutcome::NoDevice, win::ERROR_DEV_NOT_EXIST);
    }
    return Answered(m_state[open->drive].firmware->Nvme(command, data, open->mode == OpenMode::Working));
  }

  std::optional<int64_t> RereadCapacity(Handle handle) override {
    OpenHandle* open = DriveHandle(handle);
    if (open == nullptr || m_state[open->drive].unplugged) return std::nullopt;
    return m_state[open->drive].firmware->RereadCapacity();
  }

  std::unique_ptr<DiskTakeover> BeginTakeover(const std::string& drivePath) override;

  // A format attempt's takeover of one drive: what its locks unmounted, so that a restore
  // mounts exactly that again, and the cause of a step that failed.
  struct TakeoverState {
    size_t drive = 0;
    std::vector<size_t> unmounted;  // mount indexes, in the order the locks took them
    RefusalCause cause;
    Handle claim = kInvalidHandle;
    bool ended = false;
  };

  // Nothing is changed: the running system's disk and a busy volume are refused whole, by the
  // rule that marks them in the lists.
  RefusalCause PlanTakeover(const TakeoverState& takeover) const {
    const ImageDrive& drive = m_drives[takeover.drive];
    const DriveState& state = m_state[takeover.drive];
    for (size_t m = 0; m < drive.mounts.size(); ++m) {
      if (state.mounted[m] && IsSystemMountPoint(drive.mounts[m].mountPoint)) {
        return RefusalCause{RefusalKind::RunningSystem, drive.mounts[m].mountPoint, 0, "", {}};
      }
    }
    for (size_t m = 0; m < drive.mounts.size(); ++m) {
      if (state.mounted[m] && drive.mounts[m].busy) {
        return RefusalCause{RefusalKind::Busy, drive.mounts[m].mountPoint, 0, "", {}};
      }
    }
    return {};
  }

  std::optional<int64_t> ClaimedSize(const TakeoverState& takeover) {
    OpenHandle* claim = DriveHandle(takeover.claim);
    int64_t size = 0;
    if (claim == nullptr || claim->fd < 0 || !DiskSize(*claim, size)) return std::nullopt;
    return size;
  }

  RefusalCause EndTakeover(TakeoverState& takeover, bool restore) {
    if (takeover.ended) return {};
    takeover.ended = true;
    RefusalCause cause = std::exchange(takeover.cause, RefusalCause{});
    if (restore) {
      for (const size_t m : takeover.unmounted) {
        m_state[takeover.drive].mounted[m] = true;
        cause.remounted.push_back(m_drives[takeover.drive].mounts[m].mountPoint);
      }
    }
    takeover.unmounted.clear();
    if (m_active && m_active.get() == &takeover) m_active.reset();
    return restore ? cause : RefusalCause{};
  }

  std::string ErrorText(uint32_t code) const override {
    const int error = linuxio::ErrnoForWindowsError(code);
    if (error < 0) return "Unknown error " + std::to_string(code);
    return linuxio::ErrnoText(error);
  }

  DiskContents DescribeDisk(const std::string& drivePath) override {
    const std::optional<size_t> drive = FindDrive(drivePath);
    if (!drive) return {};
    std::vector<image::ImageMount> mounted;
    for (size_t m = 0; m < m_drives[*drive].mounts.size(); ++m) {
      if (m_state[*drive].mounted[m]) mounted.push_back(m_drives[*drive].mounts[m]);
    }
    return image::DescribeImageDrive(m_drives[*drive], mounted);
  }

  // A simulated disk holds its image file and whatever lies under its volumes' mount points.
  bool PathLiesOnDisk(const std::string& drivePath, const std::string& path) override {
    const std::optional<size_t> drive = FindDrive(drivePath);
    if (!drive) return false;
    struct stat file {};
    struct stat disk {};
    if (::stat(path.c_str(), &file) == 0 && ::stat(drivePath.c_str(), &disk) == 0 &&
        file.st_dev == disk.st_dev && file.st_ino == disk.st_ino) {
      return true;
    }
    std::error_code ignored;
    const std::filesystem::path where = std::filesystem::absolute(path, ignored).lexically_normal();
    for (size_t m = 0; m < m_drives[*drive].mounts.size(); ++m) {
      const std::filesystem::path point =
          std::filesystem::path(m_drives[*drive].mounts[m].mountPoint).lexically_normal();
      const std::filesystem::path inside = where.lexically_relative(point);
      if (m_state[*drive].mounted[m] && !inside.empty() && *inside.begin() != "..") return true;
    }
    return false;
  }

 private:
  struct DriveState {
    std::vector<bool> mounted;  // per simulated mount: unmounted for good once locked
    bool claimed = false;
    bool unplugged = false;
    std::unique_ptr<image::SimulatedDrive> firmware;
  };

  struct OpenHandle {
    size_t drive = 0;
    OpenMode mode = OpenMode::Identification;
    bool volume = false;
    size_t mount = 0;
    int fd = -1;
    int64_t position = 0;
    bool punchHoles = true;  // until the file system says it cannot
  };

  // The caller's output buffer.
  struct Reply {
    uint8_t* out;
    uint32_t capacity;
    uint32_t* returned;
  };

  std::optional<size_t> FindDrive(const std::string& path) const {
    for (size_t d = 0; d < m_drives.size(); ++d) {
      if (m_drives[d].path == path) return d;
    }
    return std::nullopt;
  }

  // A volume exists only while it is mounted.
  std::optional<std::pair<size_t, size_t>> FindVolume(const std::string& path) const {
    for (size_t d = 0; d < m_drives.size(); ++d) {
      for (size_t m = 0; m < m_drives[d].mounts.size(); ++m) {
        if (m_state[d].mounted[m] && m_drives[d].mounts[m].mountPoint == path) {
          return std::make_pair(d, m);
        }
      }
    }
    return std::nullopt;
  }

  Handle OpenDrive(size_t d, OpenMode mode) {
    const ImageDrive& drive = m_drives[d];
    DriveState& state = m_state[d];
    OpenHandle open;
    open.drive = d;
    open.mode = mode;
    switch (mode) {
      case OpenMode::Identification:
        open.fd = OpenImageFile(drive.path, O_RDONLY);
        if (open.fd < 0) return FailOpenErrno(errno);
        break;
      case OpenMode::Working:
        if (drive.fail.openWorking != 0) return FailOpen(drive.fail.openWorking);
        open.fd = OpenImageFile(drive.path, O_RDWR);
        if (open.fd < 0) return FailOpenErrno(errno);
        // The udev convention for exclusive use of a disk; flock conflicts between two opens
        // of one process as well as between processes.
        if (::flock(open.fd, LOCK_EX | LOCK_NB) != 0) {
          const int error = errno;
          ::close(open.fd);
          if (error == EWOULDBLOCK) return FailOpen(win::ERROR_SHARING_VIOLATION);
          return FailOpenErrno(error);
        }
        break;
      case OpenMode::Claim: {
        for (const bool mounted : state.mounted) {
          if (mounted) return FailOpen(win::ERROR_SHARING_VIOLATION);
        }
        if (state.claimed) return FailOpen(win::ERROR_SHARING_VIOLATION);
        // Read-only, for the size the claimed disk has now.
        open.fd = OpenImageFile(drive.path, O_RDONLY);
        if (open.fd < 0) return FailOpenErrno(errno);
        state.claimed = true;
        const Handle handle = AddHandle(open);
        if (TakeoverState* takeover = ActiveFor(d)) takeover->claim = handle;
        return handle;
      }
      case OpenMode::VolumeLock:
      case OpenMode::VolumeQuery:
        return FailOpen(win::ERROR_INVALID_PARAMETER);
    }
    return AddHandle(open);
  }

  // The scan took only regular files; one swapped for a FIFO or a device since must neither
  // block the open nor be written. O_NONBLOCK changes nothing for a regular file.
  static int OpenImageFile(const std::string& path, int access) {
    const int fd = ::open(path.c_str(), access | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      ::close(fd);
      errno = EACCES;
      return -1;
    }
    return fd;
  }

  Handle OpenVolume(size_t d, size_t m, OpenMode mode) {
    if (mode != OpenMode::VolumeLock && mode != OpenMode::VolumeQuery) {
      return FailOpen(win::ERROR_INVALID_PARAMETER);
    }
    OpenHandle open;
    open.drive = d;
    open.mode = mode;
    open.volume = true;
    open.mount = m;
    return AddHandle(open);
  }

  Handle AddHandle(const OpenHandle& open) {
    const Handle handle = m_next++;
    m_handles[handle] = open;
    Succeed();
    return handle;
  }

  TakeoverState* ActiveFor(size_t drive) {
    return m_active && m_active->drive == drive && !m_active->ended ? m_active.get() : nullptr;
  }

  // A lock refused: the takeover under way keeps why.
  bool Refuse(size_t drive, RefusalKind kind, const std::string& subject) {
    if (TakeoverState* takeover = ActiveFor(drive)) {
      takeover->cause = RefusalCause{kind, subject, 0, "", {}};
    }
    return Fail(win::ERROR_SHARING_VIOLATION);
  }

  OpenHandle* DriveHandle(Handle handle) {
    const auto it = m_handles.find(handle);
    if (it == m_handles.end() || it->second.volume || it->second.fd < 0) return nullptr;
    return &it->second;
  }

  struct Stretch {
    int64_t length = 0;
    bool lost = false;
  };

  // The stretch from `at` (before `end`) that is all lost or all stored: lost writes are
  // reported as done and leave the old bytes in place.
  static Stretch NextStretch(const ImageDrive& drive, int64_t at, int64_t end) {
    int64_t limit = end;
    for (const image::ImageLostWrite& lost : drive.lostWrites) {
      const int64_t lostEnd = lost.offset + lost.length;
      if (lost.offset <= at && at < lostEnd) return Stretch{std::min(end, lostEnd) - at, true};
      if (lost.offset > at) limit = std::min(limit, lost.offset);
    }
    return Stretch{limit - at, false};
  }

  // Zeros become a hole, so that wiping a demo disk leaves its image sparse instead of filling
  // the machine's disk; a hole reads back as zeros. Where the file system cannot punch holes
  // the zeros are written.
  ssize_t StoreChunk(OpenHandle& open, const uint8_t* bytes, int64_t count, int64_t offset) {
    // A block is all zeros when its first byte is and every byte equals the one before it.
    const bool zeros = count > 0 && bytes[0] == 0 &&
                       std::memcmp(bytes, bytes + 1, static_cast<size_t>(count - 1)) == 0;
    if (open.punchHoles && zeros) {
      if (::fallocate(open.fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, offset, count) == 0) {
        return static_cast<ssize_t>(count);
      }
      if (errno != EOPNOTSUPP && errno != ENOSYS) return -1;
      open.punchHoles = false;
    }
    return ::pwrite(open.fd, bytes, static_cast<size_t>(count), offset);
  }

  bool FileSize(const OpenHandle& open, int64_t& size) {
    struct stat st {};
    if (::fstat(open.fd, &st) != 0) return FailErrno(errno, ErrnoSite::Other);
    size = st.st_size;
    return true;
  }

  // The disk's size as the system sees it: the image's, unless the drive hides part of it.
  bool DiskSize(const OpenHandle& open, int64_t& size) {
    if (const std::optional<int64_t> shown = m_state[open.drive].firmware->SystemBytes()) {
      size = *shown;
      return true;
    }
    return FileSize(open, size);
  }

  template <class Reply>
  Reply SendFailure(CommandOutcome outcome, uint32_t code) {
    Reply reply;
    reply.outcome = outcome;
    reply.code = code;
    return Answered(reply);
  }

  // The last error names what became of a drive command, as on the Linux backend: the drive's
  // own refusal is an I/O error there.
  template <class Reply>
  Reply Answered(const Reply& reply) {
    if (reply.outcome == CommandOutcome::Success) {
      Succeed();
    } else if (reply.outcome == CommandOutcome::DeviceError) {
      Fail(win::ERROR_IO_DEVICE);
    } else {
      Fail(reply.code != 0 ? reply.code : win::ERROR_INVALID_FUNCTION);
    }
    return reply;
  }

  bool DriveControl(const OpenHandle& open, uint32_t code, const void* in, uint32_t inSize,
                    const Reply& reply) {
    const ImageDrive& drive = m_drives[open.drive];
    switch (code) {
      case ioctl::IOCTL_DISK_GET_DRIVE_GEOMETRY: {
        if (drive.fail.geometry != 0) return Fail(drive.fail.geometry);
        int64_t size = 0;
        if (open.fd >= 0 && !DiskSize(open, size)) return false;
        return Answer(reply, linuxio::BuildGeometry(static_cast<uint64_t>(size), drive.sectorSize,
                                                    0, 0, drive.removable));
      }
      case ioctl::IOCTL_DISK_GET_LENGTH_INFO: {
        if (drive.fail.length != 0) return Fail(drive.fail.length);
        int64_t size = 0;
        if (open.fd >= 0 && !DiskSize(open, size)) return false;
        return Answer(reply, win::GET_LENGTH_INFORMATION{size});
      }
      case ioctl::IOCTL_STORAGE_QUERY_PROPERTY:
        return QueryProperty(drive, in, inSize, reply);
      case ioctl::SMART_GET_VERSION: {
        if (!drive.identify && !drive.smart) return Fail(win::ERROR_INVALID_FUNCTION);
        win::GETVERSIONINPARAMS version = linuxio::BuildSmartVersion(drive.slave);
        version.fCapabilities =
            (drive.identify ? win::CAP_ATA_ID_CMD : 0) | (drive.smart ? win::CAP_SMART_CMD : 0);
        return Answer(reply, version);
      }
      case ioctl::SMART_SEND_DRIVE_COMMAND:
      case ioctl::SMART_RCV_DRIVE_DATA:
        return AtaCommand(open.drive, in, inSize, reply);
      case ioctl::IOCTL_STORAGE_GET_DEVICE_NUMBER:
        return Answer(reply, win::STORAGE_DEVICE_NUMBER{win::FILE_DEVICE_DISK,
                                                        static_cast<uint32_t>(open.drive), 0});
      case ioctl::IOCTL_DISK_UPDATE_PROPERTIES:
        return Succeed();
      default:  // the SCSI miniport and inquiry requests among them: a Linux disk has neither
        return Fail(win::ERROR_INVALID_FUNCTION);
    }
  }

  bool QueryProperty(const ImageDrive& drive, const void* in, uint32_t inSize, const Reply& reply) {
    if (in == nullptr || inSize < offsetof(win::STORAGE_PROPERTY_QUERY, AdditionalParameters)) {
      return Fail(win::ERROR_INVALID_PARAMETER);
    }
    const auto query = win::LoadLayout<win::STORAGE_PROPERTY_QUERY>(in, inSize);
    if (query.QueryType != win::PropertyStandardQuery) return Fail(win::ERROR_INVALID_FUNCTION);
    if (IsProtocolSpecificProperty(query.PropertyId)) return NvmeQuery(drive, in, inSize, reply);
    if (query.PropertyId == win::StorageAdapterProperty) {
      if (drive.fail.adapter != 0) return Fail(drive.fail.adapter);
      return Answer(reply, linuxio::BuildAdapterDescriptor(drive.busType, drive.maxTransfer, 0, 0));
    }
    if (query.PropertyId == win::StorageDeviceProperty) {
      if (drive.fail.device != 0) return Fail(drive.fail.device);
      const linuxio::DeviceStrings strings{drive.vendor, drive.product, drive.revision,
                                           drive.serial};
      const std::vector<uint8_t> descriptor =
          linuxio::BuildDeviceDescriptor(strings, drive.removable, drive.busType);
      // Like Windows, a short buffer receives the descriptor's start (its header at least).
      return AnswerBytes(reply, descriptor.data(), descriptor.size(), 8);
    }
    return Fail(win::ERROR_INVALID_FUNCTION);
  }

  // The three NVMe requests, answered from the drive's NVMe data; a drive without the data
  // refuses them, as a disk on another bus does.
  bool NvmeQuery(const ImageDrive& drive, const void* in, uint32_t inSize, const Reply& reply) {
    const std::optional<NvmeRequest> request = ParseNvmeQuery(in, inSize);
    if (!request) return Fail(win::ERROR_INVALID_FUNCTION);
    const uint8_t* data = nullptr;
    uint32_t fault = 0;
    switch (*request) {
      case NvmeRequest::IdentifyController:
        data = drive.nvmeController ? drive.nvmeController->data() : nullptr;
        fault = drive.fail.nvmeIdentifyController;
        break;
      case NvmeRequest::IdentifyNamespace:
        data = drive.nvmeNamespace ? drive.nvmeNamespace->data() : nullptr;
        fault = drive.fail.nvmeIdentifyNamespace;
        break;
      case NvmeRequest::HealthLog:
        data = drive.nvmeHealth ? drive.nvmeHealth->data() : nullptr;
        fault = drive.fail.nvmeSmartLog;
        break;
    }
    if (data == nullptr) return Fail(win::ERROR_INVALID_FUNCTION);
    if (fault != 0) return Fail(fault);
    const uint32_t count = BuildNvmeReply(
        *request, std::span<const uint8_t>(data, NvmeDataLength(*request)), reply.out, reply.capacity);
    if (count == 0) return Fail(win::ERROR_INSUFFICIENT_BUFFER);
    if (reply.returned != nullptr) *reply.returned = count;
    return Succeed();
  }

  // IDENTIFY DEVICE and the SMART subcommands ENABLE, DISABLE, READ DATA and READ THRESHOLDS,
  // answered from the drive's sectors; a drive without the sector takes no such command.
  bool AtaCommand(size_t d, const void* in, uint32_t inSize, const Reply& reply) {
    if (in == nullptr || inSize < offsetof(win::SENDCMDINPARAMS, bBuffer)) {
      return Fail(win::ERROR_INVALID_PARAMETER);
    }
    const ImageDrive& drive = m_drives[d];
    image::SimulatedDrive& firmware = *m_state[d].firmware;
    const auto params = win::LoadLayout<win::SENDCMDINPARAMS>(in, inSize);
    const win::IDEREGS& regs = params.irDriveRegs;
    const Sector* sector = nullptr;
    uint32_t fault = 0;
    bool dataIn = false;
    // IDENTIFY as the drive answers it now (its security state and max address).
    const std::optional<Sector> identify = firmware.Identify();
    firmware.OtherCommand();
    if (regs.bCommandReg == win::ID_CMD) {
      sector = identify ? &*identify : nullptr;
      fault = drive.fail.identify;
      dataIn = true;
    } else if (regs.bCommandReg == win::SMART_CMD && regs.bCylLowReg == win::SMART_CYL_LOW &&
               regs.bCylHighReg == win::SMART_CYL_HI) {
      sector = drive.smart ? &*drive.smart : nullptr;
      switch (regs.bFeaturesReg) {
        case win::ENABLE_SMART:
          fault = drive.fail.smartEnable;
          break;
        case win::DISABLE_SMART:
          break;
        case win::READ_ATTRIBUTES:
          fault = drive.fail.smartRead;
          dataIn = true;
          break;
        case win::READ_THRESHOLDS:
          sector = drive.smart && drive.thresholds ? &*drive.thresholds : nullptr;
          fault = drive.fail.smartRead;
          dataIn = true;
          break;
        default:
          return Fail(win::ERROR_INVALID_FUNCTION);
      }
    } else {
      return Fail(win::ERROR_INVALID_FUNCTION);
    }
    if (sector == nullptr) return Fail(win::ERROR_INVALID_FUNCTION);
    if (fault != 0) return Fail(fault);

    const uint32_t dataBytes = dataIn ? kSectorBytes : 0;
    std::vector<uint8_t> answer(win::kSendCmdOutHeader + dataBytes, 0);
    win::StoreLayout(dataBytes, answer.data(), answer.size(),
                     offsetof(win::SENDCMDOUTPARAMS, cBufferSize));
    if (dataIn) std::copy(sector->begin(), sector->end(), answer.begin() + win::kSendCmdOutHeader);
    return AnswerBytes(reply, answer.data(), answer.size(), answer.size());
  }

  bool VolumeControl(const OpenHandle& open, uint32_t code, const Reply& reply) {
    const ImageDrive& drive = m_drives[open.drive];
    DriveState& state = m_state[open.drive];
    switch (code) {
      case ioctl::IOCTL_STORAGE_GET_DEVICE_NUMBER:
        return Answer(reply, win::STORAGE_DEVICE_NUMBER{win::FILE_DEVICE_DISK,
                                                        static_cast<uint32_t>(open.drive),
                                                        drive.mounts[open.mount].partition});
      case ioctl::FSCTL_LOCK_VOLUME:
        // Locking takes data access; the query mode has none.
        if (open.mode != OpenMode::VolumeLock) return Fail(win::ERROR_ACCESS_DENIED);
        if (drive.fail.lock != 0) return Fail(drive.fail.lock);
        // The running system's disk is refused whole, at its first volume, by the rule that
        // marks it in the lists.
        for (size_t m = 0; m < drive.mounts.size(); ++m) {
          if (state.mounted[m] && IsSystemMountPoint(drive.mounts[m].mountPoint)) {
            return Refuse(open.drive, RefusalKind::RunningSystem, drive.mounts[m].mountPoint);
          }
        }
        if (drive.mounts[open.mount].busy) {
          return Refuse(open.drive, RefusalKind::Busy, drive.mounts[open.mount].mountPoint);
        }
        if (state.mounted[open.mount]) {
          state.mounted[open.mount] = false;  // on Linux the lock is the unmount
          if (TakeoverState* takeover = ActiveFor(open.drive)) {
            takeover->unmounted.push_back(open.mount);
          }
        }
        return Succeed();
      case ioctl::FSCTL_DISMOUNT_VOLUME:
      case ioctl::FSCTL_ALLOW_EXTENDED_DASD_IO:
        return Succeed();
      default:
        return Fail(win::ERROR_INVALID_FUNCTION);
    }
  }

  template <class T>
  bool Answer(const Reply& reply, const T& value) {
    return AnswerBytes(reply, &value, sizeof(T), sizeof(T));
  }

  // Copies up to the capacity; fails when fewer than `minimum` bytes would fit.
  bool AnswerBytes(const Reply& reply, const void* bytes, size_t size, size_t minimum) {
    if (reply.capacity < minimum) return Fail(win::ERROR_INSUFFICIENT_BUFFER);
    const size_t n = std::min<size_t>(size, reply.capacity);
    if (n > 0) std::memcpy(reply.out, bytes, n);
    if (reply.returned != nullptr) *reply.returned = static_cast<uint32_t>(n);
    return Succeed();
  }

  bool Succeed() {
    m_lastError = win::ERROR_SUCCESS;
    return true;
  }

  bool Fail(uint32_t code) {
    m_lastError = code;
    return false;
  }

  bool FailErrno(int error, ErrnoSite site) {
    return Fail(linuxio::WindowsErrorFromErrno(error, site));
  }

  int64_t FailCount(uint32_t code) {
    Fail(code);
    return -1;
  }

  Handle FailOpen(uint32_t code) {
    Fail(code);
    return kInvalidHandle;
  }

  Handle FailOpenErrno(int error) {
    FailErrno(error, ErrnoSite::Open);
    return kInvalidHandle;
  }

  std::vector<ImageDrive> m_drives;
  std::vector<DriveState> m_state;
  std::map<Handle, OpenHandle> m_handles;
  Handle m_next = 1;
  uint32_t m_lastError = 0;
  std::shared_ptr<TakeoverState> m_active;  // the format attempt under way, if any
  std::shared_ptr<Clock> m_clock;            // a sanitize's progress
};

// The caller's object over the backend's state for the drive; gone without an ending, it
// restores.
class ImageTakeover final : public DiskTakeover {
 public:
  ImageTakeover(ImageDeviceIo& io, std::shared_ptr<ImageDeviceIo::TakeoverState> state)
      : m_io(io), m_state(std::move(state)) {}
  ~ImageTakeover() override {
    if (m_state) m_io.EndTakeover(*m_state, true);
  }
  ImageTakeover(const ImageTakeover&) = delete;
  ImageTakeover& operator=(const ImageTakeover&) = delete;

  RefusalCause Plan() override { return m_state ? m_io.PlanTakeover(*m_state) : RefusalCause{}; }
  std::optional<int64_t> ClaimedSize() override {
    return m_state ? m_io.ClaimedSize(*m_state) : std::nullopt;
  }
  RefusalCause Restore() override { return m_state ? m_io.EndTakeover(*m_state, true) : RefusalCause{}; }
  RefusalCause Release() override { return m_state ? m_io.EndTakeover(*m_state, false) : RefusalCause{}; }

 private:
  ImageDeviceIo& m_io;
  std::shared_ptr<ImageDeviceIo::TakeoverState> m_state;  // null: no such drive
};

std::unique_ptr<DiskTakeover> ImageDeviceIo::BeginTakeover(const std::string& drivePath) {
  const std::optional<size_t> drive = FindDrive(drivePath);
  if (!drive) return std::make_unique<ImageTakeover>(*this, nullptr);
  if (m_active) EndTakeover(*m_active, true);
  m_active = std::make_shared<TakeoverState>();
  m_active->drive = *drive;
  return std::make_unique<ImageTakeover>(*this, m_active);
}

}  // namespace

std::unique_ptr<DeviceIo> CreateImageDeviceIo(const std::string& folder, std::string* errors,
                                              std::shared_ptr<Clock> clock) {
  std::vector<std::string> problems;
  std::vector<ImageDrive> drives = image::ScanImageFolder(folder, problems);
  if (!clock) clock = std::make_shared<SteadyClock>();
  auto io = std::make_unique<ImageDeviceIo>(std::move(drives), std::move(clock));
  for (const std::string& line : io->StateProblems()) problems.push_back(TerminalSafe(line));
  if (errors != nullptr) {
    errors->clear();
    for (const std::string& line : problems) *errors += line + "\n";
  }
  return io;
}

}  // namespace fw
