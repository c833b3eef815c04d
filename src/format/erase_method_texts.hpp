#pragma once
// The erase methods, their NIST SP 800-88 categories, the media and the reasons a method is
// closed, as the window, the confirmation question and the erasure record say them.
#include <string>
#include <string_view>

#include "device/erase_capabilities.hpp"
#include "device/erase_method.hpp"

namespace fw {

// "寫入零", "Sanitize 加密抹除", ...; Purge is "此磁碟最強的 Purge 方法".
std::string_view EraseMethodText(EraseMethod method);
// "無 (none)", "清除 (Clear)", "清洗 (Purge)".
std::string_view EraseCategoryText(EraseCategory category);
// Why a method is closed, for a tooltip or a log line; empty for None.
std::string_view EraseRefusalText(EraseRefusal refusal);

// The media words of the erasure report's JSON ("hdd", "ssd", "nvme", "usb-flash", "unknown")
// and their names for people ("HDD", "SSD", "NVMe", "USB flash", "不明").
std::string_view MediaTypeWord(MediaType media);
std::string_view MediaTypeText(MediaType media);

// A verify method as FormatAttemptResult names it ("full read-back", "sample before and
// after"), for people; empty for a result that was not checked.
std::string_view VerifyMethodText(std::string_view verifyMethod);

// One entry of the method choice: the method and the category it earns on this disk
// ("Sanitize 區塊抹除 (Purge)"), and for `purge` what it stands for there ("Purge: Sanitize
// 加密抹除").
std::string EraseMethodChoiceText(EraseMethod chosen, const EraseMethodState& state);

// What the confirmation question adds for a method other than the zero-fill (empty for it,
// whose question stays as it was): the method with its category, and that the drive's own
// erase cannot be stopped (a sanitize even continues after a power loss). `state` is the
// method on this disk, `purge` resolved.
std::string FormatConfirmEraseNote(EraseMethod chosen, const EraseMethodState& state);

}  // namespace fw
