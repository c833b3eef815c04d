// The DeviceIo contract over Linux block devices: sysfs for discovery and descriptors, block
// ioctls for geometry and length, SG_IO ATA PASS-THROUGH for IDENTIFY, SMART and the drive
// commands, NVMe admin commands, umount and O_EXCL for volume preparation.
#include <fcntl.h>
#include <linux/hdreg.h>
#include <scsi/sg.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <thread>
#include <utility>

#include "core/logs.hpp"
#include "device/backends.hpp"
#include "device/control_codes.hpp"
#include "device/linux/block_devices.hpp"
#include "device/linux/descriptors.hpp"
#include "device/linux/disk_contents_linux.hpp"
#include "device/linux/errno_map.hpp"
#include "device/linux/file_location.hpp"
#include "device/linux/linux_takeover.hpp"
#include "device/linux/nvme_admin.hpp"
#include "device/linux/sat_cdb.hpp"
#include "device/linux/sys_tree.hpp"
#include "device/linux/uring_queue.hpp"
#include "device/linux/volume_plan.hpp"
#include "device/win_layouts.hpp"

namespace fw {
namespace linuxio {
namespace {

constexpr uint32_t kSectorBytes = 512;

struct OpenDevice {
  int fd = -1;
  OpenMode mode = OpenMode::Identification;
  std::string node;        // the block-device node opened
  Devno devno;
  std::string mountPoint;  // volume handles: the mount point the volume was opened by
  bool direct = false;     // opened with O_DIRECT: reads bypass the page cache
};

int RetryOnInterrupt(const std::function<int()>& call) {
  int result;
  do {
    result = call();
  } while (result < 0 && errno == EINTR);
  return result;
}

class LinuxDeviceIo final : public DeviceIo {
 public:
  explicit LinuxDeviceIo(const std::string& root) : m_sys(root) {}

  ~LinuxDeviceIo() override {
    for (auto& [handle, device] : m_handles) ::close(device.fd);
  }

  std::string PhysicalDrivePath(int n) override {
    const std::vector<std::string>& drives = Drives();
    if (n < 0 || static_cast<size_t>(n) >= drives.size()) return {};
    return "/dev/" + drives[static_cast<size_t>(n)];
  }

  std::vector<std::string> LogicalDrives() override {
    std::vector<std::string> points;
    for (const MountNode& mount : Mounts()) {
      if (!BlockDeviceOfMount(m_sys, mount)) continue;
      if (std::find(points.begin(), points.end(), mount.target) == points.end()) {
        points.push_back(mount.target);
      }
    }
    return points;
  }

  Handle Open(const std::string& path, OpenMode mode) override {
    OpenDevice device;
    device.mode = mode;
    device.node = path;
    int fd = -1;
    switch (mode) {
      case OpenMode::Identification:
        fd = RetryOnInterrupt([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); });
        break;
      case OpenMode::Working:
        fd = RetryOnInterrupt(
            [&] { return ::open(path.c_str(), O_RDWR | O_DIRECT | O_CLOEXEC); });
        device.direct = fd >= 0;
        if (fd < 0 && errno == EINVAL) {
          fd = RetryOnInterrupt([&] { return ::open(path.c_str(), O_RDWR | O_CLOEXEC); });
        }
        break;
      case OpenMode::VolumeLock:
      case OpenMode::VolumeQuery: {
        // The volume is named by its mount point; what is opened is the node of the device
        // mounted there (the last mount on that point is the one visible).
        std::optional<Devno> devno;
        for (const MountNode& mount : Mounts()) {
          if (mount.target != path) continue;
          if (std::optional<Devno> d = BlockDeviceOfMount(m_sys, mount)) devno = d;
        }
        // A volume of the disk being taken may be gone already: the whole disk's mounts come
        // off together, at the first volume's lock.
        const DiskPlan* plan = m_active ? m_active->Planned() : nullptr;
        if (!devno && plan) {
          for (const MountNode& mount : plan->mounts) {
            if (mount.target == path && MountOnDisk(m_sys, mount, plan->devices)) {
              devno = BlockDeviceOfMount(m_sys, mount);
            }
          }
        }
        const std::optional<BlockNode> node = devno ? NodeOfDevno(m_sys, *devno) : std::nullopt;
        if (!node) {
          Fail(win::ERROR_FILE_NOT_FOUND, ENOENT);
          return kInvalidHandle;
        }
        device.mountPoint = path;
        device.node = "/dev/" + node->name;
        fd = RetryOnInterrupt([&] { return ::open(device.node.c_str(), O_RDONLY | O_CLOEXEC); });
        break;
      }
      case OpenMode::Claim:
        return Claim(path);
    }
    if (fd < 0) {
      FailErrno(errno, ErrnoSite::Open);
      return kInvalidHandle;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISBLK(st.st_mode)) {
      ::close(fd);
      Fail(win::ERROR_INVALID_PARAMETER, ENOTBLK);
      return kInvalidHandle;
    }
    device.devno = Devno{major(st.st_rdev), minor(st.st_rdev)};
    if (mode == OpenMode::Working && !LockForWork(fd, path)) {
      const int error = errno;
      ::close(fd);
      // Someone else holds the udev-convention lock: the disk is in use.
      if (error == EWOULDBLOCK) {
        Fail(win::ERROR_SHARING_VIOLATION, EBUSY);
      } else {
        FailErrno(error, ErrnoSite::Lock);
      }
      return kInvalidHandle;
    }
    device.fd = fd;
    return Keep(std::move(device));
  }

  bool DeviceControl(Handle handle, uint32_t code, const void* in, uint32_t inSize, void* out,
                     uint32_t outCapacity, uint32_t* returned) override {
    uint32_t count = 0;
    if (returned != nullptr) *returned = 0;
    auto it = m_handles.find(handle);
    if (it == m_handles.end()) return Fail(win::ERROR_INVALID_HANDLE, EBADF);
    OpenDevice& device = it->second;
    if (out == nullptr) outCapacity = 0;
    if (in == nullptr) inSize = 0;
    const bool ok = Control(device, code, in, inSize, out, outCapacity, count);
    if (returned != nullptr) *returned = count;
    return ok;
  }

  int64_t SeekDevice(Handle handle, int64_t offset) override {
    auto it = m_handles.find(handle);
    if (it == m_handles.end()) {
      Fail(win::ERROR_INVALID_HANDLE, EBADF);
      return -1;
    }
    const off_t position = ::lseek(it->second.fd, static_cast<off_t>(offset), SEEK_SET);
    if (position < 0) {
      FailErrno(errno, ErrnoSite::Other);
      return -1;
    }
    return position;
  }

  int64_t Write(Handle handle, const void* buffer, int64_t count) override {
    auto it = m_handles.find(handle);
    if (it == m_handles.end()) {
      Fail(win::ERROR_INVALID_HANDLE, EBADF);
      return -1;
    }
    const OpenDevice& device = it->second;
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    int64_t done = 0;
    while (done < count) {
      const size_t chunk = static_cast<size_t>(std::min<int64_t>(count - done, SSIZE_MAX));
      const ssize_t n = ::write(device.fd, bytes + done, chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        FailTransfer(device, n < 0 ? errno : ENOSPC, ErrnoSite::Write);
        return done > 0 ? done : -1;
      }
      done += n;
    }
    return done;
  }

  int64_t ReadAt(Handle handle, int64_t offset, void* buffer, int64_t count) override {
    auto it = m_handles.find(handle);
    if (it == m_handles.end() || buffer == nullptr || offset < 0 || count < 0) {
      Fail(win::ERROR_INVALID_HANDLE, EBADF);
      return -1;
    }
    const OpenDevice& device = it->second;
    // Without O_DIRECT the page cache would hand back what was just written, not what the
    // disk holds: the range is dropped from the cache first (written back by the flush before).
    if (!device.direct) ::posix_fadvise(device.fd, offset, count, POSIX_FADV_DONTNEED);
    auto* bytes = static_cast<uint8_t*>(buffer);
    int64_t done = 0;
    while (done < count) {
      const size_t chunk = static_cast<size_t>(std::min<int64_t>(count - done, SSIZE_MAX));
      const ssize_t n = ::pread(device.fd, bytes + done, chunk, offset + done);
      if (n < 0 && errno == EINTR) continue;
      if (n == 0) break;  // the end of the disk
      if (n < 0) {
        FailTransfer(device, errno, ErrnoSite::Other);
        return -1;
      }
      done += n;
    }
    return done;
  }

  std::unique_ptr<IoQueue> OpenQueue(Handle handle, int depth) override {
    const auto it = m_handles.find(handle);
    // A buffered handle reads through ReadAt, which first drops the range from the page cache.
    if (it == m_handles.end() || !it->second.direct || depth <= 1) {
      return MakeSyncIoQueue(*this, handle);
    }
    const OpenDevice device = it->second;
    int refusal = 0;
    std::unique_ptr<IoQueue> queue = MakeUringQueue(
        device.fd, depth,
        [this, device](int error, TransferKind kind) {
          return TransferErrorCode(device, error,
                                   kind == TransferKind::Write ? ErrnoSite::Write : ErrnoSite::Other);
        },
        &refusal);
    if (queue) return queue;
    AddDebugLine("io_uring is refused here (" + ErrnoText(refusal) +
                 "): the disk is written and read one block at a time");
    return MakeSyncIoQueue(*this, handle);
  }

  bool Flush(Handle handle) override {
    auto it = m_handles.find(handle);
    if (it == m_handles.end()) return Fail(win::ERROR_INVALID_HANDLE, EBADF);
    // Direct writes skip the page cache but not the drive's volatile write cache: fsync on a
    // block device writes back what is cached and then has the device flush its cache.
    if (RetryOnInterrupt([&] { return ::fsync(it->second.fd); }) != 0) {
      const int error = errno;
      if (error == EIO && DeviceGone(it->second)) return Fail(win::ERROR_DEV_NOT_EXIST, ENODEV);
      return FailErrno(error, ErrnoSite::Write);
    }
    return true;
  }

  void Close(Handle handle) override {
    auto it = m_handles.find(handle);
    if (it == m_handles.end()) return;
    ::close(it->second.fd);
    m_handles.erase(it);
    const bool attemptOver = std::none_of(m_handles.begin(), m_handles.end(), [](const auto& h) {
      return h.second.mode == OpenMode::VolumeLock || h.second.mode == OpenMode::Claim;
    });
    // Volume locks and claims made without a takeover of the caller's (single steps) end the
    // implicit one with their last handle, as a format attempt's would.
    if (attemptOver && m_active && m_implicit) {
      if (m_active->Claimed()) {
        m_active->Release();
      } else {
        m_active->Restore();
      }
      m_active.reset();
    }
  }

  std::unique_ptr<DiskTakeover> BeginTakeover(const std::string& drivePath) override;

  // A caller's takeover has ended (its object is gone).
  void EndTakeover(const LinuxTakeover* takeover) {
    if (m_active.get() == takeover) m_active.reset();
  }

  uint32_t LastError() const override { return m_lastError; }

  DiskContents DescribeDisk(const std::string& drivePath) override {
    return ReadLinuxDiskContents(m_sys, BaseName(drivePath), Mounts());
  }

  std::string WholeDiskOfPartition(const std::string& path) override {
    return WholeDiskOfPartitionNode(m_sys, path);
  }

  bool PathLiesOnDisk(const std::string& drivePath, const std::string& path) override {
    const std::optional<Devno> devno = DeviceOfFileOnSystem(path);
    return devno && DevnoLiesOnDisk(m_sys, *devno, BaseName(drivePath), DeviceOfFileOnSystem);
  }

  std::string ErrorText(uint32_t code) const override {
    const int error =
        code == m_lastError && m_lastErrno != 0 ? m_lastErrno : ErrnoForWindowsError(code);
    if (error < 0) return "Unknown error " + std::to_string(code);
    return ErrnoText(error);
  }

  AtaReply SendAtaCommand(Handle handle, const AtaCommand& command,
                          std::span<uint8_t> data) override {
    auto it = m_handles.find(handle);
    if (it == m_handles.end()) return Refuse<AtaReply>(win::ERROR_INVALID_HANDLE, EBADF);
    const OpenDevice& device = it->second;
    if (!MayCarry(device, AtaCommandOnlyReads(command))) {
      return Refuse<AtaReply>(win::ERROR_ACCESS_DENIED, EACCES);
    }
    const bool withData = command.protocol != AtaProtocol::NonData;
    if (withData && data.size() < kSectorBytes) {
      return Refuse<AtaReply>(win::ERROR_INVALID_PARAMETER, EINVAL);
    }
    const AtaCall call = SendAta(device, command, withData ? data.data() : nullptr);
    if (!call.ioctlOk) {
      AtaReply reply;
      reply.outcome = CommandOutcomeFromErrno(call.error);
      if (reply.outcome == CommandOutcome::Success) reply.outcome = CommandOutcome::TransportError;
      reply.code = CommandErrorFromErrno(call.error);
      return Failed(device, reply, call.error);
    }
    const AtaReply reply = AtaReplyFromResult(call.result, command.extended);
    if (reply.outcome == CommandOutcome::Success) return reply;
    // The drive's own refusal keeps code 0 in the reply (it answered); the last error still
    // names it for the log.
    if (reply.outcome == CommandOutcome::DeviceError) {
      Fail(win::ERROR_IO_DEVICE, EIO);
      return reply;
    }
    return Failed(device, reply, ErrnoForWindowsError(reply.code));
  }

  NvmeReply SendNvmeAdminCommand(Handle handle, const NvmeAdminCommand& command,
                                 std::span<uint8_t> data) override {
    auto it = m_handles.find(handle);
    if (it == m_handles.end()) return Refuse<NvmeReply>(win::ERROR_INVALID_HANDLE, EBADF);
    const OpenDevice& device = it->second;
    if (!MayCarry(device, NvmeAdminOnlyReads(command))) {
      return Refuse<NvmeReply>(win::ERROR_ACCESS_DENIED, EACCES);
    }
    const bool noDirection = command.direction == NvmeDataDirection::None;
    if ((noDirection && command.dataLength != 0) || data.size() < command.dataLength) {
      return Refuse<NvmeReply>(win::ERROR_INVALID_PARAMETER, EINVAL);
    }
    if (ReadDiskFacts(m_sys, NodeOf(device).disk).busType != win::BusTypeNvme) {
      return Refuse<NvmeReply>(win::ERROR_INVALID_FUNCTION, EOPNOTSUPP);
    }
    const NvmeReply reply = IssueNvmeAdmin(device.fd, command, data.data());
    if (reply.outcome == CommandOutcome::Success) return reply;
    if (reply.outcome == CommandOutcome::DeviceError) {
      Fail(win::ERROR_IO_DEVICE, EIO);
      return reply;
    }
    return Failed(device, reply, ErrnoForWindowsError(reply.code));
  }

  std::optional<int64_t> RereadCapacity(Handle handle) override {
    auto it = m_handles.find(handle);
    if (it == m_handles.end()) {
      Fail(win::ERROR_INVALID_HANDLE, EBADF);
      return std::nullopt;
    }
    const OpenDevice& device = it->second;
    // A SCSI disk (libata's among them) reads its capacity again when told to; NVMe, loop
    // and virtio disks have the kernel follow a change of size on its own.
    const std::string rescan = "/sys/block/" + NodeOf(device).disk + "/device/rescan";
    if (m_sys.Exists(rescan) && !m_sys.Write(rescan, "1")) {
      FailErrno(errno, ErrnoSite::Other);
      return std::nullopt;
    }
    uint64_t length = 0;
    if (::ioctl(device.fd, BLKGETSIZE64, &length) != 0) {
      FailErrno(errno, ErrnoSite::Other);
      return std::nullopt;
    }
    return static_cast<int64_t>(length);
  }

 private:
  Handle Keep(OpenDevice device) {
    const Handle handle = m_nextHandle++;
    m_handles.emplace(handle, std::move(device));
    m_lastError = win::ERROR_SUCCESS;
    m_lastErrno = 0;
    return handle;
  }

  // The whole disk for the run, once its volumes are down; O_EXCL fails while anything else
  // claims the disk or a partition (a mount in another namespace, a RAID or LVM member).
  Handle Claim(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) {
      Fail(win::ERROR_FILE_NOT_FOUND, ENOENT);
      return kInvalidHandle;
    }
    const std::optional<BlockNode> node =
        NodeOfDevno(m_sys, Devno{major(st.st_rdev), minor(st.st_rdev)});
    LinuxTakeover* takeover = node ? Takeover(node->disk) : nullptr;
    const int fd = takeover ? takeover->Claim(path) : -1;
    if (fd < 0) {
      const int error = takeover ? errno : EBUSY;
      if (error == EBUSY) {
        Fail(win::ERROR_SHARING_VIOLATION, EBUSY);
      } else {
        FailErrno(error, ErrnoSite::Open);
      }
      return kInvalidHandle;
    }
    OpenDevice device;
    device.mode = OpenMode::Claim;
    device.node = path;
    device.devno = Devno{major(st.st_rdev), minor(st.st_rdev)};
    device.fd = fd;
    return Keep(std::move(device));
  }

  // The takeover of `disk` under way: the caller's, or one begun here for single steps.
  LinuxTakeover* Takeover(const std::string& disk) {
    // Single steps are each a try of their own: one refused is put back and forgotten.
    if (m_active && m_implicit && m_active->Refusing()) {
      m_active->Restore();
      m_active.reset();
    }
    if (m_active && m_active->Disk() == disk && !m_active->Ended()) return m_active.get();
    if (m_active && !m_implicit) return nullptr;  // the caller is taking another disk
    m_active = std::make_shared<LinuxTakeover>(m_sys, disk);
    m_implicit = true;
    return m_active.get();
  }

  // The udev convention for exclusive use of a disk. udev takes a shared lock for its probe
  // after every close of a writable handle (a moment's hold, which a command right after another
  // meets): a shared lock is waited out, three seconds at most, before the disk counts as in use.
  bool LockForWork(int fd, const std::string& path) {
    constexpr int kTries = 60;
    constexpr auto kPause = std::chrono::milliseconds(50);
    for (int attempt = 0;; ++attempt) {
      if (RetryOnInterrupt([&] { return ::flock(fd, LOCK_EX | LOCK_NB); }) == 0) {
        if (attempt > 0) {
          AddDebugLine("Waited " + std::to_string(attempt * kPause.count()) + " ms for the lock on " +
                       path + " (held by another program, udev's probe as a rule)");
        }
        return true;
      }
      if (errno != EWOULDBLOCK || attempt + 1 == kTries) return false;
      // Only shared locks are waited for: an exclusive one is another program's use of the
      // disk, which does not end in a moment.
      if (RetryOnInterrupt([&] { return ::flock(fd, LOCK_SH | LOCK_NB); }) != 0) return false;
      ::flock(fd, LOCK_UN);
      if (attempt == 0) AddDebugLine("The lock on " + path + " is shared by another program: waiting for it");
      std::this_thread::sleep_for(kPause);
    }
  }

  bool Fail(uint32_t code, int textErrno) {
    m_lastError = code;
    m_lastErrno = textErrno;
    return false;
  }

  bool FailErrno(int error, ErrnoSite site) { return Fail(WindowsErrorFromErrno(error, site), error); }

  // An unplugged disk answers direct I/O with EIO; the caller must see that it is gone.
  uint32_t TransferErrorCode(const OpenDevice& device, int error, ErrnoSite site) const {
    if (error == EIO && DeviceGone(device)) return win::ERROR_DEV_NOT_EXIST;
    return WindowsErrorFromErrno(error, site);
  }
  bool FailTransfer(const OpenDevice& device, int error, ErrnoSite site) {
    const uint32_t code = TransferErrorCode(device, error, site);
    return Fail(code, error == EIO && code == win::ERROR_DEV_NOT_EXIST ? ENODEV : error);
  }

  const std::vector<std::string>& Drives() {
    if (!m_drives) m_drives = ListWholeDisks(m_sys);
    return *m_drives;
  }

  std::vector<MountNode> Mounts() const { return ReadMountTable(m_sys.Root() + "/proc/self/mountinfo"); }

  std::vector<std::string> MountPointsOf(Devno devno) const {
    std::vector<std::string> points;
    for (const MountNode& mount : Mounts()) {
      if (BlockDeviceOfMount(m_sys, mount) == devno) points.push_back(mount.target);
    }
    return points;
  }

  // The whole disk a handle's device lies on, and its partition number.
  BlockNode NodeOf(const OpenDevice& device) const {
    if (std::optional<BlockNode> node = NodeOfDevno(m_sys, device.devno)) return *node;
    BlockNode node;
    node.name = node.disk = BaseName(device.node);
    return node;
  }

  // The node no longer stands for a live disk: its sysfs entry vanished, or it no longer opens.
  bool DeviceGone(const OpenDevice& device) const {
    if (!m_sys.Exists("/sys/dev/block/" + std::to_string(device.devno.major) + ":" +
                      std::to_string(device.devno.minor))) {
      return true;
    }
    const int fd = ::open(device.node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
      ::close(fd);
      return false;
    }
    return errno == ENXIO || errno == ENOENT || errno == ENODEV;
  }

  bool Control(OpenDevice& device, uint32_t code, const void* in, uint32_t inSize, void* out,
               uint32_t outCapacity, uint32_t& count) {
    switch (code) {
      case ioctl::IOCTL_DISK_GET_DRIVE_GEOMETRY: return Geometry(device, out, outCapacity, count);
      case ioctl::IOCTL_DISK_GET_LENGTH_INFO: {
        if (outCapacity < sizeof(win::GET_LENGTH_INFORMATION)) {
          return Fail(win::ERROR_INSUFFICIENT_BUFFER, ENOBUFS);
        }
        uint64_t length = 0;
        if (::ioctl(device.fd, BLKGETSIZE64, &length) != 0) return FailErrno(errno, ErrnoSite::Other);
        win::GET_LENGTH_INFORMATION info{static_cast<int64_t>(length)};
        count = static_cast<uint32_t>(win::StoreLayout(info, out, outCapacity));
        return true;
      }
      case ioctl::IOCTL_STORAGE_QUERY_PROPERTY:
        return QueryProperty(device, in, inSize, out, outCapacity, count);
      case ioctl::SMART_GET_VERSION: {
        if (outCapacity < sizeof(win::GETVERSIONINPARAMS)) {
          return Fail(win::ERROR_INSUFFICIENT_BUFFER, ENOBUFS);
        }
        if (!TakesAtaPassThrough(device)) return Fail(win::ERROR_INVALID_FUNCTION, EOPNOTSUPP);
        const DiskFacts facts = ReadDiskFacts(m_sys, NodeOf(device).disk);
        count = static_cast<uint32_t>(
            win::StoreLayout(BuildSmartVersion(facts.ataSlave), out, outCapacity));
        return true;
      }
      case ioctl::SMART_SEND_DRIVE_COMMAND:
      case ioctl::SMART_RCV_DRIVE_DATA: return SmartCommand(device, in, inSize, out, outCapacity, count);
      case ioctl::IOCTL_STORAGE_GET_DEVICE_NUMBER: {
        if (outCapacity < sizeof(win::STORAGE_DEVICE_NUMBER)) {
          return Fail(win::ERROR_INSUFFICIENT_BUFFER, ENOBUFS);
        }
        const BlockNode node = NodeOf(device);
        const std::vector<std::string>& drives = Drives();
        const auto at = std::find(drives.begin(), drives.end(), node.disk);
        // A device that is not one of the drives (a device-mapper volume, say) has no number
        // that could be mistaken for a drive's.
        if (at == drives.end()) return Fail(win::ERROR_INVALID_FUNCTION, ENODEV);
        win::STORAGE_DEVICE_NUMBER number{win::FILE_DEVICE_DISK,
                                          static_cast<uint32_t>(at - drives.begin()),
                                          node.partition};
        count = static_cast<uint32_t>(win::StoreLayout(number, out, outCapacity));
        return true;
      }
      case ioctl::FSCTL_LOCK_VOLUME: return LockVolume(device);
      case ioctl::FSCTL_DISMOUNT_VOLUME: {
        if (device.mountPoint.empty()) return Fail(win::ERROR_INVALID_FUNCTION, EOPNOTSUPP);
        // Mounted again since the lock (by someone else, in between): not ours to take now.
        const std::vector<std::string> points = MountPointsOf(device.devno);
        if (points.empty()) return true;
        if (m_active) m_active->Refused(RefusalCause{RefusalKind::Busy, points.front(), 0, "", {}});
        return Fail(win::ERROR_SHARING_VIOLATION, EBUSY);
      }
      case ioctl::FSCTL_ALLOW_EXTENDED_DASD_IO: return true;
      case ioctl::IOCTL_DISK_UPDATE_PROPERTIES:
        if (::ioctl(device.fd, BLKRRPART) != 0) return FailErrno(errno, ErrnoSite::Other);
        return true;
      default:
        // IOCTL_SCSI_MINIPORT and IOCTL_SCSI_GET_INQUIRY_DATA among them: Linux has no such
        // driver interface, the callers take their other paths.
        return Fail(win::ERROR_INVALID_FUNCTION, EOPNOTSUPP);
    }
  }

  bool Geometry(const OpenDevice& device, void* out, uint32_t outCapacity, uint32_t& count) {
    if (outCapacity < sizeof(win::DISK_GEOMETRY)) return Fail(win::ERROR_INSUFFICIENT_BUFFER, ENOBUFS);
    int sectorSize = 0;
    if (::ioctl(device.fd, BLKSSZGET, &sectorSize) != 0) return FailErrno(errno, ErrnoSite::Other);
    uint64_t length = 0;
    if (::ioctl(device.fd, BLKGETSIZE64, &length) != 0) return FailErrno(errno, ErrnoSite::Other);
    struct hd_geometry geo {};
    uint32_t heads = 0;
    uint32_t sectors = 0;
    // Drivers without a geometry (loop, virtio, nvme) answer ENOTTY: 255/63 then.
    if (::ioctl(device.fd, HDIO_GETGEO, &geo) == 0) {
      heads = geo.heads;
      sectors = geo.sectors;
    }
    const DiskFacts facts = ReadDiskFacts(m_sys, NodeOf(device).disk);
    const win::DISK_GEOMETRY g =
        BuildGeometry(length, static_cast<uint32_t>(sectorSize), heads, sectors, facts.removable);
    count = static_cast<uint32_t>(win::StoreLayout(g, out, outCapacity));
    return true;
  }

  bool QueryProperty(const OpenDevice& device, const void* in, uint32_t inSize, void* out,
                     uint32_t outCapacity, uint32_t& count) {
    if (inSize < 8) return Fail(win::ERROR_INVALID_PARAMETER, EINVAL);
    const auto query = win::LoadLayout<win::STORAGE_PROPERTY_QUERY>(in, inSize);
    if (query.QueryType != win::PropertyStandardQuery) return Fail(win::ERROR_INVALID_FUNCTION, EOPNOTSUPP);
    if (IsProtocolSpecificProperty(query.PropertyId)) {
      // Only the three NVMe queries, and only to an NVMe disk: nothing else is sent to one.
      const std::optional<NvmeRequest> request = ParseNvmeQuery(in, inSize);
      if (!request || ReadDiskFacts(m_sys, NodeOf(device).disk).busType != win::BusTypeNvme) {
        return Fail(win::ERROR_INVALID_FUNCTION, EOPNOTSUPP);
      }
      const int error = SendNvmeAdmin(device.fd, *request, out, outCapacity, count);
      if (error == ENOBUFS) return Fail(win::ERROR_INSUFFICIENT_BUFFER, error);
      return error == 0 || FailErrno(error, ErrnoSite::Other);
    }
    if (query.PropertyId != win::StorageDeviceProperty &&
        query.PropertyId != win::StorageAdapterProperty) {
      return Fail(win::ERROR_INVALID_FUNCTION, EOPNOTSUPP);
    }
    // Windows answers a buffer of at least the common 8-byte header, cutting the rest.
    if (outCapacity < 8) return Fail(win::ERROR_INSUFFICIENT_BUFFER, ENOBUFS);
    const DiskFacts facts = ReadDiskFacts(m_sys, NodeOf(device).disk);
    if (query.PropertyId == win::StorageAdapterProperty) {
      const win::STORAGE_ADAPTER_DESCRIPTOR adapter = BuildAdapterDescriptor(
          facts.busType, facts.maxTransferBytes, facts.maxSegments, facts.dmaAlignment);
      count = static_cast<uint32_t>(win::StoreLayout(adapter, out, outCapacity));
      return true;
    }
    const std::vector<uint8_t> descriptor =
        BuildDeviceDescriptor(facts.strings, facts.removable, facts.busType);
    count = static_cast<uint32_t>(std::min<size_t>(descriptor.size(), outCapacity));
    std::memcpy(out, descriptor.data(), count);
    return true;
  }

  struct AtaCall {
    bool ioctlOk = false;
    int error = 0;  // errno of a failed ioctl
    AtaResult result;
  };

  // The one SG_IO of the backend: `data` is the one 512-byte block of a PIO command.
  AtaCall SendAta(const OpenDevice& device, const AtaCommand& command, uint8_t* data) const {
    AtaCall call;
    // An NVMe disk is sent NVMe admin commands and nothing else, no ATA command either.
    if (ReadDiskFacts(m_sys, NodeOf(device).disk).busType == win::BusTypeNvme) {
      call.error = EOPNOTSUPP;
      return call;
    }
    std::array<uint8_t, 16> cdb = BuildAtaPassThrough16(command);
    std::array<uint8_t, 32> sense{};
    sg_io_hdr_t hdr{};
    hdr.interface_id = 'S';
    hdr.cmd_len = static_cast<unsigned char>(cdb.size());
    hdr.cmdp = cdb.data();
    hdr.mx_sb_len = static_cast<unsigned char>(sense.size());
    hdr.sbp = sense.data();
    hdr.timeout = SgIoTimeoutMs(command.timeoutSeconds);
    switch (command.protocol) {
      case AtaProtocol::PioDataIn: hdr.dxfer_direction = SG_DXFER_FROM_DEV; break;
      case AtaProtocol::PioDataOut: hdr.dxfer_direction = SG_DXFER_TO_DEV; break;
      case AtaProtocol::NonData: hdr.dxfer_direction = SG_DXFER_NONE; break;
    }
    if (command.protocol != AtaProtocol::NonData) {
      hdr.dxfer_len = kSectorBytes;
      hdr.dxferp = data;
    }
    // Never repeated after an interruption: the command may have reached the drive.
    if (::ioctl(device.fd, SG_IO, &hdr) != 0) {
      call.error = errno;
      return call;
    }
    call.ioctlOk = true;
    SgIoReply reply;
    reply.status = hdr.status;
    reply.hostStatus = hdr.host_status;
    reply.driverStatus = hdr.driver_status;
    reply.sense = sense.data();
    reply.senseLength = std::min<size_t>(hdr.sb_len_wr, sense.size());
    call.result = EvaluateAtaReply(reply);
    return call;
  }

  AtaCall SendAta(const OpenDevice& device, const win::IDEREGS& regs, AtaDataPhase phase,
                  uint8_t* data) const {
    return SendAta(device, AtaCommandFromRegisters(regs, phase), data);
  }

  // Only the working handle of the chosen disk carries what may change the drive; the other
  // handles, the reads.
  static bool MayCarry(const OpenDevice& device, bool onlyReads) {
    return onlyReads || device.mode == OpenMode::Working;
  }

  template <typename Reply>
  Reply Refuse(uint32_t code, int textErrno) {
    Fail(code, textErrno);
    Reply reply;
    reply.outcome = CommandOutcome::NotSupported;
    reply.code = code;
    return reply;
  }

  // A drive command that failed: the last error for ErrorText, an unplugged disk told apart
  // from a transport error.
  template <typename Reply>
  Reply Failed(const OpenDevice& device, Reply reply, int error) {
    if (reply.outcome == CommandOutcome::TransportError && error == EIO && DeviceGone(device)) {
      reply.outcome = CommandOutcome::NoDevice;
      reply.code = win::ERROR_DEV_NOT_EXIST;
      error = ENODEV;
    }
    if (reply.code == 0) reply.code = WindowsErrorOfOutcome(reply.outcome);
    Fail(reply.code, error);
    return reply;
  }

  // Whether ATA commands reach the drive: one IDENTIFY DEVICE, asked once per device.
  bool TakesAtaPassThrough(const OpenDevice& device) {
    const uint64_t key = (uint64_t{device.devno.major} << 32) | device.devno.minor;
    auto cached = m_ataCapable.find(key);
    if (cached != m_ataCapable.end()) return cached->second;
    win::IDEREGS identify{};
    identify.bSectorCountReg = 1;
    identify.bSectorNumberReg = 1;
    identify.bDriveHeadReg = 0xA0;
    identify.bCommandReg = win::ID_CMD;
    std::array<uint8_t, kSectorBytes> data{};
    const AtaCall call = SendAta(device, identify, AtaDataPhase::PioIn, data.data());
    const bool capable = call.ioctlOk && call.result.outcome == AtaOutcome::Success;
    m_ataCapable[key] = capable;
    return capable;
  }

  bool SmartCommand(const OpenDevice& device, const void* in, uint32_t inSize, void* out,
                    uint32_t outCapacity, uint32_t& count) {
    // The command block without its data byte is 32 bytes.
    if (inSize < sizeof(win::SENDCMDINPARAMS) - 1) return Fail(win::ERROR_INVALID_PARAMETER, EINVAL);
    const auto params = win::LoadLayout<win::SENDCMDINPARAMS>(in, inSize);
    const std::optional<AtaDataPhase> phase = AtaCommandPhase(params.irDriveRegs);
    if (!phase) return Fail(win::ERROR_INVALID_FUNCTION, EOPNOTSUPP);
    const bool returnsStatus = params.irDriveRegs.bCommandReg == win::SMART_CMD &&
                               params.irDriveRegs.bFeaturesReg == win::RETURN_SMART_STATUS;
    const uint32_t dataBytes =
        *phase == AtaDataPhase::PioIn ? kSectorBytes : (returnsStatus ? sizeof(win::IDEREGS) : 0);
    if (outCapacity < win::kSendCmdOutHeader + dataBytes) {
      return Fail(win::ERROR_INSUFFICIENT_BUFFER, ENOBUFS);
    }
    std::array<uint8_t, kSectorBytes> data{};
    const AtaCall call = SendAta(device, params.irDriveRegs, *phase, data.data());
    if (!call.ioctlOk) return FailErrno(call.error, ErrnoSite::Other);

    auto* reply = static_cast<uint8_t*>(out);
    std::memset(reply, 0, win::kSendCmdOutHeader + dataBytes);
    win::DRIVERSTATUS status{};
    const AtaResult& r = call.result;
    switch (r.outcome) {
      case AtaOutcome::Success: break;
      case AtaOutcome::DeviceError:
        status.bDriverError = win::SMART_IDE_ERROR;
        status.bIDEError = r.error;
        win::StoreLayout(status, reply, outCapacity, offsetof(win::SENDCMDOUTPARAMS, DriverStatus));
        count = win::kSendCmdOutHeader;
        return Fail(win::ERROR_IO_DEVICE, EIO);
      case AtaOutcome::NotSupported: return Fail(win::ERROR_INVALID_FUNCTION, EOPNOTSUPP);
      case AtaOutcome::Timeout: return Fail(win::ERROR_SEM_TIMEOUT, ETIMEDOUT);
      case AtaOutcome::NoDevice: return Fail(win::ERROR_DEV_NOT_EXIST, ENODEV);
      case AtaOutcome::TransportError: return Fail(win::ERROR_IO_DEVICE, EIO);
    }
    const uint32_t bufferSize = dataBytes;
    win::StoreLayout(bufferSize, reply, outCapacity);
    win::StoreLayout(status, reply, outCapacity, offsetof(win::SENDCMDOUTPARAMS, DriverStatus));
    if (*phase == AtaDataPhase::PioIn) {
      std::memcpy(reply + win::kSendCmdOutHeader, data.data(), kSectorBytes);
    } else if (returnsStatus) {
      // The registers after the command, as Windows returns them: command holds the status.
      win::IDEREGS after{};
      after.bFeaturesReg = r.error;
      after.bSectorCountReg = r.count;
      after.bSectorNumberReg = r.lbal;
      after.bCylLowReg = r.lbam;
      after.bCylHighReg = r.lbah;
      after.bDriveHeadReg = r.device;
      after.bCommandReg = r.status;
      win::StoreLayout(after, reply, outCapacity, win::kSendCmdOutHeader);
    }
    count = win::kSendCmdOutHeader + dataBytes;
    return true;
  }

  // The first lock of a disk takes all of it: every mount of the disk and its partitions comes
  // off, deepest first, or, when anything stands in the way, none. Later locks of the same
  // disk find their volume down already.
  bool LockVolume(const OpenDevice& device) {
    if (device.mountPoint.empty()) return Fail(win::ERROR_INVALID_FUNCTION, EOPNOTSUPP);
    LinuxTakeover* takeover = Takeover(NodeOf(device).disk);
    if (takeover == nullptr || !takeover->UnmountAll()) {
      return Fail(win::ERROR_SHARING_VIOLATION, EBUSY);
    }
    return true;
  }

  SysTree m_sys;
  std::optional<std::vector<std::string>> m_drives;
  std::map<Handle, OpenDevice> m_handles;
  Handle m_nextHandle = 1;
  std::map<uint64_t, bool> m_ataCapable;
  uint32_t m_lastError = win::ERROR_SUCCESS;
  int m_lastErrno = 0;
  std::shared_ptr<LinuxTakeover> m_active;  // the takeover under way
  bool m_implicit = false;                  // begun here, not by the caller
};

// The caller's object: the backend's steps for the disk serve it while it lives; gone without
// an ending, it restores.
class CallerTakeover final : public DiskTakeover {
 public:
  CallerTakeover(LinuxDeviceIo& io, std::shared_ptr<LinuxTakeover> takeover)
      : m_io(io), m_takeover(std::move(takeover)) {}
  ~CallerTakeover() override {
    m_takeover->Restore();
    m_io.EndTakeover(m_takeover.get());
  }
  CallerTakeover(const CallerTakeover&) = delete;
  CallerTakeover& operator=(const CallerTakeover&) = delete;

  RefusalCause Plan() override { return m_takeover->Plan(); }
  std::optional<int64_t> ClaimedSize() override { return m_takeover->ClaimedSize(); }
  RefusalCause Restore() override { return m_takeover->Restore(); }
  RefusalCause Release() override { return m_takeover->Release(); }

 private:
  LinuxDeviceIo& m_io;
  std::shared_ptr<LinuxTakeover> m_takeover;
};

std::unique_ptr<DiskTakeover> LinuxDeviceIo::BeginTakeover(const std::string& drivePath) {
  std::string disk;
  struct stat st {};
  if (::stat(drivePath.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) {
    if (const std::optional<BlockNode> node =
            NodeOfDevno(m_sys, Devno{major(st.st_rdev), minor(st.st_rdev)})) {
      disk = node->disk;
    }
  }
  // Single steps still under way belong to no attempt: what they took is put back first.
  if (m_active && m_implicit) m_active->Restore();
  m_active = std::make_shared<LinuxTakeover>(m_sys, disk);
  m_implicit = false;
  return std::make_unique<CallerTakeover>(*this, m_active);
}

}  // namespace
}  // namespace linuxio

std::unique_ptr<DeviceIo> CreateLinuxDeviceIo(const std::string& root) {
  return std::make_unique<linuxio::LinuxDeviceIo>(root);
}

}  // namespace fw
