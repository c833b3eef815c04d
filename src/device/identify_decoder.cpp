#include "device/identify_decoder.hpp"

#include <utility>

#include "core/text.hpp"

namespace fw {

namespace {

// IDENTIFY DEVICE words (ATA8-ACS table "IDENTIFY DEVICE data") that the decoder reads.
constexpr size_t kSerialFirst = 10, kSerialLast = 19;
constexpr size_t kBufferSizeWord = 21;
constexpr size_t kFirmwareFirst = 23, kFirmwareLast = 26;
constexpr size_t kModelFirst = 27, kModelLast = 46;
constexpr size_t kReadMultipleWord = 47;
constexpr size_t kCapabilitiesWord = 49;
constexpr size_t kValidFieldsWord = 53;
constexpr size_t kLba28LowWord = 60;
constexpr size_t kQueueDepthWord = 75;
constexpr size_t kCommandSet1Word = 82;
constexpr size_t kCommandSet2Word = 83;
constexpr size_t kCommandSetExtWord = 84;
constexpr size_t kCommandSetEnabled1Word = 85;
constexpr size_t kUltraDmaWord = 88;
constexpr size_t kLba48FirstWord = 100;
constexpr size_t kSectorSizesWord = 106;
constexpr size_t kLogicalSectorWordsLow = 117;
constexpr size_t kSecurityStatusWord = 128;
constexpr size_t kWordCount = 256;
static_assert(kWordCount * 2 == std::tuple_size_v<Sector>);
static_assert(kModelLast < kWordCount && kSecurityStatusWord < kWordCount);

uint16_t Word(const Sector& sector, size_t n) {
  return static_cast<uint16_t>(sector[2 * n] | (sector[2 * n + 1] << 8));
}

bool Bit(uint16_t word, unsigned bit) { return ((word >> bit) & 1u) != 0; }

// ATA strings hold the first character of each pair in the word's high byte.
void SwapWordBytes(Sector& sector, size_t first, size_t last) {
  for (size_t n = first; n <= last; ++n) std::swap(sector[2 * n], sector[2 * n + 1]);
}

std::string Text(const Sector& sector, size_t first, size_t last) {
  const std::string bytes(sector.begin() + 2 * first, sector.begin() + 2 * (last + 1));
  return Latin1ToUtf8(Trim(bytes));
}

// ATA8-ACS word 106: valid when bit 14 is set and bit 15 clear; bit 12 says that words 117-118
// give the logical sector's length in 16-bit words. A length shorter than the 256 words every
// drive has is garbage, and the classic 512 bytes stand.
int64_t LogicalSectorBytes(const Sector& sector) {
  constexpr int64_t kClassicSector = 512;
  const uint16_t sizes = Word(sector, kSectorSizesWord);
  if (!Bit(sizes, 14) || Bit(sizes, 15) || !Bit(sizes, 12)) return kClassicSector;
  const uint32_t words = Word(sector, kLogicalSectorWordsLow) |
                         (static_cast<uint32_t>(Word(sector, kLogicalSectorWordsLow + 1)) << 16);
  return words < kClassicSector / 2 ? kClassicSector : 2 * int64_t{words};
}

// The number of the highest set bit among `count` bits from `lowest`, or 0 when none is set.
uint8_t HighestBit(uint16_t word, unsigned lowest, unsigned count) {
  for (unsigned bit = count; bit-- > 0;) {
    if (Bit(word, lowest + bit)) return static_cast<uint8_t>(bit);
  }
  return 0;
}

}  // namespace

bool SmartEnabledInIdentify(const Sector& sector) {
  return Bit(Word(sector, kCommandSetEnabled1Word), 0);
}

bool SmartSupportedInIdentify(const Sector& sector) {
  return Bit(Word(sector, kCommandSet1Word), 0);
}

T_IDE_PASSPORT DecodeIdentifySector(const Sector& source) {
  T_IDE_PASSPORT p;
  Sector sector = source;

  SwapWordBytes(sector, kSerialFirst, kSerialLast);
  SwapWordBytes(sector, kFirmwareFirst, kFirmwareLast);
  SwapWordBytes(sector, kModelFirst, kModelLast);
  p.sn = Text(sector, kSerialFirst, kSerialLast);
  p.fw = Text(sector, kFirmwareFirst, kFirmwareLast);
  p.name = Text(sector, kModelFirst, kModelLast);

  const uint16_t capabilities = Word(sector, kCapabilitiesWord);
  const uint16_t commandSet1 = Word(sector, kCommandSet1Word);
  const uint16_t commandSet2 = Word(sector, kCommandSet2Word);

  if (Bit(capabilities, 9)) {
    p.lba28sectors =
        static_cast<int64_t>(static_cast<uint32_t>(Word(sector, kLba28LowWord)) |
                             (static_cast<uint32_t>(Word(sector, kLba28LowWord + 1)) << 16));
    p.lba28support = true;
    if (Bit(commandSet2, 10)) {
      uint64_t count = 0;
      for (size_t i = 4; i-- > 0;) count = (count << 16) | Word(sector, kLba48FirstWord + i);
      const auto lba48 = static_cast<int64_t>(count);
      if (lba48 > p.lba28sectors) {
        p.lba48sectors = lba48;
        p.lba48support = true;
      }
    }
  }
  p.lbasectors = p.lba48support ? p.lba48sectors : p.lba28sectors;

  p.readmultiplesectors = static_cast<uint8_t>(Word(sector, kReadMultipleWord) & 0xFF);

  if (Bit(commandSet1, 1)) {
    const uint16_t security = Word(sector, kSecurityStatusWord);
    p.securitysupport = true;
    // ATA8-ACS word 128: bit 1 says a password is set, bit 2 that the drive is locked now.
    p.locked = Bit(security, 2);
    p.lockedmax = Bit(security, 8);
  }

  p.hpasupport = Bit(commandSet1, 10);
  p.smartsupport = SmartSupportedInIdentify(sector);
  if (p.smartsupport) p.smartenabled = SmartEnabledInIdentify(sector);
  p.aamsupport = Bit(commandSet2, 9);

  p.dmasupport = Bit(capabilities, 8) && Bit(Word(sector, kValidFieldsWord), 2);
  if (p.dmasupport) {
    const uint16_t ultraDma = Word(sector, kUltraDmaWord);
    p.dmamodesupport = HighestBit(ultraDma, 0, 7);
    p.dmamodeselected = HighestBit(ultraDma, 8, 7);
  }

  p.buffersize = static_cast<uint32_t>(Word(sector, kBufferSizeWord)) * 512u;
  p.sectorsize = LogicalSectorBytes(sector);

  const uint16_t queueDepth = Word(sector, kQueueDepthWord);
  if (queueDepth != 0) {
    p.QueueSupported = true;
    p.QueueDepth = queueDepth;
  }

  p.StreamingSupported = Bit(Word(sector, kCommandSetExtWord), 4);
  return p;
}

}  // namespace fw
