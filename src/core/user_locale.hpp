#pragma once
// The user's regional settings as the logs and the capacity texts need them. Read from the
// process locale (LC_TIME, LC_NUMERIC) on first use; tests and front ends may set them.
#include <ctime>
#include <string>

namespace fw {

struct UserLocale {
  std::string decimalSeparator = ".";
  std::string shortDateFormat = "%m/%d/%y";  // strftime formats
  std::string longTimeFormat = "%H:%M:%S";
};

// Call after setlocale(LC_ALL, ""): takes nl_langinfo(D_FMT), nl_langinfo(T_FMT) and the
// decimal point of the process locale.
UserLocale UserLocaleFromProcess();

const UserLocale& CurrentUserLocale();
void SetUserLocale(const UserLocale& locale);

// Short date, one blank, long time; at exactly midnight the date alone.
std::string FormatTimeStamp(const std::tm& local, const UserLocale& locale);

// The current local date and time, taken fresh for every call.
std::string TimeStamp();

}  // namespace fw
