#include "format/erase_method_texts.hpp"

namespace fw {

namespace {

constexpr std::string_view kPurgeStandsFor = "Purge: ";
constexpr std::string_view kMethodLabel = "清除方法: ";
constexpr std::string_view kStrongest = " (此磁碟最強的 Purge 方法)";
constexpr std::string_view kCategoryLabel = "，NIST SP 800-88 類別: ";
constexpr std::string_view kSanitizeUnstoppable =
    "Sanitize 開始後便無法停止；即使中途斷電，磁碟重新通電後也會繼續執行到完成。";
constexpr std::string_view kDriveEraseUnstoppable = "磁碟自身的抹除開始後便無法停止。";

bool IsSanitize(EraseMethod method) {
  return method == EraseMethod::SanitizeBlock || method == EraseMethod::SanitizeCrypto ||
         method == EraseMethod::SanitizeOverwrite;
}

}  // namespace

std::string_view EraseMethodText(EraseMethod method) {
  switch (method) {
    case EraseMethod::Zero: return "寫入零";
    case EraseMethod::SanitizeBlock: return "Sanitize 區塊抹除";
    case EraseMethod::SanitizeCrypto: return "Sanitize 加密抹除";
    case EraseMethod::SanitizeOverwrite: return "Sanitize 覆寫";
    case EraseMethod::FormatNvm: return "Format NVM 使用者資料抹除";
    case EraseMethod::FormatNvmCrypto: return "Format NVM 加密抹除";
    case EraseMethod::SecureErase: return "ATA 安全抹除";
    case EraseMethod::SecureEraseEnhanced: return "ATA 增強型安全抹除";
    case EraseMethod::Purge: return "此磁碟最強的 Purge 方法";
  }
  return {};
}

std::string_view EraseCategoryText(EraseCategory category) {
  switch (category) {
    case EraseCategory::None: return "無 (none)";
    case EraseCategory::Clear: return "清除 (Clear)";
    case EraseCategory::Purge: return "清洗 (Purge)";
  }
  return {};
}

std::string_view EraseRefusalText(EraseRefusal refusal) {
  switch (refusal) {
    case EraseRefusal::None: return {};
    case EraseRefusal::Unsupported: return "磁碟不支援此方法";
    case EraseRefusal::Frozen:
      return "磁碟的安全功能已凍結；讓電腦睡眠後再喚醒，或重新插拔磁碟，即可解除凍結";
    case EraseRefusal::Locked: return "磁碟的安全功能已鎖定 (設有密碼)";
    case EraseRefusal::NoPassthrough: return "連接磁碟的路徑 (例如 USB 轉接器) 不傳遞此命令";
    case EraseRefusal::OtherNamespaces:
      return "控制器上還有其他命名空間，此命令也會抹除它們";
    case EraseRefusal::InProgress: return "磁碟正在執行 Sanitize";
  }
  return {};
}

std::string_view MediaTypeWord(MediaType media) {
  switch (media) {
    case MediaType::Hdd: return "hdd";
    case MediaType::Ssd: return "ssd";
    case MediaType::Nvme: return "nvme";
    case MediaType::UsbFlash: return "usb-flash";
    case MediaType::Unknown: break;
  }
  return "unknown";
}

std::string_view MediaTypeText(MediaType media) {
  switch (media) {
    case MediaType::Hdd: return "HDD";
    case MediaType::Ssd: return "SSD";
    case MediaType::Nvme: return "NVMe";
    case MediaType::UsbFlash: return "USB flash";
    case MediaType::Unknown: break;
  }
  return "不明";
}

std::string_view VerifyMethodText(std::string_view verifyMethod) {
  if (verifyMethod == "full read-back") return "讀回每個位元組";
  if (verifyMethod == "sample before and after") return "抹除前後讀取同一組抽樣磁區並比對";
  return {};
}

std::string EraseMethodChoiceText(EraseMethod chosen, const EraseMethodState& state) {
  if (chosen == EraseMethod::Purge) {
    return state.method == EraseMethod::Purge
               ? std::string(EraseMethodText(chosen))
               : std::string(kPurgeStandsFor) + std::string(EraseMethodText(state.method));
  }
  // The category's NIST name alone: the choice sits in one row with the tab's buttons.
  const std::string_view category = state.category == EraseCategory::Purge   ? "Purge"
                                    : state.category == EraseCategory::Clear ? "Clear"
                                                                             : "none";
  return std::string(EraseMethodText(chosen)) + " (" + std::string(category) + ")";
}

std::string FormatConfirmEraseNote(EraseMethod chosen, const EraseMethodState& state) {
  if (chosen == EraseMethod::Zero) return {};
  std::string note = std::string(kMethodLabel) + std::string(EraseMethodText(state.method));
  if (chosen == EraseMethod::Purge) note += kStrongest;
  note += std::string(kCategoryLabel) + std::string(EraseCategoryText(state.category)) + "。";
  note += "\r\n\r\n";
  note += IsSanitize(state.method) ? kSanitizeUnstoppable : kDriveEraseUnstoppable;
  return note;
}

}  // namespace fw
