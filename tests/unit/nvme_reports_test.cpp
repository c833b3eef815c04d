// NVMe disks through the storage contract: the query bytes the program sends, the reply a
// backend builds, and both reports' lines over a scripted device.
#include <algorithm>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/control_codes.hpp"
#include "device/nvme_protocol.hpp"
#include "fake_device.hpp"
#include "nvme_pages.hpp"
#include "report/device_details.hpp"
#include "report/smart_report.hpp"
#include "report_lines.hpp"
#include "select/device_table.hpp"

namespace fw {
namespace {

constexpr const char* kPath = "/dev/nvme0n1";

uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

struct QueryCase {
  NvmeRequest request;
  uint32_t propertyId, dataType, value, length;
};
const QueryCase kQueries[] = {
    {NvmeRequest::IdentifyController, 49, 1, 0x01, 4096},
    {NvmeRequest::IdentifyNamespace, 50, 1, 0x00, 4096},
    {NvmeRequest::HealthLog, 50, 2, 0x02, 512},
};

TEST(NvmeProtocol, QueryBytesAndWhatABackendAccepts) {
  for (const QueryCase& c : kQueries) {
    const auto array = BuildNvmeQuery(c.request);
    const std::vector<uint8_t> q(array.begin(), array.end());
    ASSERT_EQ(q.size(), 48u);
    EXPECT_EQ(U32(q, 0), c.propertyId);
    EXPECT_EQ(U32(q, 4), 0u);   // PropertyStandardQuery
    EXPECT_EQ(U32(q, 8), 3u);   // ProtocolTypeNvme
    EXPECT_EQ(U32(q, 12), c.dataType);
    EXPECT_EQ(U32(q, 16), c.value);
    EXPECT_EQ(U32(q, 20), 0u);  // the handle's own namespace; log offset 0
    EXPECT_EQ(U32(q, 24), 40u); // data right after the 40-byte specific data
    EXPECT_EQ(U32(q, 28), c.length);
    EXPECT_EQ(ParseNvmeQuery(q.data(), 48), c.request);
    EXPECT_EQ(ParseNvmeQuery(q.data(), 47), std::nullopt);

    // Any other namespace, data type, identifier, offset, length or protocol is refused.
    for (const size_t at : {0u, 4u, 8u, 12u, 16u, 20u, 24u, 28u, 36u, 40u, 44u}) {
      std::vector<uint8_t> other = q;
      other[at] ^= 0x04;
      EXPECT_EQ(ParseNvmeQuery(other.data(), 48), std::nullopt) << "byte " << at;
    }
  }
}

TEST(NvmeProtocol, ReplyIsTheDescriptorThenTheData) {
  const nvme::HealthLog log = test::DemoNvmeHealthLog();
  std::vector<uint8_t> out(48 + 512, 0xEE);
  ASSERT_EQ(BuildNvmeReply(NvmeRequest::HealthLog, log, out.data(), 560), 560u);
  EXPECT_EQ(U32(out, 0), 48u);  // Version
  EXPECT_EQ(U32(out, 4), 48u);  // Size
  EXPECT_EQ(U32(out, 8), 3u);
  EXPECT_EQ(U32(out, 12), 2u);
  EXPECT_EQ(U32(out, 24), 40u);
  EXPECT_EQ(U32(out, 28), 512u);
  EXPECT_TRUE(std::equal(log.begin(), log.end(), out.begin() + 48));
  // Too small for the whole data, or data of the wrong size: no reply.
  EXPECT_EQ(BuildNvmeReply(NvmeRequest::HealthLog, log, out.data(), 559), 0u);
  EXPECT_EQ(BuildNvmeReply(NvmeRequest::IdentifyController, log, out.data(), 560), 0u);
}

class NvmeReports : public test::ReportTest {
 protected:
  void SetUp() override {
    ReportTest::SetUp();
    table.Clear();
    TDeviceTable& row = table[1];
    row.DevicePath = kPath;
    row.DeviceNumber = 6;
    row.IdentifyData.Model = " EXAMPLE NVMe SSD 1TB";
    row.IdentifyData.FW = "1.2.3";
    row.IdentifyData.LBA = 1953525168;
    row.IdentifyData.SectorSize = 512;
    row.IdentifyData.BusType = kBusTypeNvme;
    io.drivePaths = {kPath};
    io.At(kPath);
    handle = io.Open(kPath, OpenMode::Working);
  }
  template <size_t N>
  void Answer(NvmeRequest request, const std::array<uint8_t, N>& data) {
    std::vector<uint8_t> reply(48 + N);
    ASSERT_NE(BuildNvmeReply(request, data, reply.data(), static_cast<uint32_t>(reply.size())), 0u);
    io.Answer(kPath, ioctl::IOCTL_STORAGE_QUERY_PROPERTY, test::FakeDevice::Ok(reply));
  }
  void Refuse() { io.Refuse(kPath, ioctl::IOCTL_STORAGE_QUERY_PROPERTY, win::ERROR_IO_DEVICE); }

  std::vector<std::string> RunDetails() {
    ShowDeviceDetails(io, handle, table, 1);
    return test::WithoutTime(details);
  }
  std::vector<std::string> RunSmart() {
    ShowSmartReport(io, handle, table, 1);
    return test::WithoutTime(smart);
  }

  // The requests sent, as the query each one carried; nothing but these queries may go out.
  std::vector<NvmeRequest> Sent() const {
    std::vector<NvmeRequest> sent;
    for (const auto& r : io.requests) {
      EXPECT_EQ(r.code, ioctl::IOCTL_STORAGE_QUERY_PROPERTY);
      const auto request = ParseNvmeQuery(r.input.data(), static_cast<uint32_t>(r.input.size()));
      EXPECT_TRUE(request.has_value());
      if (request) sent.push_back(*request);
    }
    return sent;
  }

  static std::vector<std::string> Header(const char* label) {
    return ReportTest::Header(
        label, "[6]  EXAMPLE NVMe SSD 1TB    1.2.3    [1000.2 GB]    (1953525168 512-byte sectors)");
  }

  test::FakeDevice io;
  Handle handle = kInvalidHandle;
  TDeviceTableRows table;
};

constexpr const char* kDetailsLabel = "裝置詳細資料-            ";
constexpr const char* kSmartLabel = "SMART 資料-      ";

TEST_F(NvmeReports, DetailsAndHealthOfAHealthyDisk) {
  Answer(NvmeRequest::IdentifyController, test::DemoNvmeController());
  Answer(NvmeRequest::IdentifyNamespace, test::DemoNvmeNamespace());
  // The demo drive's report, as a path that carries none of its erase commands shows it: no
  // Purge method can be confirmed there.
  std::vector<std::string> expected = test::ReadGolden("nvme-details-demo.txt");
  const auto media = std::find(expected.begin(), expected.end(), "媒體類型:      NVMe 固態硬碟");
  ASSERT_NE(media, expected.end());
  expected.insert(media + 1, "抹除命令無法經由此連接傳送到磁碟");
  std::replace(expected.begin(), expected.end(), std::string("最強的 Purge 方法:      sanitize-crypto"),
               std::string("最強的 Purge 方法:      無"));
  EXPECT_EQ(RunDetails(), expected);
  EXPECT_EQ(Sent(), (std::vector{NvmeRequest::IdentifyController, NvmeRequest::IdentifyNamespace}));

  io.requests.clear();
  io.targets[kPath].replies.clear();
  Answer(NvmeRequest::HealthLog, test::DemoNvmeHealthLog());
  EXPECT_EQ(RunSmart(), test::ReadGolden("nvme-smart-demo.txt"));
  EXPECT_EQ(Sent(), std::vector{NvmeRequest::HealthLog});
}

TEST_F(NvmeReports, HealthOfAFailingDisk) {
  namespace h = nvme::health;
  nvme::HealthLog log = test::DemoNvmeHealthLog();
  log[h::kCriticalWarning] = 0x05;
  test::PutLe(log, h::kTemperature, 263, 2);            // below 0 degrees
  log[h::kAvailableSpare] = 3;
  log[h::kPercentageUsed] = 104;
  test::PutLe(log, h::kDataUnitsRead, ~UInt128{0}, 16);  // its bytes would pass 128 bits
  test::PutLe(log, h::kDataUnitsWritten, test::kPast64Bits, 16);
  test::PutLe(log, h::kMediaErrors, 2, 16);
  test::PutLe(log, h::kSensors, 0, 2);                   // sensor 1 unused
  test::PutLe(log, h::kSensors + 14, 250, 2);            // sensor 8 below 0
  Answer(NvmeRequest::HealthLog, log);
  const std::vector<std::string> lines = RunSmart();
  const auto has = [&lines](const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  };
  const std::string warning = "0x05 (可用備用空間低於臨界值; 可靠性因媒體或內部錯誤而降低)";
  EXPECT_TRUE(has("  重大警告                        " + warning));
  EXPECT_TRUE(has("  複合溫度                        -10 °C"));
  EXPECT_TRUE(has("  可用備用空間                    3 %"));
  EXPECT_TRUE(has("  已使用百分比                    104 %"));
  // 2^64 + 5 units of 512,000 bytes: both exact, never wrapped.
  EXPECT_TRUE(has(std::string("  寫入的資料單位                  ") + test::kPast64BitsText +
                  " (9444732965739290.42 GB)"));
  EXPECT_TRUE(has("  讀取的資料單位                  340,282,366,920,938,463,463,374,607,431,768,211,455"));
  EXPECT_TRUE(has("  媒體與資料完整性錯誤            2"));
  EXPECT_TRUE(has("  溫度感測器 2                    32 °C"));
  EXPECT_TRUE(has("  溫度感測器 8                    -23 °C"));
  EXPECT_FALSE(has("  溫度感測器 1                    未回報"));
  for (const std::string& line : lines) EXPECT_FALSE(line.starts_with("  溫度感測器 1 ")) << line;
  EXPECT_EQ(lines.back(),
            "整體健康狀態:      警告 - 可用備用空間低於臨界值; 可靠性因媒體或內部錯誤而降低");
}

TEST_F(NvmeReports, FailedRequestsGiveTheUnavailableLines) {
  const std::string unavailable = "此裝置的詳細資料不可用。                            ";
  const std::string notSupported = "此裝置不支援 SMART。                         ";
  Refuse();
  std::vector<std::string> expected = Header(kDetailsLabel);
  expected.push_back(unavailable);
  EXPECT_EQ(RunDetails(), expected);
  EXPECT_EQ(Sent(), std::vector{NvmeRequest::IdentifyController});

  expected = Header(kSmartLabel);
  expected.push_back(notSupported);
  EXPECT_EQ(RunSmart(), expected);

  // Without the namespace, the controller's part still shows.
  details.clear();
  io.targets[kPath].replies.clear();
  Answer(NvmeRequest::IdentifyController, test::DemoNvmeController());
  Refuse();
  const std::vector<std::string> lines = RunDetails();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "命名空間的詳細資料不可用。"), lines.end());
  EXPECT_EQ(std::find(lines.begin(), lines.end(), "支援的 LBA 格式:"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "命名空間數目:      1"), lines.end());
  EXPECT_EQ(lines.back(), "最強的 Purge 方法:      無");
}

}  // namespace
}  // namespace fw
