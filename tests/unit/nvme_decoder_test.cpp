#include "device/nvme_decoder.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "nvme_pages.hpp"
#include "report_lines.hpp"

namespace fw {
namespace {

using test::PutLe;
using test::PutText;

TEST(DecodeNvmeIdentifyController, EveryField) {
  namespace c = nvme::ctrl;
  nvme::IdentifyPage page{};
  PutLe(page, c::kVid, 0x144D, 2);
  PutLe(page, c::kSsvid, 0x1111, 2);  // not shown: must not leak into the vendor
  // Full-width texts: no terminator, nothing of the next field may be taken.
  PutText(page, c::kSn, c::kSnSize, "S4EWNX0N12345678901Z");
  PutText(page, c::kMn, c::kMnSize, "  MODEL WITH BLANKS  ");
  PutText(page, c::kFr, c::kFrSize, "FW123456");
  PutLe(page, c::kVer, 0x00020001, 4);
  PutLe(page, c::kOacs, 0x0002, 2);
  PutLe(page, c::kWctemp, 343, 2);
  PutLe(page, c::kCctemp, 353, 2);
  PutLe(page, c::kTnvmcap, test::kPast64Bits, 16);
  PutLe(page, c::kUnvmcap, 7, 16);
  PutLe(page, c::kSanicap, 0x00000005, 4);
  PutLe(page, c::kNn, 128, 4);
  PutLe(page, c::kOncs, 0x0008, 2);
  page[c::kFna] = 0x04;
  page[c::kVwc] = 0x01;

  NvmeControllerFacts want;
  want.model = "MODEL WITH BLANKS";
  want.firmware = "FW123456";
  want.serial = "S4EWNX0N12345678901Z";
  want.pciVendorId = 0x144D;
  want.version = 0x00020001;
  want.formatNvm = true;
  want.totalCapacity = test::kPast64Bits;
  want.volatileWriteCache = true;
  want.cryptographicErase = true;
  want.sanitizeCrypto = true;
  want.sanitizeBlock = false;
  want.sanitizeOverwrite = true;
  want.writeZeroes = true;
  want.warningTemperatureKelvin = 343;
  want.criticalTemperatureKelvin = 353;
  want.namespaceCount = 128;
  EXPECT_EQ(DecodeNvmeIdentifyController(page), want);

  // Each flag comes from its own bit alone.
  nvme::IdentifyPage others{};
  PutLe(others, c::kOacs, 0xFFFD, 2);
  PutLe(others, c::kSanicap, 0xFFFFFFF8, 4);
  PutLe(others, c::kOncs, 0xFFF7, 2);
  others[c::kFna] = 0xFB;
  others[c::kVwc] = 0xFE;
  const NvmeControllerFacts none = DecodeNvmeIdentifyController(others);
  EXPECT_FALSE(none.formatNvm || none.sanitizeCrypto || none.sanitizeBlock ||
               none.sanitizeOverwrite || none.writeZeroes || none.cryptographicErase ||
               none.volatileWriteCache);
}

TEST(DecodeNvmeIdentifyNamespace, SizeFormatInUseAndAvailableFormats) {
  namespace n = nvme::ns;
  nvme::IdentifyPage page{};
  PutLe(page, n::kNsze, 0x0000'0001'0000'0002, 8);
  PutLe(page, n::kNcap, 99, 8);  // capacity and use are not the size
  page[n::kNlbaf] = 2;
  page[n::kFlbas] = 0x12;  // format 2; bit 4 (metadata at the end of the data) is no index bit
  PutLe(page, n::kLbaf, test::LbaFormat(0, 9), 4);
  PutLe(page, n::kLbaf + 4, test::LbaFormat(0, 0), 4);  // not available
  PutLe(page, n::kLbaf + 8, test::LbaFormat(8, 12, 1), 4);
  PutLe(page, n::kLbaf + 12, test::LbaFormat(16, 12), 4);  // past NLBAF: not offered

  const NvmeNamespaceFacts f = DecodeNvmeIdentifyNamespace(page);
  EXPECT_EQ(f.sectors, 0x0000'0001'0000'0002u);
  EXPECT_EQ(f.formatInUse, 2u);
  const std::vector<NvmeLbaFormat> want{{0, 512, 0}, {2, 4096, 8}};
  EXPECT_EQ(f.formats, want);
  ASSERT_NE(f.InUse(), nullptr);
  EXPECT_EQ(f.InUse()->dataBytes, 4096u);
}

TEST(DecodeNvmeIdentifyNamespace, UpperIndexBitsCountOnlyPastSixteenFormats) {
  namespace n = nvme::ns;
  nvme::IdentifyPage page{};
  for (size_t i = 0; i < n::kMaxLbaFormats; ++i) {
    PutLe(page, n::kLbaf + 4 * i, test::LbaFormat(static_cast<uint32_t>(i), 9), 4);
  }
  page[n::kFlbas] = 0x63;  // bits 6:5 = 3, bits 3:0 = 3
  page[n::kNlbaf] = 63;
  NvmeNamespaceFacts f = DecodeNvmeIdentifyNamespace(page);
  EXPECT_EQ(f.formatInUse, 0x33u);
  EXPECT_EQ(f.formats.size(), 64u);
  EXPECT_EQ(f.InUse()->metadataBytes, 0x33u);

  page[n::kNlbaf] = 15;
  f = DecodeNvmeIdentifyNamespace(page);
  EXPECT_EQ(f.formatInUse, 3u);
  EXPECT_EQ(f.formats.size(), 16u);

  // An index that names no available format has no format in use.
  PutLe(page, n::kLbaf + 12, 0, 4);
  EXPECT_EQ(DecodeNvmeIdentifyNamespace(page).InUse(), nullptr);
}

TEST(DecodeNvmeHealthLog, EveryFieldWith128BitCounters) {
  namespace h = nvme::health;
  nvme::HealthLog log{};
  log[h::kCriticalWarning] = 0x24;
  PutLe(log, h::kTemperature, 263, 2);
  log[h::kAvailableSpare] = 7;
  log[h::kSpareThreshold] = 10;
  log[h::kPercentageUsed] = 255;
  const size_t counters[] = {h::kDataUnitsRead, h::kDataUnitsWritten, h::kHostReads,
                             h::kHostWrites,    h::kBusyTime,         h::kPowerCycles,
                             h::kPowerOnHours,  h::kUnsafeShutdowns,  h::kMediaErrors,
                             h::kErrorLogEntries};
  // Distinct values, each past 2^64, so a swapped or cut field shows.
  for (size_t i = 0; i < std::size(counters); ++i) {
    PutLe(log, counters[i], test::kPast64Bits + i, 16);
  }
  PutLe(log, h::kWarningTempTime, 0xFFFFFFFF, 4);
  PutLe(log, h::kCriticalTempTime, 3, 4);
  PutLe(log, h::kSensors, 300, 2);
  PutLe(log, h::kSensors + 14, 250, 2);

  const NvmeHealth f = DecodeNvmeHealthLog(log);
  EXPECT_EQ(f.criticalWarning, 0x24);
  EXPECT_EQ(f.temperatureKelvin, 263);
  EXPECT_EQ(KelvinToCelsius(f.temperatureKelvin), -10);
  EXPECT_EQ(f.availableSpare, 7);
  EXPECT_EQ(f.spareThreshold, 10);
  EXPECT_EQ(f.percentageUsed, 255);
  const UInt128 got[] = {f.dataUnitsRead,  f.dataUnitsWritten, f.hostReadCommands,
                         f.hostWriteCommands, f.busyMinutes,   f.powerCycles,
                         f.powerOnHours,   f.unsafeShutdowns,  f.mediaErrors,
                         f.errorLogEntries};
  for (size_t i = 0; i < std::size(got); ++i) {
    EXPECT_EQ(DecimalText(got[i]), DecimalText(test::kPast64Bits + i)) << "counter " << i;
  }
  EXPECT_EQ(f.warningTemperatureMinutes, 0xFFFFFFFFu);
  EXPECT_EQ(f.criticalTemperatureMinutes, 3u);
  const std::array<uint16_t, 8> sensors{300, 0, 0, 0, 0, 0, 0, 250};
  EXPECT_EQ(f.sensorKelvin, sensors);
}

TEST(DecimalText, ExactPast64Bits) {
  EXPECT_EQ(DecimalText(0), "0");
  EXPECT_EQ(DecimalText(test::kPast64Bits), "18446744073709551621");
  EXPECT_EQ(DecimalText(~UInt128{0}), "340282366920938463463374607431768211455");
}

// The demo NVMe disk's data files are made from the recipe in nvme_pages.hpp, never dumped
// from a device. FERROWIPE_WRITE_FIXTURES=1 writes them anew after the recipe changed.
TEST(DemoNvmeDisk, DataFilesFollowTheirRecipe) {
  const auto check = [](const std::string& suffix, const auto& data) {
    const std::string name = "drives/EXAMPLE_NVMe_SSD_1TB--1.2.3." + suffix;
    if (std::getenv("FERROWIPE_WRITE_FIXTURES") != nullptr) {
      std::ofstream(std::string(FIXTURES_DIR) + "/" + name, std::ios::binary)
          .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    }
    const std::vector<uint8_t> bytes = test::ReadFixtureBytes(name);
    EXPECT_EQ(bytes, std::vector<uint8_t>(data.begin(), data.end())) << name;
  };
  check("nvme_identify_controller", test::DemoNvmeController());
  check("nvme_identify_namespace", test::DemoNvmeNamespace());
  check("nvme_smart_log", test::DemoNvmeHealthLog());
}

}  // namespace
}  // namespace fw
