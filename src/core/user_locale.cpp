#include "core/user_locale.hpp"

#include <langinfo.h>
#include <locale.h>

#include <array>
#include <chrono>
#include <optional>

namespace fw {

namespace {

std::optional<UserLocale>& Slot() {
  static std::optional<UserLocale> locale;
  return locale;
}

std::string Strftime(const std::string& format, const std::tm& value) {
  if (format.empty()) return {};
  std::array<char, 256> buffer{};
  const size_t n = std::strftime(buffer.data(), buffer.size(), format.c_str(), &value);
  return std::string(buffer.data(), n);
}

}  // namespace

UserLocale UserLocaleFromProcess() {
  UserLocale locale;
  if (const char* d = nl_langinfo(D_FMT); d != nullptr && *d != '\0') locale.shortDateFormat = d;
  if (const char* t = nl_langinfo(T_FMT); t != nullptr && *t != '\0') locale.longTimeFormat = t;
  if (const lconv* lc = localeconv(); lc != nullptr && lc->decimal_point != nullptr &&
                                      *lc->decimal_point != '\0') {
    locale.decimalSeparator = lc->decimal_point;
  }
  return locale;
}

const UserLocale& CurrentUserLocale() {
  auto& slot = Slot();
  if (!slot) slot = UserLocaleFromProcess();
  return *slot;
}

void SetUserLocale(const UserLocale& locale) { Slot() = locale; }

std::string FormatTimeStamp(const std::tm& local, const UserLocale& locale) {
  std::string text = Strftime(locale.shortDateFormat, local);
  if (local.tm_hour == 0 && local.tm_min == 0 && local.tm_sec == 0) return text;
  return text + " " + Strftime(locale.longTimeFormat, local);
}

std::string TimeStamp() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm local{};
  localtime_r(&now, &local);
  return FormatTimeStamp(local, CurrentUserLocale());
}

}  // namespace fw
