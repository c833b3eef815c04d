#pragma once
// Every text the low-level format shows. The trailing blanks belong to the texts; the engine's
// diagnostics are English on purpose.
#include <string_view>

namespace fw::format_text {

// Volume preparation (format log, debug mode only; the invalid-handle line always).
inline constexpr std::string_view kSearchingPartitions = "正在尋找分割區...               ";
inline constexpr std::string_view kDone = "完成   ";
inline constexpr std::string_view kGettingDeviceData = "正在取得裝置資料...           ";
inline constexpr std::string_view kFoundPartition = "找到分割區           ";
inline constexpr std::string_view kDeviceTypeLabel = "   DeviceType: ";
inline constexpr std::string_view kDeviceNumberLabel = "   DeviceNumber: ";
inline constexpr std::string_view kPartitionLabel = "   分割區:       ";
inline constexpr std::string_view kLockVolume = "鎖住 \\\\.\\     ";
inline constexpr std::string_view kInvalidHandle = "無效的控制代碼       ";
inline constexpr std::string_view kGotHandle = "得控制代碼!     ";
inline constexpr std::string_view kLockingVolume = "正在鎖住磁碟區...       ";
inline constexpr std::string_view kDismountingVolume = "正在卸載磁碟區...           ";
inline constexpr std::string_view kExtendingIo = "正在延伸 I/O...     ";

// What stood in the way of a lock (one line after the lock-failure line), what a failed
// attempt put back, and a partition table the kernel could not read again after the run.
inline constexpr std::string_view kCauseBusy = "磁碟區正在使用中，無法卸載: ";
inline constexpr std::string_view kCauseRunningSystem = "此裝置上有執行中的系統，不能格式化: ";
inline constexpr std::string_view kCauseSwap = "此裝置上有使用中的置換空間: ";
inline constexpr std::string_view kCauseHolder = "此裝置正由其他裝置使用中: ";
inline constexpr std::string_view kCauseForeignMount = "磁碟區上另有其他檔案系統掛載: ";
inline constexpr std::string_view kCauseClaimed = "此裝置正由其他程式獨佔使用: ";
inline constexpr std::string_view kCauseHeldBy = "   使用中的處理程序: ";
inline constexpr std::string_view kCauseSizeChanged = "掃描後裝置容量已改變，不能格式化: ";
inline constexpr std::string_view kSizeArrow = " -> ";
inline constexpr std::string_view kBytesUnit = " 位元組";
inline constexpr std::string_view kRereadFailed = "無法重新讀取分割表: ";
inline constexpr std::string_view kRemounted = "已將本次卸載的磁碟區重新掛載: ";
inline constexpr std::string_view kPartitionsKept =
    "無法重新讀取分割表，系統仍在使用舊的分割區: ";

// The engine's labels, error lines and closing lines.
inline constexpr std::string_view kPercentDone = "% 完成      ";
inline constexpr std::string_view kCurrentSector = "現用磁區:           ";
inline constexpr std::string_view kSeekError = "尋找錯誤發生在偏移                     ";
inline constexpr std::string_view kSpeedUnit = " MB/s";
inline constexpr std::string_view kAverageSpeed = "平均速度:          ";
inline constexpr std::string_view kAbortedAt = "操作終止在偏移                        ";
inline constexpr std::string_view kLbaLabel = "    LBA ";
inline constexpr std::string_view kCancelledAt = "操作取消在偏移                       ";
inline constexpr std::string_view kFormatCompleted = "低階格式化完成。                     ";
inline constexpr std::string_view kMediaUnplugged = "Media was unplugged";
inline constexpr std::string_view kWriteProtected = "The media is write protected";
inline constexpr std::string_view kNotReady = "Device not ready (Timeout)";
inline constexpr std::string_view kIoError = "Device I/O error";
inline constexpr std::string_view kFormatErrorAt = "格式錯誤發生在偏移                       ";
inline constexpr std::string_view kErrorCodeSeparator = ":   ";
inline constexpr std::string_view kErrorTextSeparator = " - ";
inline constexpr std::string_view kSizeChangedAborting = "裝置容量在執行期間改變，正在中止...                    ";
inline constexpr std::string_view kUnpluggedAborting = "裝置被拔出，正在中止...                    ";

// The verify pass that follows a completed write pass when asked for.
inline constexpr std::string_view kVerifying = "正在驗證寫入的資料...      ";
inline constexpr std::string_view kVerifyNotZeroAt = "非零資料發生在偏移                       ";
inline constexpr std::string_view kVerifyReadErrorAt = "讀取錯誤發生在偏移                       ";
inline constexpr std::string_view kVerifyMoreProblems = "未通過驗證的區域共有: ";
inline constexpr std::string_view kVerifyListedOnly = " 個，以上只列出前 100 個";
inline constexpr std::string_view kVerifyCancelledAt = "驗證取消在偏移                       ";
inline constexpr std::string_view kVerifyAbortedAt = "驗證終止在偏移                        ";
inline constexpr std::string_view kVerifyPassed = "驗證通過，全部為零。已檢查位元組: ";
inline constexpr std::string_view kVerifyFailed = "驗證失敗。已檢查位元組: ";
inline constexpr std::string_view kVerifyUnfinished = "驗證未完成。已檢查位元組: ";
inline constexpr std::string_view kVerifyNotZeroCount = "，非零區域: ";
inline constexpr std::string_view kVerifyUnreadableCount = "，無法讀取的區域: ";
inline constexpr std::string_view kConfirmVerify = "寫入完成後，將讀回所有寫入的資料並驗證其為零。";
inline constexpr std::string_view kConfirmQuick =
    "快速抹除只會移除分割表與前 10 MB 的資料，其餘資料仍留在裝置上，可用復原工具讀取。";

// The confirmation question and the format attempt's own lines.
inline constexpr std::string_view kConfirmTitle = "警告     ";
inline constexpr std::string_view kConfirmInstruction =
    "所選裝置上的所有資料將遺失                               ";
inline constexpr std::string_view kConfirmContent = "您確定要不可逆轉地銷毀在此裝置上的所有資料嗎?";
inline constexpr std::string_view kHeaderRule = "=================================================";
inline constexpr std::string_view kLowLevelFormat = "低階格式化:            ";
inline constexpr std::string_view kDeviceCapacity = "裝置容量:            ";
inline constexpr std::string_view kSectorsUnit = " 磁區     ";
inline constexpr std::string_view kLockingDevice = "正在鎖住裝置...         ";
inline constexpr std::string_view kFormatting = "正在格式化...      ";
inline constexpr std::string_view kLockFailed =
    "無法鎖住裝置。請確定您沒有在此裝置上開啟檔案後再試一次。                                                              ";
inline constexpr std::string_view kCreatePartitions = "記得建立新的分割區。                        ";

}  // namespace fw::format_text
