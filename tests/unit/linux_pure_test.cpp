// The pure parts of the Linux backend: SAT command blocks, sense data, errno table,
// descriptor layouts.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "device/device_io.hpp"
#include "device/linux/descriptors.hpp"
#include "device/linux/errno_map.hpp"
#include "device/linux/mount_table.hpp"
#include "device/linux/sat_cdb.hpp"
#include "device/linux/transport_type.hpp"
#include "device/linux/udev_database.hpp"
#include "device/win_layouts.hpp"

namespace fw::linuxio {
namespace {

win::IDEREGS Regs(uint8_t features, uint8_t count, uint8_t number, uint8_t low, uint8_t high,
                  uint8_t driveHead, uint8_t command) {
  return win::IDEREGS{features, count, number, low, high, driveHead, command, 0};
}

using Cdb = std::array<uint8_t, 16>;

TEST(SatCdb, CommandBlocksOfTheFourCommands) {
  struct Case {
    const char* name;
    win::IDEREGS regs;
    Cdb expected;
  };
  const Case cases[] = {
      {"IDENTIFY master", Regs(0, 1, 1, 0, 0, 0xA0, 0xEC),
       {0x85, 0x08, 0x0E, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0x00, 0xEC, 0}},
      {"IDENTIFY slave", Regs(0, 1, 1, 0, 0, 0xB0, 0xEC),
       {0x85, 0x08, 0x0E, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0x10, 0xEC, 0}},
      {"SMART READ DATA", Regs(0xD0, 1, 1, 0x4F, 0xC2, 0xA0, 0xB0),
       {0x85, 0x08, 0x0E, 0, 0xD0, 0, 1, 0, 1, 0, 0x4F, 0, 0xC2, 0x00, 0xB0, 0}},
      {"SMART ENABLE", Regs(0xD8, 1, 1, 0x4F, 0xC2, 0xA0, 0xB0),
       {0x85, 0x06, 0x20, 0, 0xD8, 0, 1, 0, 1, 0, 0x4F, 0, 0xC2, 0x00, 0xB0, 0}},
      {"SMART DISABLE slave", Regs(0xD9, 1, 1, 0x4F, 0xC2, 0xB0, 0xB0),
       {0x85, 0x06, 0x20, 0, 0xD9, 0, 1, 0, 1, 0, 0x4F, 0, 0xC2, 0x10, 0xB0, 0}},
  };
  for (const Case& c : cases) {
    const std::optional<AtaDataPhase> phase = AtaCommandPhase(c.regs);
    ASSERT_TRUE(phase) << c.name;
    EXPECT_EQ(BuildAtaPassThrough16(c.regs, *phase), c.expected) << c.name;
  }
}

TEST(SatCdb, OnlyTheProgramsOwnCommandsArePassedOn) {
  EXPECT_EQ(AtaCommandPhase(Regs(0, 1, 1, 0, 0, 0xA0, 0xEC)), AtaDataPhase::PioIn);
  EXPECT_EQ(AtaCommandPhase(Regs(0xD1, 1, 1, 0x4F, 0xC2, 0xA0, 0xB0)), AtaDataPhase::PioIn);
  EXPECT_EQ(AtaCommandPhase(Regs(0xDA, 0, 0, 0x4F, 0xC2, 0xA0, 0xB0)), AtaDataPhase::None);
  // WRITE SECTORS, SECURITY ERASE UNIT, SMART WRITE LOG, SMART EXECUTE OFF-LINE: refused.
  EXPECT_FALSE(AtaCommandPhase(Regs(0, 1, 0, 0, 0, 0xE0, 0x30)));
  EXPECT_FALSE(AtaCommandPhase(Regs(0, 0, 0, 0, 0, 0xA0, 0xF4)));
  EXPECT_FALSE(AtaCommandPhase(Regs(0xD6, 1, 1, 0x4F, 0xC2, 0xA0, 0xB0)));
  EXPECT_FALSE(AtaCommandPhase(Regs(0xD4, 1, 1, 0x4F, 0xC2, 0xA0, 0xB0)));
}

AtaResult Evaluate(std::vector<uint8_t> sense, uint8_t status = 0x02, uint16_t host = 0,
                   uint16_t driver = 0x08) {
  SgIoReply reply;
  reply.status = status;
  reply.hostStatus = host;
  reply.driverStatus = driver;
  reply.sense = sense.data();
  reply.senseLength = sense.size();
  return EvaluateAtaReply(reply);
}

std::vector<uint8_t> DescriptorSense(uint8_t key, uint8_t asc, uint8_t ascq, uint8_t error,
                                     uint8_t lbam, uint8_t lbah, uint8_t status) {
  std::vector<uint8_t> sb(8 + 14, 0);
  sb[0] = 0x72;
  sb[1] = key;
  sb[2] = asc;
  sb[3] = ascq;
  sb[7] = 14;
  uint8_t* d = sb.data() + 8;
  d[0] = 0x09;
  d[1] = 0x0C;
  d[3] = error;
  d[5] = 1;
  d[7] = 1;
  d[9] = lbam;
  d[11] = lbah;
  d[12] = 0xA0;
  d[13] = status;
  return sb;
}

std::vector<uint8_t> FixedSense(uint8_t key, uint8_t asc, uint8_t ascq, uint8_t error,
                                uint8_t lbam, uint8_t lbah, uint8_t status) {
  std::vector<uint8_t> sb(18, 0);
  sb[0] = 0x70;
  sb[2] = key;
  sb[3] = error;
  sb[4] = status;
  sb[5] = 0xA0;
  sb[6] = 1;
  sb[7] = 10;
  sb[9] = 1;
  sb[10] = lbam;
  sb[11] = lbah;
  sb[12] = asc;
  sb[13] = ascq;
  return sb;
}

TEST(SatSense, BothFormatsReadTheSameRegisters) {
  for (bool fixed : {false, true}) {
    auto make = fixed ? FixedSense : DescriptorSense;
    SCOPED_TRACE(fixed ? "fixed" : "descriptor");

    // RETURN STATUS answered through ck_cond: 00/1D with the drive's registers.
    const AtaResult ok = Evaluate(make(0, 0x00, 0x1D, 0, 0x4F, 0xC2, 0x50));
    EXPECT_EQ(ok.outcome, AtaOutcome::Success);
    EXPECT_TRUE(ok.registersValid);
    EXPECT_EQ(ok.lbam, 0x4F);
    EXPECT_EQ(ok.lbah, 0xC2);
    EXPECT_EQ(ok.status, 0x50);
    EXPECT_EQ(ok.count, 1);

    // RECOVERED ERROR with the same code is success too; threshold-exceeded registers kept.
    const AtaResult recovered = Evaluate(make(1, 0x00, 0x1D, 0, 0xF4, 0x2C, 0x50));
    EXPECT_EQ(recovered.outcome, AtaOutcome::Success);
    EXPECT_EQ(recovered.lbam, 0xF4);

    // The drive aborted the command: ERR in the status.
    const AtaResult aborted = Evaluate(make(0x0B, 0x00, 0x00, 0x04, 0x4F, 0xC2, 0x51));
    EXPECT_EQ(aborted.outcome, AtaOutcome::DeviceError);
    EXPECT_EQ(aborted.error, 0x04);

    // 00/1D but DRQ still set: the command did not complete.
    EXPECT_EQ(Evaluate(make(0, 0x00, 0x1D, 0, 0, 0, 0x58)).outcome, AtaOutcome::DeviceError);

    // A SCSI disk or bridge that does not know ATA PASS-THROUGH: invalid opcode.
    EXPECT_EQ(Evaluate(make(0x05, 0x20, 0x00, 0, 0, 0, 0)).outcome, AtaOutcome::NotSupported);

    // MEDIUM ERROR without ATA status bits: a failure, not a success.
    EXPECT_EQ(Evaluate(make(0x03, 0x11, 0x00, 0, 0, 0, 0)).outcome, AtaOutcome::TransportError);
  }
}

TEST(SatSense, ReplyWithoutSenseAndTransportFailures) {
  EXPECT_EQ(Evaluate({}, 0, 0, 0).outcome, AtaOutcome::Success);
  EXPECT_EQ(Evaluate({}, 0x02, 0, 0).outcome, AtaOutcome::TransportError);  // no sense to read
  EXPECT_EQ(Evaluate({}, 0, 0x01, 0).outcome, AtaOutcome::NoDevice);
  EXPECT_EQ(Evaluate({}, 0, 0x03, 0).outcome, AtaOutcome::Timeout);
  EXPECT_EQ(Evaluate({}, 0, 0x07, 0).outcome, AtaOutcome::TransportError);
  EXPECT_EQ(Evaluate({}, 0, 0, 0x06).outcome, AtaOutcome::TransportError);
  // Truncated or unknown sense never reads past its length.
  EXPECT_EQ(Evaluate({0x72, 0x00}).outcome, AtaOutcome::TransportError);
  EXPECT_EQ(Evaluate({0x70}).outcome, AtaOutcome::TransportError);
  EXPECT_EQ(Evaluate({0x7F, 0, 0, 0}).outcome, AtaOutcome::TransportError);
  // A descriptor list whose length points past the data, and a descriptor cut short.
  std::vector<uint8_t> cut = DescriptorSense(0, 0, 0x1D, 0, 0, 0, 0x50);
  cut.resize(14);
  const AtaResult r = Evaluate(cut);
  EXPECT_EQ(r.outcome, AtaOutcome::Success);
  EXPECT_FALSE(r.registersValid);
}

TEST(ErrnoMap, TheOneTable) {
  struct Case {
    int error;
    ErrnoSite site;
    uint32_t code;
  };
  const Case cases[] = {
      {ENOENT, ErrnoSite::Open, 2},      {ENODEV, ErrnoSite::Open, 55},
      {ENXIO, ErrnoSite::Open, 55},      {EROFS, ErrnoSite::Open, 19},
      {EPERM, ErrnoSite::Write, 19},     {EPERM, ErrnoSite::Open, 5},
      {EACCES, ErrnoSite::Open, 5},      {EBUSY, ErrnoSite::Open, 32},
      {EWOULDBLOCK, ErrnoSite::Lock, 33}, {ENOMEDIUM, ErrnoSite::Open, 21},
      {ETIMEDOUT, ErrnoSite::Write, 121}, {EIO, ErrnoSite::Write, 1117},
      {ENOSPC, ErrnoSite::Write, 112},   {EINVAL, ErrnoSite::Other, 87},
      {ENOTTY, ErrnoSite::Other, 1},     {EOPNOTSUPP, ErrnoSite::Other, 1},
      {ETXTBSY, ErrnoSite::Write, 32},   {ENODATA, ErrnoSite::Write, 1117},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WindowsErrorFromErrno(c.error, c.site), c.code) << std::strerror(c.error);
  }
}

TEST(ErrnoMap, TextsAreCleanAndStandForTheirCodes) {
  EXPECT_EQ(CleanErrorText("Device or resource busy. \r\n\t"), "Device or resource busy");
  EXPECT_EQ(CleanErrorText("..."), "");
  EXPECT_EQ(ErrnoText(EBUSY), "Device or resource busy");
  for (uint32_t code : {1u, 2u, 5u, 19u, 21u, 32u, 33u, 55u, 87u, 112u, 121u, 1117u}) {
    const int error = ErrnoForWindowsError(code);
    ASSERT_GT(error, 0) << code;
    // Going back through the table gives the same code (EPERM aside, which is two codes).
    const ErrnoSite site = code == 33 ? ErrnoSite::Lock : ErrnoSite::Open;
    EXPECT_EQ(WindowsErrorFromErrno(error, site), code) << code;
  }
  EXPECT_LT(ErrnoForWindowsError(4242), 0);
}

TEST(Descriptors, DeviceDescriptorLayoutAndSerialWordOrder) {
  DeviceStrings s{"ATA", "Samsung SSD 860 EVO 500GB", "RVT04B6Q", "S3Z9NB0K123456A"};
  const std::vector<uint8_t> bytes = BuildDeviceDescriptor(s, true, win::BusTypeSata);
  const auto d = win::LoadLayout<win::STORAGE_DEVICE_DESCRIPTOR>(bytes.data(), bytes.size());
  EXPECT_EQ(d.Version, 40u);
  EXPECT_EQ(d.Size, bytes.size());
  EXPECT_EQ(d.RemovableMedia, 1);
  EXPECT_EQ(d.BusType, win::BusTypeSata);
  EXPECT_EQ(d.VendorIdOffset, 40u);
  auto text = [&](uint32_t offset) { return std::string(reinterpret_cast<const char*>(&bytes[offset])); };
  EXPECT_EQ(text(d.VendorIdOffset), "ATA");
  EXPECT_EQ(text(d.ProductIdOffset), "Samsung SSD 860 EVO 500GB");
  EXPECT_EQ(text(d.ProductRevisionOffset), "RVT04B6Q");
  // Odd length: a blank makes it even, then each pair is swapped.
  EXPECT_EQ(text(d.SerialNumberOffset), "3S9ZBNK0214365 A");
  EXPECT_EQ(bytes.back(), 0);

  const std::vector<uint8_t> empty = BuildDeviceDescriptor({}, false, win::BusTypeFileBackedVirtual);
  const auto e = win::LoadLayout<win::STORAGE_DEVICE_DESCRIPTOR>(empty.data(), empty.size());
  EXPECT_EQ(empty.size(), 40u);
  EXPECT_EQ(e.Size, 40u);
  EXPECT_EQ(e.VendorIdOffset | e.ProductIdOffset | e.ProductRevisionOffset | e.SerialNumberOffset, 0u);

  EXPECT_EQ(AtaWordOrder("ABCDEF"), "BADCFE");
  EXPECT_EQ(AtaWordOrder(""), "");
}

TEST(Descriptors, GeometryAdapterAndSmartVersion) {
  const win::DISK_GEOMETRY loop = BuildGeometry(100ull << 20, 512, 0, 0, false);
  EXPECT_EQ(loop.TracksPerCylinder, 255u);
  EXPECT_EQ(loop.SectorsPerTrack, 63u);
  EXPECT_EQ(loop.Cylinders, (100ll << 20) / (255 * 63 * 512));
  EXPECT_EQ(loop.MediaType, win::MEDIA_TYPE_FIXED);
  const win::DISK_GEOMETRY stick = BuildGeometry(16ull << 30, 4096, 64, 32, true);
  EXPECT_EQ(stick.TracksPerCylinder, 64u);
  EXPECT_EQ(stick.Cylinders, (16ll << 30) / (64 * 32 * 4096));
  EXPECT_EQ(stick.MediaType, win::MEDIA_TYPE_REMOVABLE);
  EXPECT_EQ(stick.BytesPerSector, 4096u);

  EXPECT_EQ(BuildAdapterDescriptor(14, 2147483647ull * 1024, 254, 511).MaximumTransferLength,
            UINT32_MAX);
  const win::STORAGE_ADAPTER_DESCRIPTOR a = BuildAdapterDescriptor(11, 32767 * 1024, 168, 3);
  EXPECT_EQ(a.MaximumTransferLength, 32767u * 1024);
  EXPECT_EQ(a.BusType, 11);
  EXPECT_EQ(a.Size, 32u);

  EXPECT_EQ(BuildSmartVersion(false).bIDEDeviceMap, 0x01);
  EXPECT_EQ(BuildSmartVersion(true).bIDEDeviceMap, 0x02);
  EXPECT_EQ(BuildSmartVersion(false).fCapabilities,
            win::CAP_ATA_ID_CMD | win::CAP_SMART_CMD);
}

TEST(Descriptors, VpdPageAndUdevDatabase) {
  const std::string page = std::string("\x00\x80\x00\x0a", 4) + "  WD-123   trailing";
  EXPECT_EQ(SerialFromVpd80(page), "WD-123");
  EXPECT_FALSE(SerialFromVpd80(std::string("\x00\x83\x00\x02" "ab", 6)));
  EXPECT_FALSE(SerialFromVpd80(std::string("\x00\x80\x00\x02" "  ", 6)));
  // A length past the page is cut at its end.
  EXPECT_EQ(SerialFromVpd80(std::string("\x00\x80\x00\xff" "ABC", 7)), "ABC");

  const auto props = ParseUdevProperties(
      "S:disk/by-id/x\nE:ID_MODEL_ENC=A\\x20B\\x2\nE:ID_SERIAL_SHORT=123\nE:=bad\nG:tag\n");
  ASSERT_EQ(props.size(), 2u);
  EXPECT_EQ(DecodeUdevString(props.at("ID_MODEL_ENC")), "A B\\x2");
  EXPECT_EQ(props.at("ID_SERIAL_SHORT"), "123");

  // The same file as a record: its links are full paths under /dev, sorted.
  const UdevRecord record = ParseUdevRecord(
      "S:disk/by-path/pci-1\nS:disk/by-id/ata-X_1\nE:ID_BUS=ata\nS:\nL:0\n");
  EXPECT_EQ(record.devlinks,
            (std::vector<std::string>{"/dev/disk/by-id/ata-X_1", "/dev/disk/by-path/pci-1"}));
  EXPECT_EQ(record.properties.at("ID_BUS"), "ata");
}

// The descriptor's vendor: libata's and the SAT layers' "ATA" placeholder is no vendor, so
// that caption, list and JSON show the drive's model alone; a real vendor text is kept.
TEST(Descriptors, AtaPlaceholderIsNoVendor) {
  const std::pair<const char*, const char*> cases[] = {
      {"ATA     ", ""}, {"ATA", ""}, {"  ATA", ""}, {"SEAGATE ", "SEAGATE"},
      {"ATAPI", "ATAPI"}, {"ata", "ata"}, {"", ""}, {"QEMU", "QEMU"},
  };
  for (const auto& [inquiry, vendor] : cases) EXPECT_EQ(DescriptorVendor(inquiry), vendor) << inquiry;
  DeviceStrings strings{DescriptorVendor("ATA     "), "WDC WD800JB-00JJ", "05.0", "WD-1"};
  const std::vector<uint8_t> bytes = BuildDeviceDescriptor(strings, false, 3);
  EXPECT_EQ(win::LoadLayout<win::STORAGE_DEVICE_DESCRIPTOR>(bytes.data(), bytes.size()).VendorIdOffset,
            0u);
}

// udev's ID_BUS names the bus only where sysfs gives no transport; a transport always wins.
TEST(Transport, UdevBusStandsInForAMissingTransport) {
  struct Case {
    const char* transport;
    const char* disk;
    const char* udevBus;
    uint8_t bus;
  };
  const Case cases[] = {
      {"", "sda", "scsi", 1},   {"", "sda", "ata", 3},     {"", "sda", "usb", 7},
      {"", "sda", "", 0},       {"", "sda", "bogus", 0},   {"sata", "sda", "scsi", 11},
      {"usb", "sdb", "scsi", 7}, {"sas", "sdc", "ata", 10}, {"", "loop0", "", 15},
      {"nvme", "nvme0n1", "", 17},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(BusTypeFor(c.transport, c.disk, c.udevBus), c.bus)
        << c.transport << "/" << c.disk << "/" << c.udevBus;
  }
}

// A mount put back takes the propagation mountinfo showed, never its new parent's.
TEST(MountTable, PropagationOptionsFromTheOptionalFields) {
  using linuxio::PropagationOptions;
  EXPECT_EQ(PropagationOptions(""), "private");
  EXPECT_EQ(PropagationOptions("shared:12"), "shared");
  EXPECT_EQ(PropagationOptions("master:3"), "slave");
  EXPECT_EQ(PropagationOptions("shared:12 master:3"), "slave,shared");
  EXPECT_EQ(PropagationOptions("unbindable"), "unbindable");
}

TEST(Transport, LsblkOrderAndBusTypes) {
  struct Case {
    const char* name;
    TransportFacts facts;
    const char* transport;
    uint8_t bus;
  };
  auto scsi = [](const char* proc, const char* path) {
    TransportFacts f;
    f.diskName = "sdx";
    f.isScsi = true;
    f.procName = proc;
    f.devicePath = path;
    return f;
  };
  TransportFacts spi = scsi("sym53c8xx", "/sys/devices/pci/host0/target0:0:0/0:0:0:0");
  spi.spiHost = true;
  spi.fcHost = true;  // spi is tested first
  TransportFacts fc = scsi("lpfc", "/x");
  fc.fcHost = true;
  TransportFacts fcoe = fc;
  fcoe.fcSymbolicName = "fcoe v0.1 over eth0";
  TransportFacts sas = scsi("mpt3sas", "/x");
  sas.sasDevice = true;
  TransportFacts sbp = scsi("sbp2", "/x");
  sbp.ieee1394Id = true;
  TransportFacts iscsi = scsi("iscsi_tcp", "/x");
  iscsi.iscsiHost = true;
  TransportFacts usbAta = scsi("ahci", "/sys/devices/pci/usb2/2-1/host6/target6:0:0/6:0:0:0");
  TransportFacts named;
  const Case cases[] = {
      {"spi", spi, "spi", 1},
      {"fc", fc, "fc", 6},
      {"fcoe", fcoe, "fcoe", 6},
      {"sas", sas, "sas", 10},
      {"sbp", sbp, "sbp", 4},
      {"iscsi", iscsi, "iscsi", 9},
      {"usb before ata", usbAta, "usb", 7},
      {"ahci", scsi("ahci", "/sys/devices/pci/ata1/host0"), "sata", 11},
      {"sata_nv", scsi("sata_nv", "/x"), "sata", 11},
      {"pata", scsi("pata_amd", "/x"), "ata", 3},
      {"ata_piix", scsi("ata_piix", "/x"), "ata", 3},
      {"other scsi", scsi("virtio_scsi", "/x"), "", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DeriveTransport(c.facts), c.transport) << c.name;
    EXPECT_EQ(BusTypeFor(DeriveTransport(c.facts), c.facts.diskName), c.bus) << c.name;
  }
  const std::pair<const char*, uint8_t> byName[] = {
      {"nvme0n1", 17}, {"vda", 14}, {"mmcblk0", 13}, {"loop3", 15}, {"md127", 8}, {"nbd0", 0}};
  for (const auto& [name, bus] : byName) {
    named.diskName = name;
    EXPECT_EQ(BusTypeFor(DeriveTransport(named), name), bus) << name;
  }
}

}  // namespace
}  // namespace fw::linuxio
