#pragma once
// Texts that more than one front end shows (window and CLI), copied once.
#include <string_view>

namespace fw {

inline constexpr std::string_view kErrorCaption = "錯誤   ";
inline constexpr std::string_view kOpenDeviceErrorPrefix = "開啟裝置發生錯誤:             ";
inline constexpr std::string_view kTooSmallTitle = "無法存取此裝置                  ";
inline constexpr std::string_view kTooSmallText =
    "無法存取此裝置，因為它小於 65535 個磁區。                                                  ";

}  // namespace fw
