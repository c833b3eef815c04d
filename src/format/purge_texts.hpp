#pragma once
// The format log's texts for the drive's own erase, its verification and the hidden area: the
// lines a zero-fill shows stay in format_texts.hpp, unchanged; these come only with a method
// other than the zero-fill, or with a hidden area.
#include <string_view>

namespace fw::format_text {

inline constexpr std::string_view kEraseMethod = "抹除方式:            ";

// The confirmation question's sentence for the drive's own erase.
inline constexpr std::string_view kConfirmMethod = "抹除方式: ";
inline constexpr std::string_view kConfirmMethodEnd = "，由裝置自行抹除，完成後讀回驗證。";
inline constexpr std::string_view kConfirmSanitize =
    "Sanitize 一經開始便無法停止；即使斷電，裝置也會在重新通電後繼續抹除。";

// A method the disk would not take: the first line names it, the second says why, the third
// that nothing reached the drive.
inline constexpr std::string_view kMethodRefused = "此裝置不能使用這種抹除方式: ";
inline constexpr std::string_view kRefusedUnsupported = "裝置不支援這種抹除方式。";
inline constexpr std::string_view kRefusedFrozen =
    "裝置的安全功能已凍結 (通常由 BIOS 在開機時設定)。將電腦睡眠後再喚醒，或將裝置拔除後重新插上，即可解除凍結。";
inline constexpr std::string_view kRefusedLocked =
    "裝置的安全功能已鎖定: 裝置設有密碼，必須先解除鎖定。";
inline constexpr std::string_view kRefusedNoPassthrough =
    "連接裝置的介面 (例如 USB 轉接器) 不會把這個指令傳給裝置。";
inline constexpr std::string_view kRefusedOtherNamespaces =
    "此 NVMe 控制器上還有其他命名空間，這種抹除會一併清除它們。";
inline constexpr std::string_view kRefusedInProgress = "裝置正在執行 Sanitize，請等它完成後再試。";
inline constexpr std::string_view kNothingSent = "未傳送任何指令給裝置。";
inline constexpr std::string_view kHiddenAreaUnknown = "無法得知此裝置的原始容量，不能開放隱藏區域。";

// The run of the drive's own erase.
inline constexpr std::string_view kSendingCommand = "正在傳送指令:        ";
inline constexpr std::string_view kCannotStop =
    "抹除由裝置自行執行，無法停止 (停止按鈕已停用)；即使斷電，裝置也會在重新通電後繼續抹除。";
inline constexpr std::string_view kStopIgnored = "抹除由裝置自行執行，不能停止，仍在繼續...";
inline constexpr std::string_view kDriveCompleted = "裝置已完成抹除。";
inline constexpr std::string_view kDriveFailed = "裝置回報抹除失敗: ";
inline constexpr std::string_view kCommandFailed = "指令失敗: ";
inline constexpr std::string_view kDriveTimedOut = "裝置未在預估的時間內完成抹除，已等候秒數: ";
inline constexpr std::string_view kSizeAfterErase = "抹除後裝置容量已改變: ";
inline constexpr std::string_view kPasswordLeft = "安全抹除失敗，裝置上仍設有暫時使用者密碼: ";
inline constexpr std::string_view kPasswordHint = "以此指令移除密碼: ferrowipe-cli unlock --password ";

// Verification after the drive's own erase.
inline constexpr std::string_view kVerifyPassedPattern = "驗證通過，全部為同一位元組 ";
inline constexpr std::string_view kVerifyCheckedBytes = "。已檢查位元組: ";
inline constexpr std::string_view kVerifyMixedAt = "與其他資料不同的資料發生在偏移           ";
inline constexpr std::string_view kSampleBefore = "正在讀取抹除前的抽樣磁區，數量: ";
inline constexpr std::string_view kSampleAfter = "正在比對抹除後的抽樣磁區...";
inline constexpr std::string_view kSampleUnchangedAt = "抹除後未改變的磁區: LBA ";
inline constexpr std::string_view kSampleUnreadableAt = "無法讀取的抽樣磁區: LBA ";
inline constexpr std::string_view kSamplePassed = "抽樣驗證通過，所有抽樣磁區都已改變，數量: ";
inline constexpr std::string_view kSampleFailed = "抽樣驗證失敗，未改變的磁區: ";
inline constexpr std::string_view kSampleUnreadable = "，無法讀取的磁區: ";

// The hidden area.
inline constexpr std::string_view kHiddenWarning = "警告: 此裝置有隱藏磁區，全部寫零不會觸及它們: LBA ";
inline constexpr std::string_view kHiddenTo = " 至 ";
inline constexpr std::string_view kHiddenCount = "，共 ";
inline constexpr std::string_view kHiddenSectors = " 個磁區";
inline constexpr std::string_view kHiddenHint = " (使用 --open-hidden-area 可一併抹除)";
inline constexpr std::string_view kDcoReported =
    "此裝置的裝置設定覆蓋 (DCO) 限制了最大容量，本程式不會變更 DCO。DCO 的磁區數: ";
inline constexpr std::string_view kHiddenOpened = "已開放隱藏區域，可存取的磁區數: ";
inline constexpr std::string_view kHiddenOpenedUntil = " (在裝置斷電前有效)";
inline constexpr std::string_view kHiddenOpenedKept = " (永久設定)";
inline constexpr std::string_view kHiddenOpenFailed = "無法開放隱藏區域: ";
inline constexpr std::string_view kHiddenNotSeen = "系統沒有讀到裝置的新容量，只寫入目前可存取的磁區: ";
inline constexpr std::string_view kNoHiddenArea = "此裝置沒有隱藏區域。";

}  // namespace fw::format_text
