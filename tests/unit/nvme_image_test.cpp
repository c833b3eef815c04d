// A simulated NVMe disk: its identify and log files answer the three NVMe queries, each of
// which can be made to fail with a code of its own.
#include <gtest/gtest.h>

#include <string>

#include "device/backends.hpp"
#include "device/nvme_protocol.hpp"
#include "nvme_pages.hpp"
#include "temp_folder.hpp"

namespace fw {
namespace {

using test::TempFolder;

template <size_t N>
std::string Bytes(const std::array<uint8_t, N>& data) {
  return std::string(data.begin(), data.end());
}

void WriteNvmeDisk(const TempFolder& folder, const std::string& fail) {
  folder.Image("n.img", 1 << 20);
  folder.Write("n.json", R"({"bus_type": 17, "nvme_identify_controller": "n.ctrl",
      "nvme_identify_namespace": "n.ns", "nvme_smart_log": "n.log", "fail": {)" + fail + "}}");
  folder.Write("n.ctrl", Bytes(test::DemoNvmeController()));
  folder.Write("n.ns", Bytes(test::DemoNvmeNamespace()));
  folder.Write("n.log", Bytes(test::DemoNvmeHealthLog()));
}

struct Outcome {
  bool ok;
  uint32_t error;
};

std::array<Outcome, 3> AskAll(DeviceIo& io, Handle h) {
  nvme::IdentifyPage page{};
  nvme::HealthLog log{};
  std::array<Outcome, 3> out{};
  out[0].ok = NvmeIdentifyController(io, h, page);
  out[0].error = out[0].ok ? 0 : io.LastError();
  if (out[0].ok) {
    EXPECT_EQ(page, test::DemoNvmeController());
  }
  out[1].ok = NvmeIdentifyNamespace(io, h, page);
  out[1].error = out[1].ok ? 0 : io.LastError();
  if (out[1].ok) {
    EXPECT_EQ(page, test::DemoNvmeNamespace());
  }
  out[2].ok = NvmeReadHealthLog(io, h, log);
  out[2].error = out[2].ok ? 0 : io.LastError();
  if (out[2].ok) {
    EXPECT_EQ(log, test::DemoNvmeHealthLog());
  }
  return out;
}

TEST(NvmeImage, EachRequestAnswersFromItsFileOrFailsWithItsOwnCode) {
  const char* keys[] = {"nvme_identify_controller", "nvme_identify_namespace", "nvme_smart_log"};
  for (int failing = -1; failing < 3; ++failing) {
    TempFolder folder;
    WriteNvmeDisk(folder, failing < 0 ? "" : std::string("\"").append(keys[failing]) + "\": 1117");
    std::string errors;
    const std::unique_ptr<DeviceIo> io = CreateImageDeviceIo(folder.Path(), &errors);
    ASSERT_EQ(errors, "");
    const Handle h = io->Open(folder / "n.img", OpenMode::Working);
    ASSERT_NE(h, kInvalidHandle);
    const std::array<Outcome, 3> got = AskAll(*io, h);
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(got[i].ok, i != failing) << "request " << i << ", failing " << failing;
      EXPECT_EQ(got[i].error, i == failing ? 1117u : 0u) << "request " << i;
    }
    io->Close(h);
  }

  // A disk without NVMe data refuses the queries, as a disk on another bus does.
  TempFolder folder;
  folder.Image("plain.img", 1 << 20);
  const std::unique_ptr<DeviceIo> io = CreateImageDeviceIo(folder.Path(), nullptr);
  const Handle h = io->Open(folder / "plain.img", OpenMode::Working);
  for (const Outcome& o : AskAll(*io, h)) EXPECT_EQ(o.error, 1u);
  io->Close(h);
}

TEST(NvmeImage, DataFilesOfTheWrongSizeAreNamedWithTheirSize) {
  struct Case {
    const char* key;
    size_t size;
    std::string problem;
  };
  const Case cases[] = {
      {"nvme_identify_controller", 4095, " holds 4095 bytes; an NVMe identify file holds exactly 4096"},
      {"nvme_identify_namespace", 512, " holds 512 bytes; an NVMe identify file holds exactly 4096"},
      {"nvme_smart_log", 511, " holds 511 bytes; an NVMe log file holds exactly 512"},
  };
  for (const Case& c : cases) {
    TempFolder folder;
    folder.Image("n.img", 1 << 20);
    folder.Write("n.json", std::string(R"({")") + c.key + R"(": "n.bin"})");
    folder.Write("n.bin", std::string(c.size, 'x'));
    std::string errors;
    const std::unique_ptr<DeviceIo> io = CreateImageDeviceIo(folder.Path(), &errors);
    EXPECT_EQ(errors, folder / "n.json" + ": key \"" + c.key + "\": " + folder / "n.bin" +
                          c.problem + "\n");
    EXPECT_EQ(io->PhysicalDrivePath(0), "");
  }
}

}  // namespace
}  // namespace fw
