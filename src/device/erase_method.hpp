#pragma once
// The ways a disk can be erased, their NIST SP 800-88 category, and why a way can be closed on
// a disk. The words are the CLI's METHOD words and the JSON values, stable for scripts.
#include <optional>
#include <string_view>
#include <vector>

namespace fw {

enum class EraseMethod {
  Zero,                 // the zero-fill (with --quick: the quick wipe)
  SanitizeBlock,        // ATA SANITIZE BLOCK ERASE EXT or NVMe Sanitize, block erase
  SanitizeCrypto,       // ATA CRYPTO SCRAMBLE EXT or NVMe Sanitize, crypto erase
  SanitizeOverwrite,    // ATA OVERWRITE EXT or NVMe Sanitize, overwrite
  FormatNvm,            // NVMe Format NVM, SES 1 (user data erase)
  FormatNvmCrypto,      // NVMe Format NVM, SES 2 (cryptographic erase)
  SecureErase,          // ATA SECURITY ERASE UNIT, normal
  SecureEraseEnhanced,  // ATA SECURITY ERASE UNIT, enhanced
  Purge,                // the strongest Purge method the disk offers
};

// Every method, in the order the lists and the JSON give them.
inline constexpr EraseMethod kEraseMethods[] = {
    EraseMethod::Zero,        EraseMethod::SanitizeBlock,       EraseMethod::SanitizeCrypto,
    EraseMethod::SanitizeOverwrite, EraseMethod::FormatNvm,     EraseMethod::FormatNvmCrypto,
    EraseMethod::SecureErase, EraseMethod::SecureEraseEnhanced, EraseMethod::Purge,
};

enum class EraseCategory { None, Clear, Purge };

// Why a method is closed on a disk.
enum class EraseRefusal {
  None,             // open
  Unsupported,      // the drive does not offer it
  Frozen,           // security or sanitize frozen (a suspend and resume, or re-plugging, unfreezes)
  Locked,           // the security feature set is locked (a password is set and not given)
  NoPassthrough,    // the path to the drive does not carry the command (a USB bridge, say)
  OtherNamespaces,  // an NVMe controller whose sanitize or format reaches other namespaces too
  InProgress,       // a sanitize is already running
};

// "zero", "sanitize-block", ..., "purge".
std::string_view EraseMethodWord(EraseMethod method);
std::optional<EraseMethod> ParseEraseMethod(std::string_view word);
// "none", "clear", "purge".
std::string_view EraseCategoryWord(EraseCategory category);
// "unsupported", "frozen", "locked", "no-passthrough", "other-namespaces", "in-progress";
// empty for None.
std::string_view EraseRefusalWord(EraseRefusal refusal);

// One method on one disk: open or closed, and the category a run of it earns there.
struct EraseMethodState {
  EraseMethod method = EraseMethod::Zero;
  EraseRefusal refusal = EraseRefusal::Unsupported;
  EraseCategory category = EraseCategory::None;

  bool available() const { return refusal == EraseRefusal::None; }
  bool operator==(const EraseMethodState&) const = default;
};

}  // namespace fw
