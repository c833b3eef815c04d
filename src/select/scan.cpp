#include "select/scan.hpp"

#include <unistd.h>

#include "core/logs.hpp"
#include "device/identify.hpp"
#include "select/device_table.hpp"

namespace fw {

bool ScanLackedRights(const ScanResult& scan) { return scan.deniedCount > 0 && ::geteuid() != 0; }

ScanResult ScanPhysicalDrives(DeviceIo& io) {
  ScanResult result;
  DeviceCount = 0;
  // Rows past DeviceCount must read as empty, whatever an earlier scan left there.
  DeviceTable.Clear();
  AddDebugLine("正透過裝置重複...                  ");
  for (int n = 0; n <= 255 && DeviceCount < kMaxDeviceCount; ++n) {
    const std::string path = io.PhysicalDrivePath(n);
    // Drives are numbered without gaps: the first number without a path ends the namespace,
    // and trying the numbers past it would only log empty paths.
    if (path.empty()) break;
    AddDebugLine("嘗試裝置          " + path);
    const Handle handle = io.Open(path, OpenMode::Identification);
    if (handle == kInvalidHandle) {
      if (io.LastError() == win::ERROR_ACCESS_DENIED) ++result.deniedCount;
      AddDebugLine("無效的控制代碼，略過              ");
      continue;
    }
    AddDebugLine("正在識別裝置...                ");
    TIdentifyDeviceData record;
    std::string fatalText;
    const bool identified = IdentifyDevice(io, handle, record, &fatalText) == 0;
    if (!fatalText.empty()) {
      io.Close(handle);
      result.fatalText = fatalText;
      return result;
    }
    if (!identified) record = TIdentifyDeviceData{};
    AddDebugLine("完成。狀態 =        " + std::string(identified ? "-1" : "0") + "; " +
                 record.Model + "  " + record.SN);
    if (identified) {
      ++DeviceCount;
      TDeviceTable& row = DeviceTable[DeviceCount];
      row = TDeviceTable{};
      row.DevicePath = path;
      row.DeviceNumber = static_cast<uint32_t>(n);
      row.IdentifyData = record;
    }
    io.Close(handle);
  }
  result.statusText = "找到磁碟:        " + std::to_string(DeviceCount);
  return result;
}

}  // namespace fw
