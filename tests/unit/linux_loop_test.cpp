// The Linux backend on loop devices that each test creates over an image in /tmp and removes
// again. Where the machine has no root or no loop device the tests skip, saying why.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <span>
#include <memory>
#include <vector>

#include "core/device_types.hpp"
#include "device/backends.hpp"
#include "device/control_codes.hpp"
#include "device/identify.hpp"
#include "device/nvme_protocol.hpp"
#include "device/win_layouts.hpp"
#include "loop_device.hpp"
#include "temp_folder.hpp"

namespace fw {
namespace {

using test::LoopDevice;

#define REQUIRE_LOOP(loop)                                           \
  do {                                                               \
    const std::string why = LoopDevice::SkipReason();                \
    if (!why.empty()) GTEST_SKIP() << why;                           \
    if (!(loop).Ok()) GTEST_SKIP() << "no loop device: " << (loop).Error(); \
  } while (0)

// The drive number the backend gives a node, or -1.
int DriveNumberOf(DeviceIo& io, const std::string& node) {
  for (int n = 0; n < 256; ++n) {
    if (io.PhysicalDrivePath(n) == node) return n;
  }
  return -1;
}

struct Answer {
  bool ok = false;
  uint32_t error = 0;
  uint32_t returned = 0;
  std::vector<uint8_t> bytes;
};

Answer Control(DeviceIo& io, Handle h, uint32_t code, const void* in = nullptr,
               uint32_t inSize = 0, uint32_t capacity = 512) {
  Answer a;
  a.bytes.assign(capacity, 0);
  a.ok = io.DeviceControl(h, code, in, inSize, a.bytes.data(), capacity, &a.returned);
  if (!a.ok) a.error = io.LastError();
  return a;
}

Answer Property(DeviceIo& io, Handle h, uint32_t id) {
  win::STORAGE_PROPERTY_QUERY q{};
  q.PropertyId = id;
  return Control(io, h, ioctl::IOCTL_STORAGE_QUERY_PROPERTY, &q, sizeof q);
}

// A page-aligned buffer, as O_DIRECT wants it.
struct AlignedBuffer {
  explicit AlignedBuffer(size_t size, uint8_t fill) : size(size) {
    data = static_cast<uint8_t*>(std::aligned_alloc(4096, size));
    std::memset(data, fill, size);
  }
  ~AlignedBuffer() { std::free(data); }
  uint8_t* data;
  size_t size;
};

TEST(LinuxLoop, IsADriveAndIdentifiesWithItsSizeAndBus15) {
  LoopDevice loop({.size = 96ll << 20});
  REQUIRE_LOOP(loop);
  std::unique_ptr<DeviceIo> io = CreateLinuxDeviceIo();
  const int n = DriveNumberOf(*io, loop.Path());
  ASSERT_GE(n, 0) << loop.Path() << " is not in the drive namespace";

  const Handle h = io->Open(loop.Path(), OpenMode::Identification);
  ASSERT_NE(h, kInvalidHandle) << io->ErrorText(io->LastError());

  const Answer adapter = Property(*io, h, win::StorageAdapterProperty);
  ASSERT_TRUE(adapter.ok);
  EXPECT_EQ(adapter.returned, 32u);
  const auto a = win::LoadLayout<win::STORAGE_ADAPTER_DESCRIPTOR>(adapter.bytes.data(), 512);
  EXPECT_EQ(a.BusType, win::BusTypeFileBackedVirtual);
  EXPECT_GT(a.MaximumTransferLength, 0u);

  const Answer device = Property(*io, h, win::StorageDeviceProperty);
  ASSERT_TRUE(device.ok);
  const auto d = win::LoadLayout<win::STORAGE_DEVICE_DESCRIPTOR>(device.bytes.data(), 512);
  EXPECT_EQ(d.Size, device.returned);
  EXPECT_EQ(d.BusType, win::BusTypeFileBackedVirtual);
  EXPECT_EQ(d.RemovableMedia, 0);

  TIdentifyDeviceData data;
  std::string fatal;
  ASSERT_EQ(IdentifyDevice(*io, h, data, &fatal), 0) << fatal;
  EXPECT_EQ(data.LBA, (96ll << 20) / 512);
  EXPECT_EQ(data.SectorSize, 512);
  EXPECT_EQ(data.BusType, 15);
  EXPECT_FALSE(data.RemovableMedia);
  EXPECT_EQ(data.IsIDESlave, 0);

  // Its device number is its drive number, as a whole disk.
  const Answer number = Control(*io, h, ioctl::IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, 1024);
  ASSERT_TRUE(number.ok);
  const auto sdn = win::LoadLayout<win::STORAGE_DEVICE_NUMBER>(number.bytes.data(), 1024);
  EXPECT_EQ(sdn.DeviceType, win::FILE_DEVICE_DISK);
  EXPECT_EQ(sdn.DeviceNumber, static_cast<uint32_t>(n));
  EXPECT_EQ(sdn.PartitionNumber, 0u);
  io->Close(h);
}

TEST(LinuxLoop, GeometryAndLengthFor512And4096ByteSectors) {
  for (int sectorSize : {512, 4096}) {
    SCOPED_TRACE(sectorSize);
    LoopDevice loop({.size = 200ll << 20, .sectorSize = sectorSize});
    REQUIRE_LOOP(loop);
    std::unique_ptr<DeviceIo> io = CreateLinuxDeviceIo();
    const Handle h = io->Open(loop.Path(), OpenMode::Identification);
    ASSERT_NE(h, kInvalidHandle);

    const Answer geometry = Control(*io, h, ioctl::IOCTL_DISK_GET_DRIVE_GEOMETRY);
    ASSERT_TRUE(geometry.ok);
    EXPECT_EQ(geometry.returned, 24u);
    const auto g = win::LoadLayout<win::DISK_GEOMETRY>(geometry.bytes.data(), 512);
    EXPECT_EQ(g.BytesPerSector, static_cast<uint32_t>(sectorSize));
    EXPECT_EQ(g.TracksPerCylinder, 255u);  // loop has no geometry of its own
    EXPECT_EQ(g.SectorsPerTrack, 63u);
    EXPECT_EQ(g.Cylinders, (200ll << 20) / (255ll * 63 * sectorSize));
    EXPECT_EQ(g.MediaType, win::MEDIA_TYPE_FIXED);

    const Answer length = Control(*io, h, ioctl::IOCTL_DISK_GET_LENGTH_INFO);
    ASSERT_TRUE(length.ok);
    EXPECT_EQ(length.returned, 8u);
    EXPECT_EQ(win::LoadLayout<win::GET_LENGTH_INFORMATION>(length.bytes.data(), 512).Length,
              200ll << 20);

    TIdentifyDeviceData data;
    ASSERT_EQ(IdentifyDevice(*io, h, data, nullptr), 0);
    EXPECT_EQ(data.SectorSize, sectorSize);
    EXPECT_EQ(data.LBA, (200ll << 20) / sectorSize);

    // A reply buffer too small for the layout is refused, never overrun.
    EXPECT_EQ(Control(*io, h, ioctl::IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, 23).error,
              win::ERROR_INSUFFICIENT_BUFFER);
    io->Close(h);
  }
}

TEST(LinuxLoop, WorkingOpenIsExclusiveWritesAndSeeks) {
  LoopDevice loop;
  REQUIRE_LOOP(loop);
  std::unique_ptr<DeviceIo> io = CreateLinuxDeviceIo();
  const Handle h = io->Open(loop.Path(), OpenMode::Working);
  ASSERT_NE(h, kInvalidHandle) << io->ErrorText(io->LastError());
  EXPECT_EQ(io->LastError(), win::ERROR_SUCCESS);

  // A second working open, from this backend or another, meets the lock.
  EXPECT_EQ(io->Open(loop.Path(), OpenMode::Working), kInvalidHandle);
  EXPECT_EQ(io->LastError(), win::ERROR_SHARING_VIOLATION);
  EXPECT_EQ(io->ErrorText(win::ERROR_SHARING_VIOLATION), "Device or resource busy");
  std::unique_ptr<DeviceIo> other = CreateLinuxDeviceIo();
  EXPECT_EQ(other->Open(loop.Path(), OpenMode::Working), kInvalidHandle);
  EXPECT_EQ(other->LastError(), win::ERROR_SHARING_VIOLATION);
  // Reading opens are not in the way.
  const Handle reader = other->Open(loop.Path(), OpenMode::Identification);
  EXPECT_NE(reader, kInvalidHandle);
  other->Close(reader);

  AlignedBuffer block(1 << 20, 0xAB);
  EXPECT_EQ(io->SeekDevice(h, 0), 0);
  EXPECT_EQ(io->SeekDevice(h, 1 << 20), 1 << 20);
  EXPECT_EQ(io->Write(h, block.data, block.size), static_cast<int64_t>(block.size));
  EXPECT_TRUE(io->Flush(h));
  // Past the end: refused as a whole, never a partial position.
  EXPECT_EQ(io->SeekDevice(h, (64ll << 20) + 4096), -1);
  EXPECT_EQ(io->LastError(), win::ERROR_INVALID_PARAMETER);
  // At the very end a write has no room.
  EXPECT_EQ(io->SeekDevice(h, 64ll << 20), 64ll << 20);
  EXPECT_EQ(io->Write(h, block.data, 4096), -1);
  EXPECT_EQ(io->LastError(), win::ERROR_DISK_FULL);
  io->Close(h);

  // The bytes reached the image, and only where they were written.
  std::ifstream image(loop.Image(), std::ios::binary);
  std::vector<char> bytes(3 << 20);
  image.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  EXPECT_EQ(bytes[(1 << 20) - 1], 0);
  EXPECT_EQ(static_cast<uint8_t>(bytes[1 << 20]), 0xAB);
  EXPECT_EQ(static_cast<uint8_t>(bytes[(2 << 20) - 1]), 0xAB);
  EXPECT_EQ(bytes[2 << 20], 0);

  // Closed, the lock is free again.
  const Handle again = other->Open(loop.Path(), OpenMode::Working);
  EXPECT_NE(again, kInvalidHandle);
  other->Close(again);
}

TEST(LinuxLoop, WritesToAReadOnlyLoopFailWithWriteProtect) {
  LoopDevice loop({.readOnly = true});
  REQUIRE_LOOP(loop);
  std::unique_ptr<DeviceIo> io = CreateLinuxDeviceIo();
  const Handle h = io->Open(loop.Path(), OpenMode::Working);
  if (h == kInvalidHandle) {
    // Some kernels refuse the read-write open itself; that is the same answer.
    EXPECT_EQ(io->LastError(), win::ERROR_WRITE_PROTECT);
    return;
  }
  AlignedBuffer block(4096, 0);
  ASSERT_EQ(io->SeekDevice(h, 0), 0);
  EXPECT_EQ(io->Write(h, block.data, block.size), -1);
  EXPECT_EQ(io->LastError(), win::ERROR_WRITE_PROTECT);
  EXPECT_FALSE(io->ErrorText(io->LastError()).empty());
  io->Close(h);
}

TEST(LinuxLoop, AtaPassThroughIsRefusedCleanly) {
  LoopDevice loop;
  REQUIRE_LOOP(loop);
  std::unique_ptr<DeviceIo> io = CreateLinuxDeviceIo();
  const Handle h = io->Open(loop.Path(), OpenMode::Working);
  ASSERT_NE(h, kInvalidHandle);

  EXPECT_FALSE(Control(*io, h, ioctl::SMART_GET_VERSION, nullptr, 0, 28).ok);

  win::SENDCMDINPARAMS identify{};
  identify.cBufferSize = 512;
  identify.irDriveRegs = {0, 1, 1, 0, 0, 0xA0, win::ID_CMD, 0};
  const Answer rcv = Control(*io, h, ioctl::SMART_RCV_DRIVE_DATA, &identify, 33, 528);
  EXPECT_FALSE(rcv.ok);
  EXPECT_NE(rcv.error, 0u);

  win::SENDCMDINPARAMS enable{};
  enable.irDriveRegs = {win::ENABLE_SMART, 1, 1, win::SMART_CYL_LOW, win::SMART_CYL_HI, 0xA0,
                        win::SMART_CMD, 0};
  EXPECT_FALSE(Control(*io, h, ioctl::SMART_SEND_DRIVE_COMMAND, &enable, 32, 527).ok);
  EXPECT_EQ(Control(*io, h, ioctl::IOCTL_SCSI_MINIPORT, nullptr, 0, 572).error,
            win::ERROR_INVALID_FUNCTION);
  EXPECT_EQ(Control(*io, h, ioctl::IOCTL_SCSI_GET_INQUIRY_DATA).error,
            win::ERROR_INVALID_FUNCTION);
  // No NVMe admin command goes to a disk that is not NVMe.
  for (const NvmeRequest r : {NvmeRequest::IdentifyController, NvmeRequest::HealthLog}) {
    const auto query = BuildNvmeQuery(r);
    EXPECT_EQ(Control(*io, h, ioctl::IOCTL_STORAGE_QUERY_PROPERTY, query.data(), query.size(),
                      48 + 4096).error,
              win::ERROR_INVALID_FUNCTION);
  }
  // A command outside the four the program sends never reaches a device.
  win::SENDCMDINPARAMS write{};
  write.irDriveRegs = {0, 1, 0, 0, 0, 0xE0, 0x30, 0};
  EXPECT_EQ(Control(*io, h, ioctl::SMART_SEND_DRIVE_COMMAND, &write, 32, 527).error,
            win::ERROR_INVALID_FUNCTION);

  // Identification itself sends no ATA command and still works; the slave query says master.
  EXPECT_EQ(QueryIDESlave(*io, h), 0);
  io->Close(h);
}

TEST(LinuxLoop, MountedExt4IsFoundLockedAndRefusedWhileBusy) {
  LoopDevice loop;
  REQUIRE_LOOP(loop);
  const std::string mountPoint = loop.MountExt4(loop.Path());
  if (mountPoint.empty()) GTEST_SKIP() << loop.Error();
  const std::string bind = loop.BindMount(mountPoint);
  ASSERT_FALSE(bind.empty()) << loop.Error();

  std::unique_ptr<DeviceIo> io = CreateLinuxDeviceIo();
  const int n = DriveNumberOf(*io, loop.Path());
  ASSERT_GE(n, 0);
  const std::vector<std::string> drives = io->LogicalDrives();
  EXPECT_NE(std::find(drives.begin(), drives.end(), mountPoint), drives.end());
  EXPECT_NE(std::find(drives.begin(), drives.end(), bind), drives.end());

  const Handle query = io->Open(mountPoint, OpenMode::VolumeQuery);
  ASSERT_NE(query, kInvalidHandle);
  const Answer number = Control(*io, query, ioctl::IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, 1024);
  ASSERT_TRUE(number.ok);
  const auto sdn = win::LoadLayout<win::STORAGE_DEVICE_NUMBER>(number.bytes.data(), 1024);
  EXPECT_EQ(sdn.DeviceNumber, static_cast<uint32_t>(n));
  EXPECT_EQ(sdn.PartitionNumber, 0u);
  io->Close(query);

  // While the disk is mounted nothing can claim it.
  EXPECT_EQ(io->Open(loop.Path(), OpenMode::Claim), kInvalidHandle);
  EXPECT_EQ(io->LastError(), win::ERROR_SHARING_VIOLATION);

  const Handle volume = io->Open(mountPoint, OpenMode::VolumeLock);
  ASSERT_NE(volume, kInvalidHandle);
  {
    // A file held open keeps the file system busy: the lock fails and nothing is unmounted.
    const std::string file = mountPoint + "/held";
    const int fd = ::open(file.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(io->DeviceControl(volume, ioctl::FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, nullptr));
    EXPECT_EQ(io->LastError(), win::ERROR_SHARING_VIOLATION);
    ::close(fd);
    const std::vector<std::string> still = io->LogicalDrives();
    EXPECT_NE(std::find(still.begin(), still.end(), mountPoint), still.end());
    EXPECT_FALSE(io->DeviceControl(volume, ioctl::FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, nullptr));
  }
  // Freed, the lock unmounts it and its bind mount, and the dismount confirms it.
  EXPECT_TRUE(io->DeviceControl(volume, ioctl::FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, nullptr))
      << io->ErrorText(io->LastError());
  EXPECT_TRUE(io->DeviceControl(volume, ioctl::FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, nullptr));
  EXPECT_TRUE(io->DeviceControl(volume, ioctl::FSCTL_ALLOW_EXTENDED_DASD_IO, nullptr, 0, nullptr, 0, nullptr));
  const std::vector<std::string> after = io->LogicalDrives();
  EXPECT_EQ(std::find(after.begin(), after.end(), mountPoint), after.end());
  EXPECT_EQ(std::find(after.begin(), after.end(), bind), after.end());

  // With the volume handle still kept, the disk can now be claimed.
  const Handle claim = io->Open(loop.Path(), OpenMode::Claim);
  EXPECT_NE(claim, kInvalidHandle) << io->ErrorText(io->LastError());
  io->Close(volume);
  io->Close(claim);
}

TEST(LinuxLoop, VolumeOnAPartitionReportsItsPartitionNumber) {
  LoopDevice loop;
  REQUIRE_LOOP(loop);
  const std::string partition = loop.AddPartition(2, 2048, 60000);
  if (partition.empty()) GTEST_SKIP() << loop.Error();
  const std::string mountPoint = loop.MountExt4(partition);
  if (mountPoint.empty()) GTEST_SKIP() << loop.Error();

  std::unique_ptr<DeviceIo> io = CreateLinuxDeviceIo();
  const int n = DriveNumberOf(*io, loop.Path());
  ASSERT_GE(n, 0);
  const Handle query = io->Open(mountPoint, OpenMode::VolumeQuery);
  ASSERT_NE(query, kInvalidHandle);
  const Answer number = Control(*io, query, ioctl::IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, 1024);
  ASSERT_TRUE(number.ok);
  const auto sdn = win::LoadLayout<win::STORAGE_DEVICE_NUMBER>(number.bytes.data(), 1024);
  EXPECT_EQ(sdn.DeviceNumber, static_cast<uint32_t>(n));
  EXPECT_EQ(sdn.PartitionNumber, 2u);
  io->Close(query);

  const Handle volume = io->Open(mountPoint, OpenMode::VolumeLock);
  ASSERT_NE(volume, kInvalidHandle);
  EXPECT_TRUE(io->DeviceControl(volume, ioctl::FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, nullptr));
  EXPECT_TRUE(io->DeviceControl(volume, ioctl::FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, nullptr));
  io->Close(volume);
}

TEST(LinuxLoop, ClaimIsRefusedWhileAnotherExclusiveOpenHoldsTheDisk) {
  LoopDevice loop;
  REQUIRE_LOOP(loop);
  std::unique_ptr<DeviceIo> io = CreateLinuxDeviceIo();
  const int holder = ::open(loop.Path().c_str(), O_RDONLY | O_EXCL | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  EXPECT_EQ(io->Open(loop.Path(), OpenMode::Claim), kInvalidHandle);
  EXPECT_EQ(io->LastError(), win::ERROR_SHARING_VIOLATION);
  ::close(holder);

  const Handle claim = io->Open(loop.Path(), OpenMode::Claim);
  ASSERT_NE(claim, kInvalidHandle);
  // Held, it keeps everyone else's exclusive open out in turn.
  const int intruder = ::open(loop.Path().c_str(), O_RDONLY | O_EXCL | O_CLOEXEC);
  const int intruderErrno = errno;
  // Should it get in after all, it must not keep the loop device claimed past the test.
  if (intruder >= 0) ::close(intruder);
  EXPECT_LT(intruder, 0);
  EXPECT_EQ(intruderErrno, EBUSY);
  io->Close(claim);
  const int after = ::open(loop.Path().c_str(), O_RDONLY | O_EXCL | O_CLOEXEC);
  EXPECT_GE(after, 0);
  if (after >= 0) ::close(after);
}

TEST(LinuxLoop, BadHandlesAndPathsFailWithTheirCodes) {
  std::unique_ptr<DeviceIo> io = CreateLinuxDeviceIo();
  EXPECT_EQ(io->Open("/dev/ferrowipe-no-such-node", OpenMode::Identification), kInvalidHandle);
  EXPECT_EQ(io->LastError(), win::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(io->ErrorText(io->LastError()), "No such file or directory");
  EXPECT_EQ(io->Open("/ferrowipe-not-a-mount-point", OpenMode::VolumeQuery), kInvalidHandle);
  EXPECT_EQ(io->LastError(), win::ERROR_FILE_NOT_FOUND);
  // Not a block device: a character device is never taken for a disk.
  EXPECT_EQ(io->Open("/dev/null", OpenMode::Identification), kInvalidHandle);
  EXPECT_EQ(io->LastError(), win::ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(io->DeviceControl(4242, ioctl::IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, nullptr, 0, nullptr));
  EXPECT_EQ(io->LastError(), win::ERROR_INVALID_HANDLE);
  EXPECT_EQ(io->SeekDevice(4242, 0), -1);
  EXPECT_EQ(io->Write(4242, "x", 1), -1);
  io->Close(4242);
}

// The drive's own commands on a disk that cannot take them: each is refused with its reason
// before anything is sent, and only the working handle may carry what changes a drive.
TEST(LinuxLoop, DriveCommandsAreRefusedWithTheirReasons) {
  LoopDevice loop;
  REQUIRE_LOOP(loop);
  std::unique_ptr<DeviceIo> io = CreateLinuxDeviceIo();
  const Handle work = io->Open(loop.Path(), OpenMode::Working);
  ASSERT_NE(work, kInvalidHandle);
  const Handle look = io->Open(loop.Path(), OpenMode::Identification);
  ASSERT_NE(look, kInvalidHandle);

  AtaCommand nativeMax;
  nativeMax.registers = {0, 0, 0, 0x40, 0x27};
  AtaCommand blockErase;
  blockErase.registers = {0x0012, 0, 0x426B4572, 0, 0xB4};
  AtaCommand setPassword;
  setPassword.registers.command = 0xF1;
  setPassword.protocol = AtaProtocol::PioDataOut;
  setPassword.extended = false;
  NvmeAdminCommand format;
  format.opcode = 0x80;
  format.nsid = 1;
  format.cdw10 = 0x200;
  NvmeAdminCommand identify;
  identify.opcode = 0x06;
  identify.cdw10 = 0x01;
  identify.dataLength = 4096;
  identify.direction = NvmeDataDirection::FromDevice;

  std::array<uint8_t, 4096> data{};
  struct Case {
    const char* name;
    Handle handle;
    std::optional<AtaCommand> ata;
    std::optional<NvmeAdminCommand> nvme;
    size_t dataBytes;
    uint32_t code;
  };
  const Case cases[] = {
      // The path: a loop device answers SG_IO with an error, the backend sends it no NVMe.
      {"read on the working handle", work, nativeMax, {}, 0, win::ERROR_INVALID_FUNCTION},
      {"read on the identification handle", look, nativeMax, {}, 0, win::ERROR_INVALID_FUNCTION},
      {"erase on the working handle", work, blockErase, {}, 0, win::ERROR_INVALID_FUNCTION},
      {"NVMe read", look, {}, identify, 4096, win::ERROR_INVALID_FUNCTION},
      {"NVMe format on the working handle", work, {}, format, 0, win::ERROR_INVALID_FUNCTION},
      // The backend's own refusals, whatever the path.
      {"erase on the identification handle", look, blockErase, {}, 0, win::ERROR_ACCESS_DENIED},
      {"NVMe format on the identification handle", look, {}, format, 0, win::ERROR_ACCESS_DENIED},
      {"data-out without its sector", work, setPassword, {}, 511, win::ERROR_INVALID_PARAMETER},
      {"NVMe read into too little", look, {}, identify, 4095, win::ERROR_INVALID_PARAMETER},
      {"no such handle", 4242, nativeMax, {}, 0, win::ERROR_INVALID_HANDLE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::span<uint8_t> span(data.data(), c.dataBytes);
    CommandOutcome outcome;
    uint32_t code;
    if (c.ata) {
      const AtaReply reply = io->SendAtaCommand(c.handle, *c.ata, span);
      outcome = reply.outcome;
      code = reply.code;
      EXPECT_FALSE(reply.registersValid);
    } else {
      const NvmeReply reply = io->SendNvmeAdminCommand(c.handle, *c.nvme, span);
      outcome = reply.outcome;
      code = reply.code;
    }
    EXPECT_EQ(outcome, CommandOutcome::NotSupported);
    EXPECT_EQ(code, c.code);
    EXPECT_EQ(io->LastError(), c.code);
  }
  io->Close(look);
  io->Close(work);
}

// A SCSI disk is told to read its capacity again before its size is taken; other disks
// only have their size read.
TEST(LinuxLoop, RereadCapacityRescansAScsiDiskFirst) {
  LoopDevice loop({.size = 40ll << 20});
  REQUIRE_LOOP(loop);
  const std::string name = loop.Path().substr(loop.Path().rfind('/') + 1);
  for (const bool scsi : {true, false}) {
    SCOPED_TRACE(scsi ? "with a rescan attribute" : "without one");
    test::TempFolder root;
    std::filesystem::create_directories(root / ("sys/block/" + name + "/device"));
    const std::string rescan = root / ("sys/block/" + name + "/device/rescan");
    if (scsi) root.Write("sys/block/" + name + "/device/rescan", "");
    std::unique_ptr<DeviceIo> io = CreateLinuxDeviceIo(root.Path());
    const Handle h = io->Open(loop.Path(), OpenMode::Working);
    ASSERT_NE(h, kInvalidHandle);
    EXPECT_EQ(io->RereadCapacity(h), std::optional<int64_t>(40ll << 20));
    std::ifstream written(rescan);
    std::string text;
    std::getline(written, text);
    EXPECT_EQ(text, scsi ? "1" : "");
    EXPECT_EQ(std::filesystem::exists(rescan), scsi) << "never created";
    io->Close(h);
    EXPECT_EQ(io->RereadCapacity(h), std::nullopt);
  }
}

}  // namespace
}  // namespace fw
