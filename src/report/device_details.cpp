#include "report/device_details.hpp"

#include <string_view>

#include "core/logs.hpp"
#include "core/product.hpp"
#include "device/ata_transport.hpp"
#include "device/erase_facts.hpp"
#include "report/erase_details.hpp"
#include "report/nvme_details.hpp"
#include "report/report_header.hpp"
#include "report/text_format.hpp"

namespace fw {

namespace {

constexpr std::string_view kCaptionLabel = "裝置詳細資料-            ";
constexpr std::string_view kInternalError = "詳細資料不可用: 內部錯誤。                          ";
constexpr std::string_view kPostAt = "請將此問題張貼在 ";
constexpr size_t kForumLineTrailingBlanks = 19;
constexpr std::string_view kUnavailable = "此裝置的詳細資料不可用。                            ";

constexpr std::string_view kModel = "型號:    ";
constexpr std::string_view kFirmware = "韌體版本:              ";
constexpr std::string_view kSerial = "序號:            ";
constexpr std::string_view kBufferSize = "緩衝區大小:       ";

constexpr std::string_view kPhysical = "物理參數:               ";
constexpr std::string_view kLba = "支援 LBA 模式            ";
constexpr std::string_view kNoLba = "不支援 LBA 模式               ";
constexpr std::string_view kLba48 = "支援 LBA-48 模式            ";
constexpr std::string_view kNoLba48 = "不支援 LBA-48 模式               ";
constexpr std::string_view kLbaSectors = "帶有 LBA 命令的磁區可用:                      ";
constexpr std::string_view kLba48Sectors = "帶有 LBA48 命令的磁區可用:                      ";
constexpr std::string_view kTotalCapacity = "全部裝置容量:               ";
constexpr std::string_view kBytes = " bytes";

constexpr std::string_view kSecurity = "安全性:     ";
constexpr std::string_view kSecuritySupported = "支援安全性功能                       ";
constexpr std::string_view kNoSecurity = "不支援安全性功能                          ";
constexpr std::string_view kLocked = "磁碟目前被鎖住                      ";
constexpr std::string_view kLevelMaximum = "安全性層級: 最大              ";
constexpr std::string_view kUserPasswordUnlocks =
    "裝置需要使用者密碼來解除鎖定。                           ";
constexpr std::string_view kMasterPasswordErases =
    "如果使用者密碼未知，可以使用主密碼來抹除裝置。                                                      ";
constexpr std::string_view kLevelHigh = "安全性層級: 高            ";
constexpr std::string_view kEitherPasswordUnlocks =
    "裝置需要使用者或主密碼來解除鎖定。                                          ";
constexpr std::string_view kNotLocked = "裝置目前未鎖定                           ";

constexpr std::string_view kFeatures = "功能:      ";
constexpr std::string_view kSmart = "支援 SMART          ";
constexpr std::string_view kNoSmart = "不支援 SMART             ";
constexpr std::string_view kHpa = "支援 HPA (主機保護區)                        ";
constexpr std::string_view kNoHpa = "不支援 HPA (主機保護區)                           ";
constexpr std::string_view kAam = "支援 AAM (自動噪音管理)                                 ";
constexpr std::string_view kNoAam = "不支援 AAM (自動噪音管理)                                    ";
constexpr std::string_view kStreaming = "支援串流功能集                           ";
constexpr std::string_view kNoStreaming = "不支援串流功能集                              ";

constexpr std::string_view kQueuing = "QUEUING:";
constexpr std::string_view kQueueSupported = "裝置支援命令佇列                                  ";
constexpr std::string_view kNoQueue = "裝置不支援命令佇列                                     ";
constexpr std::string_view kMaxQueueDepth = "最大佇列深度:              ";

// The identify data count logical sectors; a garbage 48-bit count or sector length must not
// overflow.
int64_t TotalBytes(int64_t sectors, int64_t sectorBytes) {
  int64_t bytes = 0;
  if (__builtin_mul_overflow(sectors, sectorBytes, &bytes)) return INT64_MAX;
  return bytes;
}

}  // namespace

std::vector<std::string> DeviceDetailsLines(const T_IDE_PASSPORT& p) {
  std::vector<std::string> lines;
  const auto add = [&lines](std::string_view line) { lines.emplace_back(line); };
  const auto choose = [&add](bool condition, std::string_view yes, std::string_view no) {
    add(condition ? yes : no);
  };

  add(Join(kModel, p.name));
  add(Join(kFirmware, p.fw));
  add(Join(kSerial, p.sn));
  if (p.buffersize != 0) add(Join(kBufferSize, CapacityToStr(p.buffersize)));
  add(kReportSeparator);

  add(kPhysical);
  choose(p.lba28support, kLba, kNoLba);
  choose(p.lba48support, kLba48, kNoLba48);
  add(Join(kLbaSectors, GroupThousands(p.lba28sectors)));
  add(Join(kLba48Sectors, GroupThousands(p.lba48sectors)));
  add(Join(kTotalCapacity, GroupThousands(TotalBytes(p.lbasectors, p.sectorsize))) +
      std::string(kBytes));
  add(kReportSeparator);

  add(kSecurity);
  choose(p.securitysupport, kSecuritySupported, kNoSecurity);
  if (p.locked) {
    add(kLocked);
    if (p.lockedmax) {
      add(kLevelMaximum);
      add(kUserPasswordUnlocks);
      add(kMasterPasswordErases);
    } else {
      add(kLevelHigh);
      add(kEitherPasswordUnlocks);
    }
  } else {
    add(kNotLocked);
  }
  add(kReportSeparator);

  add(kFeatures);
  choose(p.smartsupport, kSmart, kNoSmart);
  choose(p.hpasupport, kHpa, kNoHpa);
  choose(p.aamsupport, kAam, kNoAam);
  choose(p.StreamingSupported, kStreaming, kNoStreaming);
  add(kReportSeparator);

  add(kQueuing);
  if (p.QueueDepth > 0) {
    add(kQueueSupported);
    // The identify data hold the largest depth minus one.
    add(Join(kMaxQueueDepth, std::to_string(p.QueueDepth + 1)));
  } else {
    add(kNoQueue);
  }
  return lines;
}

DetailsReading ReadDetails(DeviceIo& io, Handle deviceHandle, const TIdentifyDeviceData& device) {
  DetailsReading reading;
  if (device.BusType == kBusTypeNvme) {
    reading.nvme = ReadNvmeDetails(io, deviceHandle);
    if (reading.nvme) reading.kind = DetailsReading::Kind::Nvme;
    return reading;
  }

  // Only a parallel-ATA drive gets a second read; SATA and every other bus get one.
  const bool parallelAta = device.BusType == kBusTypeAta;
  Sector sector{};
  bool read = ReadIdentifySector(io, deviceHandle, device.IsIDESlave, sector);
  if (!read && parallelAta) read = ReadIdentifySector(io, deviceHandle, device.IsIDESlave, sector);
  if (!read) {
    if (parallelAta) reading.kind = DetailsReading::Kind::InternalError;
    return reading;
  }
  reading.kind = DetailsReading::Kind::Ata;
  reading.ata = DecodeIdentifySector(sector);
  reading.erase = ReadAtaEraseFacts(io, deviceHandle, device, sector);
  return reading;
}

std::vector<std::string> DetailsReadingLines(const DetailsReading& reading) {
  switch (reading.kind) {
    case DetailsReading::Kind::Ata: {
      std::vector<std::string> lines = DeviceDetailsLines(reading.ata);
      if (reading.erase) {
        for (std::string& line : EraseDetailsLines(*reading.erase)) lines.push_back(std::move(line));
      }
      return lines;
    }
    case DetailsReading::Kind::Nvme: {
      const NvmeControllerFacts& controller = reading.nvme->controller;
      std::vector<std::string> lines{Join(kModel, controller.model),
                                     Join(kFirmware, controller.firmware),
                                     Join(kSerial, controller.serial)};
      for (std::string& line : NvmeDetailsLines(*reading.nvme)) lines.push_back(std::move(line));
      return lines;
    }
    case DetailsReading::Kind::InternalError:
      return {std::string(kInternalError), std::string(kPostAt) + std::string(kSupportForum) +
                                               std::string(kForumLineTrailingBlanks, ' ')};
    case DetailsReading::Kind::Unavailable: break;
  }
  return {std::string(kUnavailable)};
}

DetailsReading ShowDeviceDetails(DeviceIo& io, Handle deviceHandle, const TDeviceTableRows& table,
                                 int64_t chosenIndex) {
  for (const std::string& line :
       ReportHeaderLines(kCaptionLabel, DeviceCaption(table, chosenIndex))) {
    AddDetailsLine(line);
  }
  const DetailsReading reading = ReadDetails(io, deviceHandle, table[chosenIndex].IdentifyData);
  for (const std::string& line : DetailsReadingLines(reading)) AddDetailsLine(line);
  return reading;
}

}  // namespace fw
