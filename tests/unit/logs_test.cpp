#include "core/logs.hpp"
#include "format/format_session.hpp"

#include <gtest/gtest.h>

#include <vector>

#include "core/text.hpp"
#include "core/user_locale.hpp"

namespace fw {
namespace {

std::tm At(int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = 126;
  t.tm_mon = 11;
  t.tm_mday = 8;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return t;
}

TEST(TimeStamp, ShortDateBlankLongTimeAndMidnightDateOnly) {
  UserLocale de;
  de.shortDateFormat = "%d.%m.%Y";
  de.longTimeFormat = "%H:%M:%S";
  EXPECT_EQ(FormatTimeStamp(At(13, 5, 9), de), "08.12.2026 13:05:09");
  EXPECT_EQ(FormatTimeStamp(At(0, 0, 0), de), "08.12.2026");
  EXPECT_EQ(FormatTimeStamp(At(0, 0, 1), de), "08.12.2026 00:00:01");
}

TEST(Logs, DebugLinesOnlyInDebugModeFormatLinesAlways) {
  std::vector<std::string> debug, format;
  SetDebugLineSink([&](const std::string& l) { debug.push_back(l); });
  const FormatSession session([&](const std::string& l) { format.push_back(l); });
  DebugMode = false;
  AddDebugLine("quiet");
  session.AddFormatLogLine("always  ");
  DebugMode = true;
  AddDebugLine("");
  session.AddFormatLogRaw("raw line ");
  session.AddFormatDebugLine("a session made without debug leaves the volume steps out");
  DebugMode = false;
  SetDebugLineSink(nullptr);

  ASSERT_EQ(debug.size(), 1u);
  EXPECT_TRUE(debug[0].ends_with("   ")) << "an empty message leaves the stamp and three blanks";
  ASSERT_EQ(format.size(), 2u);
  EXPECT_TRUE(format[0].ends_with("   always  ")) << "trailing blanks of a message are kept";
  EXPECT_EQ(format[1], "raw line ");
}

TEST(Text, TrimPadAndLatin1) {
  EXPECT_EQ(Trim(std::string("\0 \t A B \x1f", 10)), "A B");
  EXPECT_EQ(Trim("   "), "");
  EXPECT_EQ(PadRight("9", 3), "9  ");
  EXPECT_EQ(PadLeft("36", 5), "   36");
  EXPECT_EQ(PadLeft("123456", 5), "123456");
  EXPECT_EQ(PadRight("度", 2), "度 ") << "widths count characters, not bytes";
  EXPECT_EQ(Latin1ToUtf8("A\xE9"), "A\xC3\xA9");
}

}  // namespace
}  // namespace fw
