// The disk-image backend, on image folders each test makes (and removes) itself.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>

#include "core/logs.hpp"
#include "loop_device.hpp"
#include "temp_folder.hpp"
#include "device/ata_transport.hpp"
#include "device/backends.hpp"
#include "device/control_codes.hpp"
#include "device/identify.hpp"
#include "device/identify_decoder.hpp"
#include "device/win_layouts.hpp"

namespace fw {
namespace {

namespace fs = std::filesystem;
using test::TempFolder;


std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

Sector FixtureSector(const std::string& name) {
  const std::string bytes = ReadFile(std::string(FIXTURES_DIR) + "/drives/" + name);
  Sector s{};
  std::copy_n(bytes.begin(), std::min(bytes.size(), s.size()), s.begin());
  return s;
}

struct Backend {
  std::string errors;  // before io: the constructor fills it
  std::unique_ptr<DeviceIo> io;
  explicit Backend(const TempFolder& folder) : io(CreateImageDeviceIo(folder.Path(), &errors)) {}
  DeviceIo* operator->() { return io.get(); }
};

struct Identity {
  int64_t status;
  TIdentifyDeviceData data;
  std::string fatal;
};

Identity Identify(DeviceIo& io, const std::string& path) {
  Identity r{-1, {}, {}};
  const Handle h = io.Open(path, OpenMode::Identification);
  EXPECT_NE(h, kInvalidHandle) << path;
  r.status = IdentifyDevice(io, h, r.data, &r.fatal);
  io.Close(h);
  return r;
}

bool Control(DeviceIo& io, Handle h, uint32_t code, std::vector<uint8_t>* reply = nullptr) {
  uint32_t returned = 0;
  const bool ok = io.DeviceControl(h, code, nullptr, 0, reply ? reply->data() : nullptr,
                                   reply ? static_cast<uint32_t>(reply->size()) : 0, &returned);
  if (reply != nullptr && ok) reply->resize(returned);
  return ok;
}

TEST(ImageDevice, DrivesAreTheImagesInNameOrderWithPlainDefaults) {
  TempFolder folder;
  folder.Image("b.img", 1 << 20);
  folder.Image("a.img", 3 << 20);
  folder.Write("notes.txt", "not a disk");
  folder.Write("lonely.json", "{}");
  fs::create_directory(folder / "folder.img");
  Backend io(folder);
  EXPECT_EQ(io.errors, "");
  EXPECT_EQ(io->PhysicalDrivePath(0), folder / "a.img");
  EXPECT_EQ(io->PhysicalDrivePath(1), folder / "b.img");
  EXPECT_EQ(io->PhysicalDrivePath(2), "");
  EXPECT_EQ(io->PhysicalDrivePath(-1), "");
  EXPECT_TRUE(io->LogicalDrives().empty());

  const Identity r = Identify(*io.io, folder / "a.img");
  ASSERT_EQ(r.status, 0);
  const TIdentifyDeviceData want{
      "存放裝置          ", "0000", "000000", 6144, 512, 15, 250, false, 0};
  EXPECT_EQ(r.data, want);

  const Handle h = io->Open(folder / "a.img", OpenMode::Identification);
  std::vector<uint8_t> reply(512);
  EXPECT_FALSE(Control(*io.io, h, ioctl::SMART_GET_VERSION, &reply)) << "no ATA commands";
  EXPECT_FALSE(Control(*io.io, h, ioctl::IOCTL_SCSI_MINIPORT, &reply));
  EXPECT_EQ(io->LastError(), win::ERROR_INVALID_FUNCTION);
  EXPECT_FALSE(Control(*io.io, h, ioctl::IOCTL_SCSI_GET_INQUIRY_DATA, &reply));
  EXPECT_EQ(io->LastError(), win::ERROR_INVALID_FUNCTION);
  io->Close(h);
}

TEST(ImageDevice, MetadataDescribesTheDrive) {
  TempFolder folder;
  folder.Image("disk.img", 4096 * 1000);
  folder.Write("disk.json", R"({
    "vendor": "ATA", "product": "EXAMPLE DISK 500", "revision": "1.00", "serial": "S1234",
    "bus_type": 11, "sector_size": 4096, "max_transfer": 131072, "removable": true,
    "slave": true, "identify": "disk.identify"
  })");
  folder.CopyFixture("SAMSUNG_HD501LJ--CR100-12.identify", "disk.identify");
  Backend io(folder);
  ASSERT_EQ(io.errors, "");
  const Identity r = Identify(*io.io, folder / "disk.img");
  ASSERT_EQ(r.status, 0);
  const TIdentifyDeviceData want{
      "ATA EXAMPLE DISK 500", "1.00", "S1234", 1000, 4096, 11, 32, true, 1};
  EXPECT_EQ(r.data, want) << "an odd-length serial comes back whole";

  const Handle h = io->Open(folder / "disk.img", OpenMode::Identification);
  std::vector<uint8_t> reply(512);
  ASSERT_TRUE(Control(*io.io, h, ioctl::IOCTL_DISK_GET_DRIVE_GEOMETRY, &reply));
  const auto g = win::LoadLayout<win::DISK_GEOMETRY>(reply.data(), reply.size());
  EXPECT_EQ(reply.size(), 24u);
  EXPECT_EQ(g.MediaType, win::MEDIA_TYPE_REMOVABLE);
  EXPECT_EQ(g.TracksPerCylinder, 255u);
  EXPECT_EQ(g.SectorsPerTrack, 63u);
  EXPECT_EQ(g.Cylinders, 0);
  reply.assign(28, 0);
  ASSERT_TRUE(Control(*io.io, h, ioctl::SMART_GET_VERSION, &reply));
  const auto v = win::LoadLayout<win::GETVERSIONINPARAMS>(reply.data(), reply.size());
  EXPECT_EQ(v.bIDEDeviceMap, 0x02) << "device 1: the slave";
  EXPECT_EQ(v.fCapabilities, win::CAP_ATA_ID_CMD);
  io->Close(h);
}

TEST(ImageDevice, ReadThresholdsAnswersFromItsSectorFileBesideTheSmartData) {
  TempFolder folder;
  folder.Image("disk.img", 1 << 20);
  folder.Write("disk.json", R"({"smart": "s.bin", "thresholds": "t.bin"})");
  folder.CopyFixture("SAMSUNG_HD501LJ--CR100-12.smart", "s.bin");
  folder.CopyFixture("SAMSUNG_HD501LJ--CR100-12.thresholds", "t.bin");
  Backend io(folder);
  ASSERT_EQ(io.errors, "");
  const Handle h = io->Open(folder / "disk.img", OpenMode::Working);
  Sector sector{};
  ASSERT_TRUE(SmartReadThresholds(*io.io, h, 0, sector));
  EXPECT_EQ(sector, FixtureSector("SAMSUNG_HD501LJ--CR100-12.thresholds"));
  ASSERT_TRUE(SmartReadData(*io.io, h, 0, sector));
  EXPECT_EQ(sector, FixtureSector("SAMSUNG_HD501LJ--CR100-12.smart"));
  io->Close(h);
}

TEST(ImageDevice, AtaCommandsAnswerFromTheSectorFiles) {
  TempFolder folder;
  folder.Image("disk.img", 1 << 20);
  folder.Write("disk.json", R"({"identify": "id.bin", "smart": "smart.bin", "bus_type": 3})");
  folder.CopyFixture("SAMSUNG_HD501LJ--CR100-12.identify", "id.bin");
  folder.CopyFixture("SAMSUNG_HD501LJ--CR100-12.smart", "smart.bin");
  folder.Image("bare.img", 1 << 20);
  Backend io(folder);
  ASSERT_EQ(io.errors, "");

  const Handle h = io->Open(folder / "disk.img", OpenMode::Working);
  ASSERT_NE(h, kInvalidHandle);
  Sector sector{};
  ASSERT_TRUE(ReadIdentifySector(*io.io, h, 0, sector));
  EXPECT_EQ(sector, FixtureSector("SAMSUNG_HD501LJ--CR100-12.identify"));
  EXPECT_EQ(DecodeIdentifySector(sector).name, "SAMSUNG HD501LJ");
  EXPECT_TRUE(SmartEnable(*io.io, h, 0));
  ASSERT_TRUE(SmartReadData(*io.io, h, 0, sector));
  EXPECT_EQ(sector, FixtureSector("SAMSUNG_HD501LJ--CR100-12.smart"));
  EXPECT_TRUE(SmartDisable(*io.io, h, 0));

  // Without a thresholds sector READ THRESHOLDS is not served, nor are other ATA commands.
  AtaRegisters thresholds{0xD1, 1, 1, 0x4F, 0xC2, 0xA0, 0xB0};
  EXPECT_FALSE(SmartReceiveSector(*io.io, h, 0, thresholds, sector));
  AtaRegisters readSectors{0, 1, 0, 0, 0, 0xE0, 0x20};
  EXPECT_FALSE(SmartReceiveSector(*io.io, h, 0, readSectors, sector));
  io->Close(h);

  const Handle bare = io->Open(folder / "bare.img", OpenMode::Working);
  const Sector before = sector;
  EXPECT_FALSE(ReadIdentifySector(*io.io, bare, 0, sector));
  EXPECT_FALSE(SmartEnable(*io.io, bare, 0));
  EXPECT_FALSE(SmartReadData(*io.io, bare, 0, sector));
  EXPECT_EQ(sector, before);
  io->Close(bare);
}

TEST(ImageDevice, InjectedRequestFailures) {
  struct Case {
    std::string fail;
    int64_t status;
    int64_t busType;
    std::string fatal;
  };
  const Case cases[] = {
      {R"("geometry": 21)", -1, 0, ""},
      {R"("length": 21)", -1, 0, ""},
      {R"("adapter": 1)", 0, 201, ""},
      {R"("device": 55)", -1, 0, "存取裝置發生錯誤:               No such device"},
  };
  for (const Case& c : cases) {
    TempFolder folder;
    folder.Image("d.img", 1 << 20);
    folder.Write("d.json", R"({"bus_type": 11, "fail": {)" + c.fail + "}}");
    Backend io(folder);
    ASSERT_EQ(io.errors, "");
    const Identity r = Identify(*io.io, folder / "d.img");
    EXPECT_EQ(r.status, c.status) << c.fail;
    if (r.status == 0) {
      EXPECT_EQ(r.data.BusType, c.busType) << c.fail;
    }
    EXPECT_EQ(r.fatal, c.fatal) << c.fail;
  }

  TempFolder folder;
  folder.Image("d.img", 1 << 20);
  folder.Write("d.json", R"({"identify": "d.id", "smart": "d.smart",
      "fail": {"identify": 1117, "smart_enable": 1, "smart_read": 121, "open_working": 5}})");
  folder.Write("d.id", std::string(512, 'i'));
  folder.Write("d.smart", std::string(512, 's'));
  Backend io(folder);
  ASSERT_EQ(io.errors, "");
  EXPECT_EQ(io->Open(folder / "d.img", OpenMode::Working), kInvalidHandle);
  EXPECT_EQ(io->LastError(), 5u);
  const Handle h = io->Open(folder / "d.img", OpenMode::Identification);
  Sector sector{};
  EXPECT_FALSE(ReadIdentifySector(*io.io, h, 0, sector));
  EXPECT_FALSE(SmartEnable(*io.io, h, 0));
  EXPECT_TRUE(SmartDisable(*io.io, h, 0));
  EXPECT_FALSE(SmartReadData(*io.io, h, 0, sector));
  EXPECT_EQ(io->LastError(), 121u);
  io->Close(h);
}

// Each kind of bad metadata: one line naming the file and the key; that drive is left out and
// the others stay.
TEST(ImageDevice, BadMetadataLeavesTheDriveOutWithOneClearLine) {
  struct Case {
    std::string json;
    std::string mentions;
    // Puts a hostile file in place after the metadata is written.
    std::function<void(const TempFolder&)> plant = nullptr;
  };
  const auto fifo = [](const std::string& name) {
    return [name](const TempFolder& f) {
      fs::remove(f / name);
      ASSERT_EQ(mkfifo((f / name).c_str(), 0600), 0);
    };
  };
  const auto folderAt = [](const std::string& name) {
    return [name](const TempFolder& f) {
      fs::remove(f / name);
      fs::create_directory(f / name);
    };
  };
  const auto link = [](const std::string& name) {
    return [name](const TempFolder& f) {
      f.Write("sector.bin", std::string(512, 'x'));
      fs::remove(f / name);
      fs::create_symlink(f / "sector.bin", f / name);
    };
  };
  // A folder of the disk set that is a link back to the set itself.
  const auto linkedFolder = [](const std::string& name) {
    return [name](const TempFolder& f) {
      f.Write("sector.bin", std::string(512, 'x'));
      fs::create_directory_symlink(f.Path(), f / name);
    };
  };
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  const Case cases[] = {
      // Hostile files: each is refused before a byte of it is read, and at once.
      {R"({"fail": )" + deep + "}", "nested deeper than 16 levels"},
      {"", "cannot read the file: it is a folder", folderAt("2-bad.json")},
      {"", "cannot read the file: it is a FIFO", fifo("2-bad.json")},
      {"", "cannot read the file: it is a symbolic link", link("2-bad.json")},
      {std::string(1 << 20, ' ') + "{}", "cannot read the file: it holds more than 1048576 bytes"},
      {R"({"identify": "id"})", "key \"identify\": cannot read ", fifo("id")},
      {R"({"identify": "id"})", "it is a FIFO, not a regular file", fifo("id")},
      {R"({"smart": "id"})", "key \"smart\": cannot read ", folderAt("id")},
      // A disk set stays in its folder: nothing outside it is read, by name, by "..", by link.
      {R"({"identify": "/dev/zero"})",
       "key \"identify\": cannot read /dev/zero: it lies outside the folder"},
      {R"({"smart": "/dev/urandom"})", "key \"smart\": cannot read /dev/urandom: it lies outside"},
      {R"({"smart": "../2-bad.identify"})", "key \"smart\": cannot read ", linkedFolder("up")},
      {R"({"smart": "../2-bad.identify"})", "it lies outside the folder"},
      {R"({"identify": "up/sector.bin"})", "it is a symbolic link, which is not followed",
       linkedFolder("up")},
      {R"({"smart": "big.bin"})", "key \"smart\": cannot read ",
       [](const TempFolder& f) { f.Write("big.bin", std::string(513, 'x')); }},
      {R"({"smart": "big.bin"})", "it holds more than 512 bytes",
       [](const TempFolder& f) { f.Write("big.bin", std::string(513, 'x')); }},
      {R"({"identify": "id"})", "key \"identify\": cannot read ", link("id")},
      {R"({"identify": "id"})", "it is a symbolic link, which is not followed", link("id")},
      {R"({"vendor": "A",)", "not valid JSON"},
      {R"([1, 2])", "must be a JSON object"},
      {R"({"bus_type": "eleven"})", "key \"bus_type\": expected a whole number"},
      {R"({"bus_type": 300})", "key \"bus_type\": expected a whole number from 0 to 255"},
      {R"({"sector_size": 512.5})", "key \"sector_size\""},
      {R"({"sector_size": -1})", "key \"sector_size\""},
      {R"({"removable": "yes"})", "key \"removable\": expected true or false"},
      {R"({"serial": 1234})", "key \"serial\": expected a string"},
      {R"({"vendor": "\u4e2d"})", "key \"vendor\": only characters up to U+00FF"},
      {R"({"vendor": "a\u0000b"})", "key \"vendor\": a zero character"},
      {R"({"identify": "short.bin"})", "key \"identify\": "},
      {R"({"smart": "missing.bin"})", "key \"smart\": cannot read"},
      {R"({"smart": 7})", "key \"smart\": expected a file name"},
      {R"({"sector_szie": 512})", "key \"sector_szie\": unknown key"},
      {R"({"fail": {"geometry": "x"}})", "key \"fail.geometry\""},
      {R"({"fail": {"explode": 1}})", "key \"fail.explode\": unknown key"},
      {R"({"fail": 3})", "key \"fail\": expected an object"},
      {R"({"write_errors": [{"offset": -5, "code": 23}]})", "key \"write_errors[0].offset\""},
      {R"({"write_errors": [{"offset": 5}]})", "key \"write_errors[0].code\": missing"},
      {R"({"write_errors": {"offset": 5}})", "key \"write_errors\": expected an array"},
      {R"({"unplug_at": "soon"})", "key \"unplug_at\""},
      {R"({"lost_writes": [[0]]})", "key \"lost_writes[0]\": expected [offset, length]"},
      {R"({"lost_writes": [[-1, 5]]})", "key \"lost_writes[0][0]\": an offset cannot be"},
      {R"({"lost_writes": [[0, 512], [4096, 0]]})", "key \"lost_writes[1][1]\": a length must"},
      {R"({"lost_writes": [[9223372036854775807, 2]]})", "key \"lost_writes[0][1]\": offset and"},
      {R"({"lost_writes": [{"offset": 1}]})", "key \"lost_writes[0]\": expected an array"},
      {R"({"lost_writes": [["a", 1]]})", "key \"lost_writes[0][0]\": expected a whole number"},
      {R"({"mounts": [{"partition": 1}]})", "key \"mounts[0].mount_point\": missing"},
      {R"({"mounts": [{"mount_point": "/m/x", "busy": 1}]})", "key \"mounts[0].busy\""},
      {R"({"mounts": [{"mount_point": "/m/good"}]})", "key \"mounts[0].mount_point\": already"},
  };
  for (const Case& c : cases) {
    TempFolder folder;
    folder.Image("1-good.img", 1 << 20);
    folder.Write("1-good.json", R"({"product": "GOOD", "mounts": [{"mount_point": "/m/good"}]})");
    folder.Image("2-bad.img", 1 << 20);
    folder.Write("2-bad.json", c.json);
    folder.Write("short.bin", std::string(100, 'x'));
    folder.Image("3-plain.img", 1 << 20);
    if (c.plant) c.plant(folder);
    Backend io(folder);
    SCOPED_TRACE(c.json.substr(0, 80) + " " + c.mentions);
    ASSERT_EQ(std::count(io.errors.begin(), io.errors.end(), '\n'), 1) << io.errors;
    EXPECT_EQ(io.errors.rfind(folder / "2-bad.json" + ": ", 0), 0u) << io.errors;
    EXPECT_NE(io.errors.find(c.mentions), std::string::npos) << io.errors;
    EXPECT_EQ(io->PhysicalDrivePath(0), folder / "1-good.img");
    EXPECT_EQ(io->PhysicalDrivePath(1), folder / "3-plain.img");
    EXPECT_EQ(io->PhysicalDrivePath(2), "");
    EXPECT_EQ(io->LogicalDrives(), std::vector<std::string>{"/m/good"});
  }
}

// An image that is a link would make a disk of whatever it leads to, a real disk included; and
// whoever named the files of the set must not steer the terminal the errors are printed on.
TEST(ImageDevice, LinkedImagesAreRefusedAndErrorLinesAreTerminalSafe) {
  TempFolder outside;
  outside.Image("elsewhere.img", 1 << 20);
  TempFolder folder;
  folder.Image("a.img", 1 << 20);
  fs::create_symlink(outside / "elsewhere.img", folder / "b.img");
  fs::create_symlink("/dev/null", folder / "c.img");
  folder.Image("d\x1b[2J\n.img", 1 << 20);
  folder.Write("d\x1b[2J\n.json", "{\"vendor\": 1}");
  Backend io(folder);
  EXPECT_EQ(io->PhysicalDrivePath(0), folder / "a.img");
  EXPECT_EQ(io->PhysicalDrivePath(1), "");
  EXPECT_EQ(io.errors,
            folder / "b.img" + ": it is a symbolic link, which is not followed; a simulated disk "
                               "must be a file of the folder itself\n" +
                folder / "c.img" + ": it is a symbolic link, which is not followed; a simulated "
                                   "disk must be a file of the folder itself\n" +
                folder / "d\\x1b[2J\\x0a.json" + ": key \"vendor\": expected a string, found "
                                                "number 1\n");
}

TEST(ImageDevice, ShortSectorFileIsNamedWithItsSize) {
  TempFolder folder;
  folder.Image("d.img", 1 << 20);
  folder.Write("d.json", R"({"identify": "d.identify"})");
  folder.Write("d.identify", std::string(511, 'x'));
  Backend io(folder);
  EXPECT_EQ(io.errors, folder / "d.json" + ": key \"identify\": " + folder / "d.identify" +
                           " holds 511 bytes; a sector file holds exactly 512\n");
}

TEST(ImageDevice, MissingFolderIsOneErrorAndNoDrives) {
  std::string errors;
  const auto io = CreateImageDeviceIo("/nonexistent/ferrowipe-disks", &errors);
  ASSERT_NE(io, nullptr);
  EXPECT_EQ(io->PhysicalDrivePath(0), "");
  EXPECT_EQ(errors.rfind("/nonexistent/ferrowipe-disks: cannot read the folder", 0), 0u);
}

// Set but empty, the variable is a mistake: no disks, never the machine's own.
TEST(ImageDevice, AnEmptyFerrowipeDisksGivesNoDisksAndSaysSo) {
  const test::CommandResult run =
      test::RunCommand("FERROWIPE_DISKS= '" CLI_PATH "' list --raw 2>&1 </dev/null");
  EXPECT_EQ(run.output, "FERROWIPE_DISKS is set but empty: no simulated disks, and the "
                        "machine's own disks are not used\n");
}

class ImageWrites : public testing::Test {
 protected:
  void SetUp() override {
    m_folder.Image("d.img", 65536);
    m_folder.Write("d.json", R"({"write_errors": [{"offset": 4096, "code": 23}],
                                 "unplug_at": 32768})");
    m_io = std::make_unique<Backend>(m_folder);
    ASSERT_EQ(m_io->errors, "");
    m_handle = (*m_io)->Open(m_folder / "d.img", OpenMode::Working);
    ASSERT_NE(m_handle, kInvalidHandle);
  }
  void TearDown() override { (*m_io)->Close(m_handle); }

  int64_t WriteAt(int64_t offset, int64_t count, char fill = 'z') {
    if ((*m_io)->SeekDevice(m_handle, offset) != offset) return -2;
    const std::string data(static_cast<size_t>(count), fill);
    return (*m_io)->Write(m_handle, data.data(), count);
  }
  uint32_t Error() { return (*m_io)->LastError(); }

  TempFolder m_folder;
  std::unique_ptr<Backend> m_io;
  Handle m_handle = kInvalidHandle;
};

TEST_F(ImageWrites, DataReachesTheImage) {
  EXPECT_EQ(WriteAt(0, 4096, 'a'), 4096);
  EXPECT_EQ(WriteAt(8192, 100, 'b'), 100);
  EXPECT_TRUE((*m_io)->Flush(m_handle));
  const std::string image = ReadFile(m_folder / "d.img");
  ASSERT_EQ(image.size(), 65536u);
  EXPECT_EQ(image.substr(0, 4096), std::string(4096, 'a'));
  EXPECT_EQ(image[4096], '\0');
  EXPECT_EQ(image.substr(8192, 100), std::string(100, 'b'));
}

TEST_F(ImageWrites, AWriteCoveringAnErrorOffsetFailsWithItsCode) {
  EXPECT_EQ(WriteAt(0, 4096), 4096) << "ends just before the offset";
  EXPECT_EQ(WriteAt(4096, 512), -1);
  EXPECT_EQ(Error(), 23u);
  EXPECT_EQ(WriteAt(0, 8192), -1);
  EXPECT_EQ(Error(), 23u);
  EXPECT_EQ(WriteAt(4097, 512), 512) << "the fault is not sticky";
  EXPECT_EQ(ReadFile(m_folder / "d.img")[4096], '\0') << "a failed write writes nothing";
}

TEST_F(ImageWrites, UnpluggedAtAnOffsetAndGoneFromThenOn) {
  EXPECT_EQ(WriteAt(28672, 4096), 4096) << "ends at the unplug offset";
  EXPECT_EQ(WriteAt(30000, 4096), -1) << "reaches past it";
  EXPECT_EQ(Error(), win::ERROR_DEV_NOT_EXIST);
  EXPECT_EQ(WriteAt(0, 512), -1);
  EXPECT_EQ(Error(), win::ERROR_DEV_NOT_EXIST);
  EXPECT_FALSE((*m_io)->Flush(m_handle));
  EXPECT_EQ(Error(), win::ERROR_DEV_NOT_EXIST);
}

// A lost write reports success and keeps what was there; ReadAt shows the disk as it is.
TEST(ImageDevice, LostWritesSucceedWithoutStoringAndReadsShowIt) {
  TempFolder folder;
  folder.Write("d.img", std::string(65536, 'o'));
  folder.Write("d.json", R"({"lost_writes": [[4096, 512], [8000, 100]]})");
  Backend io(folder);
  ASSERT_EQ(io.errors, "");
  const Handle h = io->Open(folder / "d.img", OpenMode::Working);
  ASSERT_NE(h, kInvalidHandle);
  const std::string zeros(16384, '\0');
  ASSERT_EQ(io->SeekDevice(h, 0), 0);
  EXPECT_EQ(io->Write(h, zeros.data(), 16384), 16384);
  std::string back(16384 + 10, 'x');
  EXPECT_EQ(io->ReadAt(h, 0, back.data(), 16384), 16384);
  std::string expected = zeros;
  expected.replace(4096, 512, std::string(512, 'o'));
  expected.replace(8000, 100, std::string(100, 'o'));
  EXPECT_EQ(back.substr(0, 16384), expected);
  EXPECT_EQ(io->ReadAt(h, 65536 - 10, back.data(), 100), 10) << "the end of the disk";
  EXPECT_EQ(back.substr(0, 10), std::string(10, 'o'));
  io->Close(h);
}

// Zeros become holes: a full format of a 2 GiB demo disk takes next to nothing on the machine's
// disk, while data written beside the zeros stays where it was written.
TEST(ImageDevice, AFullFormatLeavesTheImageSparseAndZero) {
  constexpr int64_t kDisk = int64_t{2} << 30;
  constexpr int64_t kMiB = 1 << 20;
  TempFolder folder;
  folder.Image("d.img", kDisk);
  {
    Backend io(folder);
    const Handle h = io->Open(folder / "d.img", OpenMode::Working);
    ASSERT_NE(h, kInvalidHandle);
    // Unaligned, with data in the middle of zeros and zeros over the end of the data.
    std::string block(3 * kMiB + 5, '\0');
    std::fill_n(block.begin() + kMiB, 10, 'd');
    for (const int64_t at : {int64_t{0}, kDisk / 2 - 7, kDisk - int64_t(block.size())}) {
      ASSERT_EQ(io->SeekDevice(h, at), at);
      ASSERT_EQ(io->Write(h, block.data(), int64_t(block.size())), int64_t(block.size()));
    }
    io->Close(h);
    std::string image(block.size(), 'x');
    std::ifstream(folder / "d.img", std::ios::binary).read(image.data(), int64_t(image.size()));
    EXPECT_EQ(image, block);
  }
  struct stat before {};
  ASSERT_EQ(stat((folder / "d.img").c_str(), &before), 0);
  EXPECT_GT(before.st_blocks, 0);

  const test::CommandResult run = test::RunCommand("FERROWIPE_DISKS='" + folder.Path() + "' '" +
                                                   CLI_PATH "' format --yes '" +
                                                   folder / "d.img" + "' </dev/null");
  ASSERT_EQ(run.status, 0) << run.output;

  struct stat after {};
  ASSERT_EQ(stat((folder / "d.img").c_str(), &after), 0);
  EXPECT_EQ(after.st_size, kDisk);
  EXPECT_LE(after.st_blocks * 512, 64 * 1024) << "allocated after the format";
  // No data left anywhere in the file: every byte reads back as zero. Reading 2 GiB of holes
  // would prove the same at length; the places that held data are read back to be sure.
  const int fd = ::open((folder / "d.img").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(::lseek(fd, 0, SEEK_DATA), -1);
  EXPECT_EQ(errno, ENXIO);
  for (const int64_t at : {int64_t{0}, kDisk / 2 - kMiB, kDisk - 4 * kMiB}) {
    std::string back(4 * kMiB, 'x');
    ASSERT_EQ(::pread(fd, back.data(), back.size(), at), ssize_t(back.size()));
    EXPECT_EQ(back, std::string(back.size(), '\0')) << at;
  }
  ::close(fd);
}

TEST(ImageDevice, AnImageSwappedForAFifoAfterTheScanIsRefusedAtOnce) {
  TempFolder folder;
  folder.Image("d.img", 1 << 20);
  Backend io(folder);
  fs::remove(folder / "d.img");
  ASSERT_EQ(mkfifo((folder / "d.img").c_str(), 0600), 0);
  for (const OpenMode mode : {OpenMode::Identification, OpenMode::Working}) {
    EXPECT_EQ(io->Open(folder / "d.img", mode), kInvalidHandle);
    EXPECT_EQ(io->LastError(), win::ERROR_ACCESS_DENIED);
  }
}

TEST(ImageDevice, PositionsAndWritesStayWithinTheDisk) {
  TempFolder folder;
  folder.Image("d.img", 8192);
  Backend io(folder);
  const Handle h = io->Open(folder / "d.img", OpenMode::Working);
  ASSERT_NE(h, kInvalidHandle);
  EXPECT_EQ(io->SeekDevice(h, 0), 0);
  EXPECT_EQ(io->SeekDevice(h, 8192), 8192);
  EXPECT_EQ(io->SeekDevice(h, 8193), -1);
  EXPECT_EQ(io->LastError(), win::ERROR_INVALID_PARAMETER);
  EXPECT_EQ(io->SeekDevice(h, -1), -1);
  const std::string data(4096, 'q');
  EXPECT_EQ(io->SeekDevice(h, 8192), 8192);
  EXPECT_EQ(io->Write(h, data.data(), 512), -1);
  EXPECT_EQ(io->LastError(), win::ERROR_DISK_FULL);
  EXPECT_EQ(io->SeekDevice(h, 6144), 6144);
  EXPECT_EQ(io->Write(h, data.data(), 4096), 2048) << "only the part that fits";
  io->Close(h);
  EXPECT_EQ(fs::file_size(folder / "d.img"), 8192u) << "the image never grows";

  const Handle reader = io->Open(folder / "d.img", OpenMode::Identification);
  EXPECT_EQ(io->Write(reader, data.data(), 512), -1);
  EXPECT_EQ(io->LastError(), win::ERROR_ACCESS_DENIED);
  io->Close(reader);
  EXPECT_EQ(io->Write(reader, data.data(), 512), -1);
  EXPECT_EQ(io->LastError(), win::ERROR_INVALID_HANDLE);
}

TEST(ImageDevice, WorkingOpenIsExclusiveInAndAcrossProcesses) {
  TempFolder folder;
  folder.Image("d.img", 1 << 20);
  Backend io(folder);
  Backend other(folder);
  const Handle first = io->Open(folder / "d.img", OpenMode::Working);
  ASSERT_NE(first, kInvalidHandle);
  EXPECT_EQ(io->LastError(), 0u);
  EXPECT_EQ(io->Open(folder / "d.img", OpenMode::Working), kInvalidHandle);
  EXPECT_EQ(io->LastError(), win::ERROR_SHARING_VIOLATION);
  EXPECT_EQ(other->Open(folder / "d.img", OpenMode::Working), kInvalidHandle);
  EXPECT_EQ(other->LastError(), win::ERROR_SHARING_VIOLATION);
  const Handle reader = other->Open(folder / "d.img", OpenMode::Identification);
  EXPECT_NE(reader, kInvalidHandle) << "identification stays possible";
  other->Close(reader);

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::string errors;
    const auto own = CreateImageDeviceIo(folder.Path(), &errors);
    const bool refused = own->Open(folder / "d.img", OpenMode::Working) == kInvalidHandle &&
                         own->LastError() == win::ERROR_SHARING_VIOLATION;
    ::_exit(refused ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "another process is refused";

  io->Close(first);
  const Handle again = other->Open(folder / "d.img", OpenMode::Working);
  EXPECT_NE(again, kInvalidHandle) << "closing lets go of the lock";
  other->Close(again);
}

TEST(ImageDevice, VolumesLockClaimAndDeviceNumbers) {
  TempFolder folder;
  folder.Image("0.img", 1 << 20);
  folder.Image("1.img", 1 << 20);
  folder.Write("1.json", R"({"mounts": [{"mount_point": "/media/a", "partition": 1},
                                      {"mount_point": "/media/b", "partition": 5, "busy": true}]})");
  folder.Image("2.img", 1 << 20);
  folder.Write("2.json", R"({"mounts": [{"mount_point": "/media/c"}], "fail": {"lock": 19}})");
  Backend io(folder);
  ASSERT_EQ(io.errors, "");
  EXPECT_EQ(io->LogicalDrives(), (std::vector<std::string>{"/media/a", "/media/b", "/media/c"}));

  const auto deviceNumber = [&](const std::string& volume) {
    const Handle h = io->Open(volume, OpenMode::VolumeQuery);
    std::vector<uint8_t> reply(1024);
    EXPECT_TRUE(Control(*io.io, h, ioctl::IOCTL_STORAGE_GET_DEVICE_NUMBER, &reply));
    io->Close(h);
    return win::LoadLayout<win::STORAGE_DEVICE_NUMBER>(reply.data(), reply.size());
  };
  const auto b = deviceNumber("/media/b");
  EXPECT_EQ(b.DeviceType, 7u);
  EXPECT_EQ(b.DeviceNumber, 1u);
  EXPECT_EQ(b.PartitionNumber, 5u);
  EXPECT_EQ(deviceNumber("/media/c").DeviceNumber, 2u);
  EXPECT_EQ(deviceNumber("/media/c").PartitionNumber, 1u) << "partition 1 by default";

  const auto lock = [&](const std::string& volume, uint32_t* error) {
    const Handle h = io->Open(volume, OpenMode::VolumeLock);
    EXPECT_NE(h, kInvalidHandle) << volume;
    const bool ok = Control(*io.io, h, ioctl::FSCTL_LOCK_VOLUME);
    *error = io->LastError();
    if (ok) {
      EXPECT_TRUE(Control(*io.io, h, ioctl::FSCTL_DISMOUNT_VOLUME));
      EXPECT_TRUE(Control(*io.io, h, ioctl::FSCTL_ALLOW_EXTENDED_DASD_IO));
    }
    io->Close(h);
    return ok;
  };
  uint32_t error = 0;
  EXPECT_EQ(io->Open(folder / "1.img", OpenMode::Claim), kInvalidHandle);
  EXPECT_EQ(io->LastError(), win::ERROR_SHARING_VIOLATION) << "claimed while mounted";
  EXPECT_TRUE(lock("/media/a", &error));
  EXPECT_FALSE(lock("/media/b", &error));
  EXPECT_EQ(error, win::ERROR_SHARING_VIOLATION) << "busy";
  EXPECT_FALSE(lock("/media/c", &error));
  EXPECT_EQ(error, 19u) << "fail.lock";
  EXPECT_EQ(io->LogicalDrives(), (std::vector<std::string>{"/media/b", "/media/c"}))
      << "a locked volume is unmounted for good";
  EXPECT_EQ(io->Open("/media/a", OpenMode::VolumeQuery), kInvalidHandle);
  EXPECT_EQ(io->Open(folder / "1.img", OpenMode::Claim), kInvalidHandle) << "b still mounted";

  // A query handle has no data access, so it cannot lock.
  const Handle query = io->Open("/media/b", OpenMode::VolumeQuery);
  EXPECT_FALSE(Control(*io.io, query, ioctl::FSCTL_LOCK_VOLUME));
  EXPECT_EQ(io->LastError(), win::ERROR_ACCESS_DENIED);
  io->Close(query);

  const Handle claim = io->Open(folder / "0.img", OpenMode::Claim);
  ASSERT_NE(claim, kInvalidHandle) << "no volumes: the claim is free";
  EXPECT_EQ(io->Open(folder / "0.img", OpenMode::Claim), kInvalidHandle);
  EXPECT_EQ(io->LastError(), win::ERROR_SHARING_VIOLATION);
  const Handle working = io->Open(folder / "0.img", OpenMode::Working);
  ASSERT_NE(working, kInvalidHandle) << "the working handle and the claim go together";
  EXPECT_TRUE(Control(*io.io, working, ioctl::IOCTL_DISK_UPDATE_PROPERTIES));
  io->Close(claim);
  const Handle again = io->Open(folder / "0.img", OpenMode::Claim);
  EXPECT_NE(again, kInvalidHandle);
  io->Close(again);
  io->Close(working);

  EXPECT_EQ(io->Open("/media/none", OpenMode::VolumeQuery), kInvalidHandle);
  EXPECT_EQ(io->LastError(), win::ERROR_FILE_NOT_FOUND);
}

TEST(ImageDevice, ErrorTextsAreTheSystemMessages) {
  TempFolder folder;
  Backend io(folder);
  const std::pair<uint32_t, std::string> cases[] = {
      {win::ERROR_DEV_NOT_EXIST, "No such device"},
      {win::ERROR_SHARING_VIOLATION, "Device or resource busy"},
      {win::ERROR_ACCESS_DENIED, "Permission denied"},
      {win::ERROR_WRITE_PROTECT, "Read-only file system"},
      {win::ERROR_FILE_NOT_FOUND, "No such file or directory"},
      {9999, "Unknown error 9999"},
  };
  for (const auto& [code, text] : cases) EXPECT_EQ(io->ErrorText(code), text) << code;
}

TEST(ImageDevice, TheBackendOfTheRunFollowsFerrowipeDisks) {
  TempFolder folder;
  folder.Image("d.img", 1 << 20);
  folder.Image("e.img", 1 << 20);
  folder.Write("e.json", "{");
  const char* previous = std::getenv("FERROWIPE_DISKS");
  const std::string saved = previous != nullptr ? previous : "";
  ::setenv("FERROWIPE_DISKS", folder.Path().c_str(), 1);
  testing::internal::CaptureStderr();
  const std::unique_ptr<DeviceIo> io = CreateDeviceBackend();
  const std::string err = testing::internal::GetCapturedStderr();
  if (previous != nullptr) {
    ::setenv("FERROWIPE_DISKS", saved.c_str(), 1);
  } else {
    ::unsetenv("FERROWIPE_DISKS");
  }
  ASSERT_NE(io, nullptr);
  EXPECT_EQ(io->PhysicalDrivePath(0), folder / "d.img");
  EXPECT_EQ(io->PhysicalDrivePath(1), "");
  EXPECT_EQ(err.rfind(folder / "e.json: not valid JSON", 0), 0u) << err;
}

}  // namespace
}  // namespace fw
