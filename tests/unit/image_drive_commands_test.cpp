// The simulated disks' answers to the drive's own erase and hidden-area commands, through the
// image backend's DeviceIo, with commands built by the program's own builders.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "device/ata_transport.hpp"
#include "device/backends.hpp"
#include "device/control_codes.hpp"
#include "device/erase_capabilities.hpp"
#include "device/image/image_drive.hpp"
#include "device/image/scrambled_stretches.hpp"
#include "device/purge_commands.hpp"
#include "device/win_layouts.hpp"
#include "identify_sectors.hpp"
#include "nvme_pages.hpp"
#include "temp_folder.hpp"

namespace fw {
namespace {

using test::IdentifyWords;
using test::SetIdentifyWord;

class ManualClock final : public Clock {
 public:
  int64_t NowMs() override { return now; }
  int64_t now = 1000;
};

constexpr int64_t kImageBytes = 8 << 20;
constexpr int64_t kSectors = kImageBytes / 512;

IdentifyWords SanitizeSsd() { return test::DemoSanitizeSsdIdentify(); }
// A hard disk with HPA, DCO, 48-bit addressing and the enhanced security erase.
IdentifyWords SecurityHdd() { return test::FixtureIdentify("SAMSUNG_HD501LJ--CR100-12.identify"); }
IdentifyWords WithWord(IdentifyWords s, size_t word, uint16_t orBits, uint16_t andBits = 0xFFFF) {
  SetIdentifyWord(s, word, static_cast<uint16_t>((test::IdentifyWord(s, word) & andBits) | orBits));
  return s;
}

// One simulated disk in a folder of its own; Restart() is the program started again.
struct SimDisk {
  test::TempFolder folder;
  std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
  std::unique_ptr<DeviceIo> io;
  std::string path = folder / "d.img";
  std::string errors;
  Handle working = kInvalidHandle;

  SimDisk(const std::string& extraJson, std::optional<IdentifyWords> identify, bool nvme = false) {
    folder.Image("d.img", kImageBytes);
    std::string json = R"({"bus_type": )" + std::string(nvme ? "17" : "11");
    if (identify) {
      std::ofstream(folder / "d.identify", std::ios::binary)
          .write(reinterpret_cast<const char*>(identify->data()), 512);
      json += R"(, "identify": "d.identify")";
    }
    if (nvme) {
      const auto write = [&](const char* name, const auto& page) {
        std::ofstream(folder / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(page.data()), static_cast<std::streamsize>(page.size()));
      };
      write("d.ctrl", test::DemoNvmeController());
      write("d.ns", test::DemoNvmeNamespace());
      json += R"(, "nvme_identify_controller": "d.ctrl", "nvme_identify_namespace": "d.ns")";
    }
    folder.Write("d.json", json + (extraJson.empty() ? "" : ", " + extraJson) + "}");
    Restart();
  }

  void Restart() {
    if (io && working != kInvalidHandle) io->Close(working);
    io.reset();
    io = CreateImageDeviceIo(folder.Path(), &errors, clock);
    working = io->Open(path, OpenMode::Working);
  }

  AtaReply Ata(const AtaCommand& command, std::span<uint8_t> data = {}) {
    return io->SendAtaCommand(working, command, data);
  }
  AtaReply AtaWithSector(const AtaCommand& command, std::array<uint8_t, 512> sector) {
    return Ata(command, sector);
  }
  NvmeReply Nvme(const NvmeAdminCommand& command, std::vector<uint8_t>* data = nullptr) {
    std::vector<uint8_t> none;
    std::vector<uint8_t>& buffer = data != nullptr ? *data : none;
    buffer.resize(command.dataLength);
    return io->SendNvmeAdminCommand(working, command, buffer);
  }

  bool Put(int64_t offset, const std::vector<uint8_t>& bytes) {
    return io->SeekDevice(working, offset) == offset &&
           io->Write(working, bytes.data(), static_cast<int64_t>(bytes.size())) ==
               static_cast<int64_t>(bytes.size());
  }
  std::vector<uint8_t> Get(int64_t offset, int64_t count) {
    std::vector<uint8_t> bytes(static_cast<size_t>(count));
    const int64_t n = io->ReadAt(working, offset, bytes.data(), count);
    bytes.resize(n < 0 ? 0 : static_cast<size_t>(n));
    return bytes;
  }
  int64_t Length() {
    win::GET_LENGTH_INFORMATION length{};
    uint32_t returned = 0;
    EXPECT_TRUE(io->DeviceControl(working, ioctl::IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length,
                                  sizeof(length), &returned));
    return length.Length;
  }
  IdentifyWords Identify() {
    Sector sector{};
    EXPECT_TRUE(ReadIdentifySector(*io, working, 0, sector));
    return sector;
  }
  SanitizeProgress AtaProgress() { return DecodeAtaSanitizeStatus(Ata(AtaSanitizeStatus())); }
  SanitizeProgress NvmeProgress() {
    std::vector<uint8_t> page;
    EXPECT_EQ(Nvme(NvmeSanitizeStatusLog(), &page).outcome, CommandOutcome::Success);
    return DecodeNvmeSanitizeLog(page);
  }
};

const std::vector<uint8_t> kOld(4096, 0x5A);
const int64_t kProbes[] = {0, kImageBytes / 2, kImageBytes - 4096};

void WriteOld(SimDisk& disk) {
  for (const int64_t at : kProbes) ASSERT_TRUE(disk.Put(at, kOld));
}

enum class Medium { Unchanged, Zeros, Pattern11223344, Scrambled };

std::string Describe(const std::vector<uint8_t>& bytes) {
  if (bytes == kOld) return "unchanged";
  if (std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; })) return "zeros";
  bool pattern = bytes.size() == 4096;
  for (size_t i = 0; pattern && i < bytes.size(); ++i) {
    pattern = bytes[i] == static_cast<uint8_t>(0x11223344u >> (8 * (i % 4)));
  }
  return pattern ? "pattern" : "scrambled";
}

const char* Word(Medium m) {
  static constexpr const char* kWords[] = {"unchanged", "zeros", "pattern", "scrambled"};
  return kWords[static_cast<int>(m)];
}

std::array<uint8_t, 512> Password(const char* text, bool enhanced = false) {
  return SecuritySector(text, enhanced);
}

AtaCommand WithLba(AtaCommand command, uint64_t lba) {
  command.registers.lba = lba;
  return command;
}

AtaCommand SanitizeFreezeLock() {
  AtaCommand command = AtaSanitizeStatus();
  command.registers.feature = 0x0020;
  command.registers.lba = 0x46724C6B;
  return command;
}

AtaCommand IdentifyCommand() {
  AtaCommand command;
  command.registers.command = 0xEC;
  command.protocol = AtaProtocol::PioDataIn;
  command.extended = false;
  return command;
}

struct AtaCase {
  const char* name;
  std::function<IdentifyWords()> identify;
  const char* json;
  // Every step but the last must succeed; the last gives the outcome.
  std::function<std::vector<AtaReply>(SimDisk&)> steps;
  CommandOutcome outcome;
  Medium medium;
};

void PrintTo(const AtaCase& c, std::ostream* os) { *os << c.name; }

class AtaCommands : public testing::TestWithParam<AtaCase> {};

TEST_P(AtaCommands, AnswerAndMedium) {
  const AtaCase& c = GetParam();
  SimDisk disk(c.json, c.identify());
  ASSERT_EQ(disk.errors, "");
  WriteOld(disk);
  const std::vector<AtaReply> replies = c.steps(disk);
  ASSERT_FALSE(replies.empty());
  for (size_t i = 0; i + 1 < replies.size(); ++i) {
    EXPECT_EQ(replies[i].outcome, CommandOutcome::Success) << "step " << i;
  }
  EXPECT_EQ(replies.back().outcome, c.outcome);
  if (c.outcome == CommandOutcome::DeviceError) {
    EXPECT_TRUE(replies.back().registersValid);
    EXPECT_EQ(replies.back().status & 1, 1) << "ERR";
    EXPECT_EQ(replies.back().error, 0x04) << "ABRT";
  }
  for (const int64_t at : kProbes) EXPECT_EQ(Describe(disk.Get(at, 4096)), Word(c.medium)) << at;
}

std::vector<AtaReply> SecurityErase(SimDisk& d, bool enhanced, const char* erasePassword = "pw") {
  return {d.AtaWithSector(AtaSecuritySetPassword(), Password("pw")),
          d.Ata(AtaSecurityErasePrepare()),
          d.AtaWithSector(AtaSecurityEraseUnit(600), Password(erasePassword, enhanced))};
}

INSTANTIATE_TEST_SUITE_P(
    SimulatedDrive, AtaCommands,
    testing::Values(
        AtaCase{"BlockErase", SanitizeSsd, "",
                [](SimDisk& d) { return std::vector{d.Ata(AtaSanitize(SanitizeAction::BlockErase))}; },
                CommandOutcome::Success, Medium::Zeros},
        AtaCase{"CryptoScramble", SanitizeSsd, "",
                [](SimDisk& d) { return std::vector{d.Ata(AtaSanitize(SanitizeAction::CryptoErase))}; },
                CommandOutcome::Success, Medium::Scrambled},
        AtaCase{"Overwrite", [] { return WithWord(SanitizeSsd(), 59, 0x4000); }, "",
                [](SimDisk& d) {
                  return std::vector{d.Ata(AtaSanitize(SanitizeAction::Overwrite, 0x11223344, 1))};
                },
                CommandOutcome::Success, Medium::Pattern11223344},
        AtaCase{"OverwriteNotOffered", SanitizeSsd, "",
                [](SimDisk& d) { return std::vector{d.Ata(AtaSanitize(SanitizeAction::Overwrite))}; },
                CommandOutcome::DeviceError, Medium::Unchanged},
        AtaCase{"NoSanitizeFeatureSet", SecurityHdd, "",
                [](SimDisk& d) { return std::vector{d.Ata(AtaSanitize(SanitizeAction::BlockErase))}; },
                CommandOutcome::DeviceError, Medium::Unchanged},
        AtaCase{"WrongKey", SanitizeSsd, "",
                [](SimDisk& d) {
                  return std::vector{d.Ata(WithLba(AtaSanitize(SanitizeAction::BlockErase), 0x43727970))};
                },
                CommandOutcome::DeviceError, Medium::Unchanged},
        AtaCase{"AfterSanitizeFreezeLock", SanitizeSsd, "",
                [](SimDisk& d) {
                  return std::vector{d.Ata(SanitizeFreezeLock()),
                                     d.Ata(AtaSanitize(SanitizeAction::CryptoErase))};
                },
                CommandOutcome::DeviceError, Medium::Unchanged},
        AtaCase{"SanitizeOffTheWorkingHandle", SanitizeSsd, "",
                [](SimDisk& d) {
                  const Handle h = d.io->Open(d.path, OpenMode::Identification);
                  const AtaReply r = d.io->SendAtaCommand(h, AtaSanitize(SanitizeAction::BlockErase), {});
                  d.io->Close(h);
                  return std::vector{r};
                },
                CommandOutcome::NotSupported, Medium::Unchanged},
        AtaCase{"EnhancedSecurityErase", SecurityHdd, "",
                [](SimDisk& d) { return SecurityErase(d, true); }, CommandOutcome::Success, Medium::Zeros},
        AtaCase{"EnhancedEraseNotOffered", [] { return WithWord(SecurityHdd(), 128, 0, 0xFFDF); }, "",
                [](SimDisk& d) { return SecurityErase(d, true); }, CommandOutcome::DeviceError,
                Medium::Unchanged},
        AtaCase{"WrongPassword", SecurityHdd, "",
                [](SimDisk& d) { return SecurityErase(d, false, "other"); },
                CommandOutcome::DeviceError, Medium::Unchanged},
        AtaCase{"EraseUnitNotRightAfterPrepare", SecurityHdd, "",
                [](SimDisk& d) {
                  std::array<uint8_t, 512> identify{};
                  return std::vector{d.AtaWithSector(AtaSecuritySetPassword(), Password("pw")),
                                     d.Ata(AtaSecurityErasePrepare()), d.Ata(IdentifyCommand(), identify),
                                     d.AtaWithSector(AtaSecurityEraseUnit(600), Password("pw"))};
                },
                CommandOutcome::DeviceError, Medium::Unchanged},
        AtaCase{"FrozenRefusesSetPassword", [] { return WithWord(SecurityHdd(), 128, 0x0008); }, "",
                [](SimDisk& d) {
                  return std::vector{d.AtaWithSector(AtaSecuritySetPassword(), Password("pw"))};
                },
                CommandOutcome::DeviceError, Medium::Unchanged},
        AtaCase{"FailingSecurityErase", SecurityHdd, R"("fail": {"security_erase": 1})",
                [](SimDisk& d) { return SecurityErase(d, true); }, CommandOutcome::DeviceError,
                Medium::Unchanged}),
    [](const testing::TestParamInfo<AtaCase>& info) { return info.param.name; });

TEST(SimulatedDrive, IdentifyFollowsTheSecurityState) {
  SimDisk disk(R"("fail": {"security_erase": 1})", SecurityHdd());
  const auto security = [&] { return DecodeAtaEraseFeatures(disk.Identify()).security; };
  EXPECT_FALSE(security().enabled);
  ASSERT_EQ(SecurityErase(disk, true).back().outcome, CommandOutcome::DeviceError);
  EXPECT_TRUE(security().enabled) << "a failed erase leaves the password set";
  // The drive keeps its password over a new run of the program, and the password removes it.
  disk.Restart();
  EXPECT_TRUE(security().enabled);
  EXPECT_EQ(disk.AtaWithSector(AtaSecurityDisablePassword(), Password("wrong")).outcome,
            CommandOutcome::DeviceError);
  EXPECT_EQ(disk.AtaWithSector(AtaSecurityDisablePassword(), Password("pw")).outcome,
            CommandOutcome::Success);
  EXPECT_FALSE(security().enabled);
}

// Two backends on one disk set (the disks' threads of one run each have their own): what one
// does to the drive, the other finds there at its next command.
TEST(SimulatedDrive, BackendsOfOneSetSeeTheSameDrive) {
  SimDisk disk(R"("sanitize_seconds": 10)", SanitizeSsd());
  const std::unique_ptr<DeviceIo> other = CreateImageDeviceIo(disk.folder.Path(), nullptr, disk.clock);
  const Handle h = other->Open(disk.path, OpenMode::Identification);
  std::vector<uint8_t> sector(512);
  ASSERT_EQ(other->ReadAt(h, 0, sector.data(), 512), 512);
  ASSERT_EQ(disk.Ata(AtaSanitize(SanitizeAction::BlockErase)).outcome, CommandOutcome::Success);
  EXPECT_EQ(other->ReadAt(h, 0, sector.data(), 512), -1);
  EXPECT_EQ(other->LastError(), win::ERROR_NOT_READY);
  EXPECT_EQ(DecodeAtaSanitizeStatus(other->SendAtaCommand(h, AtaSanitizeStatus(), {})).state,
            SanitizeState::InProgress);
  other->Close(h);
}

TEST(SimulatedDrive, LockedDriveRefusesTheMediumAndTheErase) {
  SimDisk disk("", WithWord(SecurityHdd(), 128, 0x0006));
  EXPECT_TRUE(DecodeAtaEraseFeatures(disk.Identify()).security.locked);
  EXPECT_TRUE(disk.Get(0, 4096).empty());
  EXPECT_EQ(disk.io->LastError(), win::ERROR_IO_DEVICE);
  EXPECT_EQ(disk.AtaWithSector(AtaSecuritySetPassword(), Password("pw")).outcome,
            CommandOutcome::DeviceError);
  EXPECT_EQ(disk.Ata(AtaSanitize(SanitizeAction::BlockErase)).outcome, CommandOutcome::DeviceError);
}

// Bytes written before a crypto erase read back as bytes of the erase's key and the offset: not
// what was written, not zeros, the same on every read and after a new run, until written again.
TEST(SimulatedDrive, CryptoEraseReadsBackAsKeyedBytes) {
  SimDisk disk("", SanitizeSsd());
  std::vector<uint8_t> data(1 << 20);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + 1);
  ASSERT_TRUE(disk.Put(0, data));
  ASSERT_EQ(disk.Ata(AtaSanitize(SanitizeAction::CryptoErase)).outcome, CommandOutcome::Success);
  const std::vector<uint8_t> after = disk.Get(0, 1 << 20);
  ASSERT_EQ(after.size(), data.size());
  size_t same = 0;
  size_t zeros = 0;
  for (size_t i = 0; i < data.size(); i += 512) {
    same += std::memcmp(&after[i], &data[i], 512) == 0;
    zeros += std::all_of(&after[i], &after[i] + 512, [](uint8_t b) { return b == 0; });
  }
  EXPECT_EQ(same, 0u);
  EXPECT_EQ(zeros, 0u);
  EXPECT_EQ(disk.Get(0, 1 << 20), after);
  // What the image file holds is not what was written: the data is gone for good.
  std::ifstream image(disk.path, std::ios::binary);
  std::vector<char> raw(4096);
  image.read(raw.data(), 4096);
  EXPECT_NE(std::memcmp(raw.data(), data.data(), 4096), 0);

  const std::vector<uint8_t> fresh(4096, 0x33);
  ASSERT_TRUE(disk.Put(8192, fresh));
  disk.Restart();
  EXPECT_EQ(disk.Get(8192, 4096), fresh);
  const std::vector<uint8_t> around = disk.Get(0, 1 << 20);
  EXPECT_TRUE(std::equal(around.begin(), around.begin() + 8192, after.begin()));
  EXPECT_TRUE(std::equal(around.begin() + 12288, around.end(), after.begin() + 12288));

  ASSERT_EQ(disk.Ata(AtaSanitize(SanitizeAction::CryptoErase)).outcome, CommandOutcome::Success);
  EXPECT_NE(disk.Get(0, 4096), std::vector<uint8_t>(after.begin(), after.begin() + 4096))
      << "each erase has a key of its own";
}

// A sanitize runs `sanitize_seconds`, reported by the status it is polled with; meanwhile the
// medium is refused, a new run of the program finds it still running.
class SanitizeProgressOverTime : public testing::TestWithParam<bool> {};

TEST_P(SanitizeProgressOverTime, FollowsTheClock) {
  const bool nvme = GetParam();
  SimDisk disk(R"("sanitize_seconds": 10)", nvme ? std::nullopt : std::optional(SanitizeSsd()), nvme);
  WriteOld(disk);
  const auto progress = [&] { return nvme ? disk.NvmeProgress() : disk.AtaProgress(); };
  EXPECT_EQ(progress().state, SanitizeState::Idle);
  if (nvme) {
    ASSERT_EQ(disk.Nvme(NvmeSanitize(SanitizeAction::BlockErase)).outcome, CommandOutcome::Success);
  } else {
    ASSERT_EQ(disk.Ata(AtaSanitize(SanitizeAction::BlockErase)).outcome, CommandOutcome::Success);
  }
  struct Point {
    int64_t ms;
    SanitizeState state;
    double fraction;
  };
  for (const Point p : {Point{0, SanitizeState::InProgress, 0.0}, Point{2500, SanitizeState::InProgress, 0.25},
                        Point{7500, SanitizeState::InProgress, 0.75},
                        Point{10000, SanitizeState::Completed, -1}}) {
    disk.clock->now = 1000 + p.ms;
    if (p.ms == 7500) disk.Restart();
    const SanitizeProgress now = progress();
    EXPECT_EQ(now.state, p.state) << p.ms;
    if (p.fraction >= 0) {
      ASSERT_TRUE(now.fraction.has_value()) << p.ms;
      EXPECT_NEAR(*now.fraction, p.fraction, 0.001) << p.ms;
      EXPECT_TRUE(disk.Get(0, 4096).empty());
      EXPECT_EQ(disk.io->LastError(), win::ERROR_NOT_READY);
      EXPECT_FALSE(disk.Put(0, kOld));
    }
  }
  for (const int64_t at : kProbes) EXPECT_EQ(Describe(disk.Get(at, 4096)), "zeros");
}

INSTANTIATE_TEST_SUITE_P(SimulatedDrive, SanitizeProgressOverTime, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                           return info.param ? "Nvme" : "Ata";
                         });

TEST(SimulatedDrive, FailedSanitizeLeavesTheMediumUntilCleared) {
  SimDisk disk(R"("sanitize_seconds": 1, "fail": {"sanitize": 1})", SanitizeSsd());
  WriteOld(disk);
  ASSERT_EQ(disk.Ata(AtaSanitize(SanitizeAction::BlockErase)).outcome, CommandOutcome::Success);
  disk.clock->now += 1000;
  EXPECT_EQ(disk.AtaProgress().state, SanitizeState::Failed);
  EXPECT_TRUE(disk.Get(0, 4096).empty());
  EXPECT_EQ(disk.io->LastError(), win::ERROR_IO_DEVICE);
  EXPECT_EQ(DecodeAtaSanitizeStatus(disk.Ata(AtaSanitizeStatus(true))).state, SanitizeState::Idle);
  for (const int64_t at : kProbes) EXPECT_EQ(Describe(disk.Get(at, 4096)), "unchanged");
}

// A hidden area: the disk shows `accessible_sectors` until its max address is set to the native
// one, and the system sees the new size once it reads it again. Both ways of setting it.
struct MaxAddressWay {
  const char* name;
  std::function<IdentifyWords()> identify;
  std::function<AtaReply(SimDisk&, uint64_t)> setMax;  // to this max LBA
};

void PrintTo(const MaxAddressWay& w, std::ostream* os) { *os << w.name; }

class HiddenArea : public testing::TestWithParam<MaxAddressWay> {};

TEST_P(HiddenArea, OpensWithTheMaxAddress) {
  const int64_t shown = kSectors - 2048;
  SimDisk disk("\"accessible_sectors\": " + std::to_string(shown), GetParam().identify());
  ASSERT_EQ(disk.errors, "");
  EXPECT_EQ(disk.Length(), shown * 512);
  EXPECT_EQ(DecodeAtaEraseFeatures(disk.Identify()).accessibleSectors, shown);
  EXPECT_EQ(NativeSectorsFromReply(disk.Ata(AtaReadNativeMaxExt())), kSectors);
  EXPECT_EQ(NativeSectorsFromReply(disk.Ata(AtaGetNativeMaxAddress())).value_or(kSectors), kSectors);
  EXPECT_EQ(disk.io->SeekDevice(disk.working, shown * 512 + 512), -1) << "past the shown end";
  EXPECT_TRUE(disk.Get(shown * 512, 512).empty());

  EXPECT_EQ(GetParam().setMax(disk, kSectors).outcome, CommandOutcome::DeviceError) << "past native";
  ASSERT_EQ(GetParam().setMax(disk, kSectors - 1).outcome, CommandOutcome::Success);
  EXPECT_EQ(DecodeAtaEraseFeatures(disk.Identify()).accessibleSectors, kSectors);
  EXPECT_EQ(disk.Length(), shown * 512) << "the system sees the old size until it reads it again";
  EXPECT_EQ(disk.io->RereadCapacity(disk.working), kImageBytes);
  EXPECT_EQ(disk.Length(), kImageBytes);
  const std::vector<uint8_t> last(512, 0x77);
  ASSERT_TRUE(disk.Put(kImageBytes - 512, last));
  disk.Restart();
  EXPECT_EQ(disk.Length(), kImageBytes) << "it stays open while the drive is powered";
  EXPECT_EQ(disk.Get(kImageBytes - 512, 512), last);
}

INSTANTIATE_TEST_SUITE_P(
    SimulatedDrive, HiddenArea,
    testing::Values(
        MaxAddressWay{"SetMaxAddressExt", SecurityHdd,
                      [](SimDisk& d, uint64_t lba) {
                        // Taken only right after READ NATIVE MAX ADDRESS EXT.
                        if (d.Ata(AtaSetMaxAddressExt(lba)).outcome != CommandOutcome::DeviceError) {
                          return AtaReply{};
                        }
                        d.Ata(AtaReadNativeMaxExt());
                        return d.Ata(AtaSetMaxAddressExt(lba));
                      }},
        MaxAddressWay{"SetAccessibleMaxAddress", [] { return WithWord(SecurityHdd(), 119, 0x0100); },
                      [](SimDisk& d, uint64_t lba) { return d.Ata(AtaSetAccessibleMaxAddress(lba)); }}),
    [](const testing::TestParamInfo<MaxAddressWay>& info) { return info.param.name; });

TEST(SimulatedDrive, FailingSetMaxAndTheDcoLeaveTheSize) {
  SimDisk disk(R"("accessible_sectors": 16000, "fail": {"set_max": 1})", SecurityHdd());
  disk.Ata(AtaReadNativeMaxExt());
  EXPECT_EQ(disk.Ata(AtaSetMaxAddressExt(kSectors - 1)).outcome, CommandOutcome::DeviceError);
  EXPECT_EQ(disk.io->RereadCapacity(disk.working), 16000 * 512);
  std::array<uint8_t, 512> dco{};
  ASSERT_EQ(disk.Ata(AtaDcoIdentify(), dco).outcome, CommandOutcome::Success);
  EXPECT_EQ(DcoMaxSectors(dco), kSectors) << "the overlay hides nothing";
}

// The enhanced erase reaches the hidden area; the normal one only the sectors the disk shows.
class SecurityEraseOfAHiddenArea : public testing::TestWithParam<bool> {};

TEST_P(SecurityEraseOfAHiddenArea, ReachesItOnlyWhenEnhanced) {
  const bool enhanced = GetParam();
  SimDisk disk("\"accessible_sectors\": " + std::to_string(kSectors - 2048), SecurityHdd());
  {
    std::fstream image(disk.path, std::ios::binary | std::ios::in | std::ios::out);
    image.seekp(kImageBytes - 4096);
    image.write(reinterpret_cast<const char*>(kOld.data()), 4096);
  }
  ASSERT_TRUE(disk.Put(0, kOld));
  ASSERT_EQ(SecurityErase(disk, enhanced).back().outcome, CommandOutcome::Success);
  EXPECT_EQ(Describe(disk.Get(0, 4096)), "zeros");
  disk.Ata(AtaReadNativeMaxExt());
  ASSERT_EQ(disk.Ata(AtaSetMaxAddressExt(kSectors - 1)).outcome, CommandOutcome::Success);
  disk.io->RereadCapacity(disk.working);
  EXPECT_EQ(Describe(disk.Get(kImageBytes - 4096, 4096)), enhanced ? "zeros" : "unchanged");
}

INSTANTIATE_TEST_SUITE_P(SimulatedDrive, SecurityEraseOfAHiddenArea, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                           return info.param ? "Enhanced" : "Normal";
                         });

struct NvmeCase {
  const char* name;
  const char* json;
  NvmeAdminCommand command;
  uint16_t status;
  Medium medium;
};

void PrintTo(const NvmeCase& c, std::ostream* os) { *os << c.name; }

class NvmeCommands : public testing::TestWithParam<NvmeCase> {};

TEST_P(NvmeCommands, AnswerAndMedium) {
  const NvmeCase& c = GetParam();
  SimDisk disk(c.json, std::nullopt, true);
  ASSERT_EQ(disk.errors, "");
  WriteOld(disk);
  const NvmeReply reply = disk.Nvme(c.command);
  EXPECT_EQ(reply.status, c.status);
  EXPECT_EQ(reply.outcome, c.status == 0 ? CommandOutcome::Success : CommandOutcome::DeviceError);
  for (const int64_t at : kProbes) EXPECT_EQ(Describe(disk.Get(at, 4096)), Word(c.medium)) << at;
}

NvmeAdminCommand FormatInLbaFormat(uint8_t lbaf) { return NvmeFormat(1, lbaf, false); }

INSTANTIATE_TEST_SUITE_P(
    SimulatedDrive, NvmeCommands,
    testing::Values(
        NvmeCase{"FormatUserDataErase", "", NvmeFormat(1, 0, false), 0, Medium::Zeros},
        NvmeCase{"FormatCryptoErase", "", NvmeFormat(1, 0, true), 0, Medium::Scrambled},
        NvmeCase{"FormatOfAnotherLbaFormat", "", FormatInLbaFormat(1), 0x010A, Medium::Unchanged},
        NvmeCase{"FormatOfNoSuchNamespace", "", NvmeFormat(2, 0, false), 0x000B, Medium::Unchanged},
        NvmeCase{"FormatFailing", R"("fail": {"format_nvm": 1})", NvmeFormat(1, 0, false), 0x0006,
                 Medium::Unchanged},
        NvmeCase{"SanitizeCrypto", "", NvmeSanitize(SanitizeAction::CryptoErase), 0, Medium::Scrambled},
        NvmeCase{"SanitizeOverwriteNotOffered", "", NvmeSanitize(SanitizeAction::Overwrite), 0x0002,
                 Medium::Unchanged}),
    [](const testing::TestParamInfo<NvmeCase>& info) { return info.param.name; });

TEST(SimulatedDrive, NvmeNamespaceListAndTheWorkingHandle) {
  SimDisk disk(R"("nvme_namespaces": 2)", std::nullopt, true);
  std::vector<uint8_t> list;
  ASSERT_EQ(disk.Nvme(NvmeActiveNamespaceList(), &list).outcome, CommandOutcome::Success);
  EXPECT_EQ(CountActiveNamespaces(list), 2u);
  const Handle h = disk.io->Open(disk.path, OpenMode::Identification);
  std::vector<uint8_t> none;
  const NvmeReply format = disk.io->SendNvmeAdminCommand(h, NvmeFormat(1, 0, false), none);
  EXPECT_EQ(format.outcome, CommandOutcome::NotSupported);
  EXPECT_EQ(format.code, win::ERROR_ACCESS_DENIED) << "not on the working handle";
  EXPECT_EQ(disk.io->SendAtaCommand(h, AtaSanitizeStatus(), {}).outcome, CommandOutcome::NotSupported)
      << "an NVMe disk takes no ATA command";
  disk.io->Close(h);
}

TEST(ScrambledStretches, WritesCutTheStretches) {
  image::ScrambledStretches s;
  s.ScrambleAll(42, 1000);
  s.Written(100, 200);
  s.Written(150, 300);
  s.Written(900, 2000);
  s.Written(0, 10);
  EXPECT_EQ(s.stretches(), (std::map<int64_t, int64_t>{{10, 100}, {300, 900}}));
  std::vector<uint8_t> bytes(20, 0xEE);
  s.Overlay(90, bytes.data(), 20);
  EXPECT_EQ(bytes[9], image::ScrambledByte(42, 99));
  EXPECT_EQ(bytes[10], 0xEE);
}

// Bad metadata for the new keys: one line naming the file and the key.
TEST(SimulatedDriveMetadata, BadValuesNameFileAndKey) {
  test::TempFolder folder;
  folder.Image("d.img", kImageBytes);
  const std::pair<const char*, const char*> cases[] = {
      {R"({"accessible_sectors": 0})", "key \"accessible_sectors\": a disk shows at least one sector"},
      {R"({"accessible_sectors": 16385})", "key \"accessible_sectors\": 16385 sectors, but"},
      {R"({"accessible_sectors": "all"})", "key \"accessible_sectors\": expected a whole number"},
      {R"({"sanitize_seconds": -1})", "key \"sanitize_seconds\": expected a number of seconds"},
      {R"({"sanitize_seconds": "long"})", "key \"sanitize_seconds\": expected a number of seconds"},
      {R"({"nvme_namespaces": 0})", "key \"nvme_namespaces\": expected a whole number from 1 to 1024"},
      {R"({"fail": {"sanitize": "yes"}})", "key \"fail.sanitize\": expected a whole number"},
      {R"({"fail": {"set_maxx": 1}})", "key \"fail.set_maxx\": unknown key"},
  };
  for (const auto& [json, problem] : cases) {
    std::string error;
    EXPECT_FALSE(image::ParseImageDrive(folder / "d.img", folder / "d.json", json, &error)) << json;
    EXPECT_NE(error.find(folder / "d.json"), std::string::npos) << error;
    EXPECT_NE(error.find(problem), std::string::npos) << error;
  }
}

TEST(SimulatedDriveMetadata, StateFileNotUnderstoodIsReportedAndLeftUnused) {
  SimDisk disk(R"("accessible_sectors": 16000)", SecurityHdd());
  disk.io.reset();
  disk.folder.Write("d.state", R"({"max_sectors": "many"})");
  disk.Restart();
  EXPECT_NE(disk.errors.find(disk.folder / "d.state"), std::string::npos) << disk.errors;
  EXPECT_EQ(disk.Length(), 16000 * 512);
}

TEST(SimulatedDrive, DemoSsdIdentifyFollowsItsRecipe) {
  const std::string name = "INTEL_SSDSA2CW120G3--4PC10302--sanitize.identify";
  const IdentifyWords recipe = test::DemoSanitizeSsdIdentify();
  if (std::getenv("FERROWIPE_WRITE_FIXTURES") != nullptr) {
    std::ofstream(std::string(FIXTURES_DIR) + "/drives/" + name, std::ios::binary)
        .write(reinterpret_cast<const char*>(recipe.data()), 512);
  }
  EXPECT_EQ(test::FixtureIdentify(name), recipe);
  const AtaEraseFeatures f = DecodeAtaEraseFeatures(recipe);
  EXPECT_TRUE(f.sanitize && f.sanitizeCrypto && f.sanitizeBlock && !f.sanitizeOverwrite);
  EXPECT_TRUE(f.nonRotating);
  EXPECT_FALSE(f.security.frozen || f.security.enabled);
}

}  // namespace
}  // namespace fw
