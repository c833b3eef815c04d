#include "device/erase_method.hpp"

#include <utility>

namespace fw {

namespace {

// The one table of method words: the CLI parses with it and the JSON prints with it.
constexpr std::pair<EraseMethod, std::string_view> kMethodWords[] = {
    {EraseMethod::Zero, "zero"},
    {EraseMethod::SanitizeBlock, "sanitize-block"},
    {EraseMethod::SanitizeCrypto, "sanitize-crypto"},
    {EraseMethod::SanitizeOverwrite, "sanitize-overwrite"},
    {EraseMethod::FormatNvm, "format-nvm"},
    {EraseMethod::FormatNvmCrypto, "format-nvm-crypto"},
    {EraseMethod::SecureErase, "secure-erase"},
    {EraseMethod::SecureEraseEnhanced, "secure-erase-enhanced"},
    {EraseMethod::Purge, "purge"},
};
static_assert(std::size(kMethodWords) == std::size(kEraseMethods));

}  // namespace

std::string_view EraseMethodWord(EraseMethod method) {
  for (const auto& [m, word] : kMethodWords) {
    if (m == method) return word;
  }
  return {};
}

std::optional<EraseMethod> ParseEraseMethod(std::string_view word) {
  for (const auto& [m, w] : kMethodWords) {
    if (w == word) return m;
  }
  return std::nullopt;
}

std::string_view EraseCategoryWord(EraseCategory category) {
  switch (category) {
    case EraseCategory::None: return "none";
    case EraseCategory::Clear: return "clear";
    case EraseCategory::Purge: return "purge";
  }
  return {};
}

std::string_view EraseRefusalWord(EraseRefusal refusal) {
  switch (refusal) {
    case EraseRefusal::None: return {};
    case EraseRefusal::Unsupported: return "unsupported";
    case EraseRefusal::Frozen: return "frozen";
    case EraseRefusal::Locked: return "locked";
    case EraseRefusal::NoPassthrough: return "no-passthrough";
    case EraseRefusal::OtherNamespaces: return "other-namespaces";
    case EraseRefusal::InProgress: return "in-progress";
  }
  return {};
}

}  // namespace fw
