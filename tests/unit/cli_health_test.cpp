// ferrowipe-cli smart and details over simulated disks of real drives' sectors: the verdict as
// exit status, the same verdict in the JSON, and the JSON's documented shape.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "loop_device.hpp"
#include "temp_folder.hpp"

namespace fw {
namespace {

using json = nlohmann::json;

// One simulated disk per health case, in name order: their drive numbers are 0 to 4.
class CliHealth : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_disks = new test::TempFolder("ferrowipe-health");
    const auto ata = [](const std::string& name, const std::string& drive, bool thresholds) {
      std::string meta = R"({"vendor": "ATA", "product": ")" + name + R"(", "bus_type": 11,
                             "identify": "d.identify", "smart": "d.smart")";
      s_disks->CopyFixture(drive + ".identify", name + ".identify");
      s_disks->CopyFixture(drive + ".smart", name + ".smart");
      if (thresholds) {
        s_disks->CopyFixture(drive + ".thresholds", name + ".thresholds");
        meta += R"(, "thresholds": "d.thresholds")";
      }
      std::string named = meta + "}";
      for (size_t at; (at = named.find("\"d.")) != std::string::npos;) {
        named.replace(at, 3, "\"" + name + ".");
      }
      s_disks->Write(name + ".json", named);
      s_disks->Image(name + ".img", 64 << 20);
    };
    ata("a-healthy", "INTEL_SSDSA2CW120G3--4PC10302", true);
    ata("b-failing", "Maxtor_96147H8--BAC51KJ0--2", true);
    ata("c-warning", "WDC_WD5000AAKS--00TMA0-12.01C01", true);
    ata("d-no-thresholds", "WDC_WD5000AAKS--00TMA0-12.01C01", false);
    s_disks->Write("e-no-smart.json", R"({"product": "STICK", "bus_type": 7})");
    s_disks->Image("e-no-smart.img", 64 << 20);
  }
  static void TearDownTestSuite() {
    delete s_disks;
    s_disks = nullptr;
  }

  // Standard output only.
  static test::CommandResult Cli(const std::string& arguments) {
    return test::RunCommand("(LC_ALL=C FERROWIPE_DISKS='" + s_disks->Path() + "' '" CLI_PATH
                            "' " + arguments + " </dev/null 2>/dev/null)");
  }

  static inline test::TempFolder* s_disks = nullptr;
};

struct HealthCase {
  const char* disk;
  int status;
  const char* state;  // smart --json verdict.state; null: no verdict
  const char* verdictLine;  // how the text report's verdict line begins
};

TEST_F(CliHealth, TheVerdictIsTheExitStatusOfTheReportAndOfItsJson) {
  const HealthCase cases[] = {
      {"0", 0, "healthy", "整體健康狀態:      良好"},
      {"1", 10, "failing", "整體健康狀態:      故障 - 啟動重試次數 (10)"},
      {"2", 11, "warning", "整體健康狀態:      警告 - 重定位磁區計數 (5): 63"},
      {"3", 1, "unknown", "整體健康狀態:      無法判定"},
      {"4", 1, nullptr, "此裝置不支援 SMART。"},
  };
  for (const HealthCase& c : cases) {
    SCOPED_TRACE(c.disk);
    const test::CommandResult text = Cli(std::string("smart ") + c.disk);
    EXPECT_EQ(text.status, c.status);
    // The verdict comes last, under the table.
    const size_t last = text.output.rfind('\n', text.output.size() - 2);
    EXPECT_TRUE(text.output.substr(last + 1).starts_with(c.verdictLine)) << text.output;

    const test::CommandResult doc = Cli(std::string("smart --json ") + c.disk);
    EXPECT_EQ(doc.status, c.status);
    const json smart = json::parse(doc.output, nullptr, false);
    ASSERT_TRUE(smart.is_object()) << doc.output;
    EXPECT_EQ(smart["available"], c.state != nullptr);
    if (c.state != nullptr) {
      EXPECT_EQ(smart["verdict"]["state"], c.state);
    }
  }
}

TEST_F(CliHealth, SmartJsonOfAnAtaDiskWithAFailingAttribute) {
  const test::CommandResult run = Cli("smart --json 1");
  const json doc = json::parse(run.output, nullptr, false);
  ASSERT_TRUE(doc.is_object()) << run.output;
  EXPECT_EQ(doc["drive"], 1);
  EXPECT_EQ(doc["path"], s_disks->Path() + "/b-failing.img");
  EXPECT_EQ(doc["protocol"], "ata");
  EXPECT_EQ(doc["thresholds_read"], true);
  ASSERT_TRUE(doc["attributes"].is_array());
  ASSERT_FALSE(doc["attributes"].empty());
  for (const json& a : doc["attributes"]) {
    for (const char* key : {"id", "current", "worst", "raw", "flags"}) {
      EXPECT_TRUE(a[key].is_number_unsigned()) << key << a;
    }
    EXPECT_TRUE(a["name"].is_string()) << a;
    EXPECT_TRUE(a["threshold"].is_number_unsigned() || a["threshold"].is_null()) << a;
    for (const char* key : {"prefail", "online", "failing"}) EXPECT_TRUE(a[key].is_boolean());
    EXPECT_EQ(a["prefail"], (a["flags"].get<int>() & 1) != 0);
  }
  json spinRetries;
  for (const json& a : doc["attributes"]) {
    if (a["id"] == 10) spinRetries = a;
  }
  EXPECT_EQ(spinRetries, json::parse(R"({"id": 10, "name": "啟動重試次數", "current": 212,
      "worst": 210, "threshold": 223, "raw": 176093659235, "flags": 43, "prefail": true,
      "online": true, "failing": true})"));
  EXPECT_EQ(doc["verdict"], json::parse(R"({"state": "failing", "failing": [10],
                                             "warnings": [5, 197]})"));
}

TEST_F(CliHealth, DetailsJsonHasTheReportsFactsAndSaysWhenNothingWasRead) {
  const test::CommandResult run = Cli("details --json 1");
  EXPECT_EQ(run.status, 0);
  const json doc = json::parse(run.output, nullptr, false);
  ASSERT_TRUE(doc.is_object()) << run.output;
  EXPECT_EQ(doc["model"], "Maxtor 96147H8");
  EXPECT_EQ(doc["available"], true);
  for (const char* key : {"model", "firmware", "serial"}) EXPECT_TRUE(doc[key].is_string());
  for (const char* key : {"buffer_bytes", "lba_sectors", "lba48_sectors", "sectors", "sector_size",
                          "bytes"}) {
    EXPECT_TRUE(doc[key].is_number_unsigned()) << key;
  }
  EXPECT_EQ(doc["bytes"], doc["sectors"].get<int64_t>() * doc["sector_size"].get<int64_t>());
  for (const char* key : {"supported", "locked"}) EXPECT_TRUE(doc["security"][key].is_boolean());
  for (const char* key : {"smart", "smart_enabled", "hpa", "aam", "streaming", "dma", "queuing"}) {
    EXPECT_TRUE(doc["capabilities"][key].is_boolean()) << key;
  }
  EXPECT_TRUE(doc["capabilities"]["queue_depth"].is_number_unsigned());

  const test::CommandResult none = Cli("details --json 4");
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(json::parse(none.output, nullptr, false),
            json::parse(R"({"drive": 4, "path": ")" + s_disks->Path() +
                        R"(/e-no-smart.img", "protocol": "ata", "available": false})"));
  EXPECT_EQ(Cli("details 4").status, 1);
}

}  // namespace
}  // namespace fw
