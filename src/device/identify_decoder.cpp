// Placeholder until the decoder lands.
#include "device/identify_decoder.hpp"

namespace fw {
T_IDE_PASSPORT DecodeIdentifySector(const Sector&) { return {}; }
}  // namespace fw
