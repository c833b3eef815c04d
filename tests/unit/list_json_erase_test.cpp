// list --json and details --json: every disk names every erase method with its state, and its
// hidden sectors.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <set>

#include "device/erase_method.hpp"
#include "temp_folder.hpp"

namespace fw {
namespace {

using nlohmann::json;

void ExpectEraseFacts(const json& disk) {
  static const std::set<std::string> reasons = {"unsupported",      "frozen",
                                                "locked",           "no-passthrough",
                                                "other-namespaces", "in-progress"};
  const json& methods = disk.at("erase_methods");
  ASSERT_EQ(methods.size(), std::size(kEraseMethods));
  for (size_t i = 0; i < methods.size(); ++i) {
    const json& m = methods[i];
    EXPECT_EQ(m.at("method"), EraseMethodWord(kEraseMethods[i]));
    // The reason is there exactly when the method is closed, and is one of the words.
    if (m.at("available").get<bool>()) {
      EXPECT_TRUE(m.at("reason").is_null());
    } else {
      EXPECT_TRUE(reasons.contains(m.at("reason").get<std::string>())) << m;
    }
    EXPECT_TRUE(m.at("category") == "clear" || m.at("category") == "purge") << m;
  }
  EXPECT_EQ(methods[0], json::parse(R"({"method": "zero", "available": true, "reason": null,
                                        "category": "clear"})"));
  EXPECT_EQ(methods.back().at("category"), "purge");
  const json& hidden = disk.at("hidden_sectors");
  EXPECT_TRUE(hidden.is_null() || (hidden.is_number_integer() && hidden.get<int64_t>() >= 0));
  // An NVMe namespace has no hidden area to tell of.
  const bool nvme = disk.contains("bus_type") ? disk.at("bus_type") == 17
                                              : disk.at("protocol") == "nvme";
  if (nvme) {
    EXPECT_EQ(hidden, 0);
  }
}

class EraseJson : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_folder = new test::TempFolder("ferrowipe-erase-json");
    ASSERT_EQ(std::system(("bash '" + std::string(SOURCE_DIR) + "/scripts/make-demo-disks.sh' '" +
                           s_folder->Path() + "/disks' >/dev/null")
                              .c_str()),
              0);
  }
  static void TearDownTestSuite() {
    delete s_folder;
    s_folder = nullptr;
  }
  static json Cli(const std::string& args) {
    const std::string out = s_folder->Path() + "/out";
    const std::string command = "env LC_ALL=C FERROWIPE_DISKS='" + s_folder->Path() +
                                "/disks' '" CLI_PATH "' " + args + " >'" + out + "' </dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    std::ifstream in(out);
    return json::parse(std::string(std::istreambuf_iterator<char>(in), {}), nullptr, false);
  }
  static inline test::TempFolder* s_folder = nullptr;
};

TEST_F(EraseJson, ListNamesEveryMethodOfEveryDisk) {
  const json rows = Cli("list --json");
  ASSERT_TRUE(rows.is_array());
  ASSERT_FALSE(rows.empty());
  for (const json& row : rows) {
    SCOPED_TRACE(row.at("path").get<std::string>());
    ExpectEraseFacts(row);
  }
}

TEST_F(EraseJson, DetailsOfTheAtaAndNvmeDemoDisks) {
  for (const char* disk : {"0", "6"}) {
    SCOPED_TRACE(disk);
    const json doc = Cli(std::string("details --json ") + disk);
    ASSERT_TRUE(doc.is_object());
    ExpectEraseFacts(doc);
  }
}

}  // namespace
}  // namespace fw
