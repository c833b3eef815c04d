// list --json: every disk names every erase method with its state, and its hidden sectors.
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

TEST(ListJsonErase, EveryDiskNamesEveryMethod) {
  test::TempFolder folder("ferrowipe-list-erase");
  const std::string disks = folder.Path() + "/disks";
  const std::string out = folder.Path() + "/out";
  ASSERT_EQ(std::system(("bash '" + std::string(SOURCE_DIR) + "/scripts/make-demo-disks.sh' '" +
                         disks + "' >/dev/null")
                            .c_str()),
            0);
  ASSERT_EQ(std::system(("env LC_ALL=C FERROWIPE_DISKS='" + disks + "' '" CLI_PATH
                         "' list --json >'" + out + "' </dev/null")
                            .c_str()),
            0);
  std::ifstream in(out);
  const json rows = json::parse(std::string(std::istreambuf_iterator<char>(in), {}));
  ASSERT_TRUE(rows.is_array());
  ASSERT_FALSE(rows.empty());
  const std::set<std::string> reasons = {"unsupported", "frozen", "locked", "no-passthrough",
                                         "other-namespaces", "in-progress"};
  for (const json& row : rows) {
    SCOPED_TRACE(row.at("path").get<std::string>());
    const json& methods = row.at("erase_methods");
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
    const json& hidden = row.at("hidden_sectors");
    EXPECT_TRUE(hidden.is_null() || (hidden.is_number_integer() && hidden.get<int64_t>() >= 0));
    // An NVMe namespace has no hidden area to tell of.
    if (row.at("bus_type") == 17) {
      EXPECT_EQ(hidden, 0);
    }
  }
}

}  // namespace
}  // namespace fw
