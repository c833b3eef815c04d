#include "report/erase_details.hpp"

#include <string_view>

#include "report/report_header.hpp"
#include "report/text_format.hpp"

namespace fw {

namespace {

constexpr std::string_view kErase = "抹除:      ";
// A name in Latin letters starts with its own blank, as the report writes "支援 SMART".
constexpr std::string_view kSupported = "支援";
constexpr std::string_view kNotSupported = "不支援";
constexpr std::string_view kNotReported = "未回報";
constexpr std::string_view kNoPassthrough = "抹除命令無法經由此連接傳送到磁碟";
constexpr std::string_view kSanitizeFeatureSet = " Sanitize 功能集";
constexpr std::string_view kSanitizeCrypto = " Sanitize 加密抹除";
constexpr std::string_view kSanitizeBlock = " Sanitize 區塊抹除";
constexpr std::string_view kSanitizeOverwrite = " Sanitize 覆寫";
constexpr std::string_view kSanitizeRunning = "Sanitize 進行中";
constexpr std::string_view kSanitizeFrozen = "Sanitize 已凍結";
constexpr std::string_view kEnhancedErase = "增強型安全抹除";
constexpr std::string_view kSecurityFrozen = "安全性功能已凍結 (暫停後再喚醒電腦或重新插上磁碟可解除)";
constexpr std::string_view kSecurityNotFrozen = "安全性功能未凍結";
constexpr std::string_view kNormalEraseTime = "安全抹除預估時間:      ";
constexpr std::string_view kEnhancedEraseTime = "增強型安全抹除預估時間:      ";
constexpr std::string_view kMinutes = " 分鐘";
constexpr std::string_view kAma = " Accessible Max Address";
constexpr std::string_view kDco = " DCO (裝置組態覆蓋)";
constexpr std::string_view kNativeSectors = "原生磁區數:      ";
constexpr std::string_view kAccessibleSectors = "可存取磁區數:      ";
constexpr std::string_view kHiddenSectors = "隱藏磁區數:      ";
constexpr std::string_view kDcoSectors = "DCO 允許的磁區數:      ";
constexpr std::string_view kActiveNamespaces = "使用中的命名空間:      ";
constexpr std::string_view kFormatAll = " Format 套用至所有命名空間";
constexpr std::string_view kSecureEraseAll = "安全抹除套用至所有命名空間";
constexpr std::string_view kStrongestPurge = "最強的 Purge 方法:      ";
constexpr std::string_view kNone = "無";

std::string MinutesText(const std::optional<uint32_t>& minutes) {
  return minutes ? std::to_string(*minutes) + std::string(kMinutes) : std::string(kNotReported);
}

}  // namespace

std::vector<std::string> EraseDetailsLines(const DriveEraseFacts& facts) {
  std::vector<std::string> lines;
  const auto add = [&lines](std::string_view line) { lines.emplace_back(line); };
  const auto feature = [&lines](bool supported, std::string_view name) {
    lines.push_back(Join(supported ? kSupported : kNotSupported, name));
  };

  add(kReportSeparator);
  add(kErase);
  if (!facts.passThrough) add(kNoPassthrough);
  if (facts.ata) {
    const AtaEraseFeatures& a = *facts.ata;
    feature(a.sanitize, kSanitizeFeatureSet);
    if (a.sanitize) {
      feature(a.sanitizeCrypto, kSanitizeCrypto);
      feature(a.sanitizeBlock, kSanitizeBlock);
      feature(a.sanitizeOverwrite, kSanitizeOverwrite);
    }
    if (a.security.supported) {
      feature(a.security.enhancedSupported, kEnhancedErase);
      add(a.security.frozen ? kSecurityFrozen : kSecurityNotFrozen);
      add(Join(kNormalEraseTime, MinutesText(a.security.normalEraseMinutes)));
      if (a.security.enhancedSupported) {
        add(Join(kEnhancedEraseTime, MinutesText(a.security.enhancedEraseMinutes)));
      }
    }
    feature(a.amaSupported, kAma);
    feature(a.dcoSupported, kDco);
  }
  if (facts.nvme) {
    const NvmeEraseFeatures& n = *facts.nvme;
    add(Join(kActiveNamespaces, std::to_string(n.namespaceCount)));
    feature(n.formatAppliesToAll, kFormatAll);
    feature(n.secureEraseAppliesToAll, kSecureEraseAll);
  }
  if (facts.sanitizeInProgress) add(kSanitizeRunning);
  if (facts.sanitizeFrozen) add(kSanitizeFrozen);
  if (facts.ata) {
    if (facts.hidden) {
      const HiddenArea& h = *facts.hidden;
      add(Join(kNativeSectors, GroupThousands(h.nativeSectors)));
      add(Join(kAccessibleSectors, GroupThousands(h.accessibleSectors)));
      add(Join(kHiddenSectors, GroupThousands(h.hiddenSectors())));
      if (h.dcoRestricts) add(Join(kDcoSectors, GroupThousands(h.dcoMaxSectors)));
    } else {
      add(Join(kNativeSectors, kNotReported));
      add(Join(kAccessibleSectors, GroupThousands(facts.ata->accessibleSectors)));
      add(Join(kHiddenSectors, kNotReported));
    }
  }
  const std::optional<EraseMethod> strongest = StrongestPurge(facts);
  add(Join(kStrongestPurge, strongest ? EraseMethodWord(*strongest) : kNone));
  return lines;
}

}  // namespace fw
