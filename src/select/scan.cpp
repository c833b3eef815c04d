#include "select/scan.hpp"

#include <unistd.h>

#include "core/logs.hpp"
#include "device/identify.hpp"
#include "select/device_table.hpp"

namespace fw {

bool ScanLackedRights(const ScanResult& scan) { return scan.deniedCount > 0 && ::geteuid() != 0; }

namespace {

// One drive: opened for identification, identified, closed, with the scan's debug lines. Its
// row when it was identified; a fatal query failure is left in result.fatalText.
std::optional<TDeviceTable> ScanDrive(DeviceIo& io, int n, const std::string& path,
                                      ScanResult& result) {
  AddDebugLine("嘗試裝置          " + path);
  const Handle handle = io.Open(path, OpenMode::Identification);
  if (handle == kInvalidHandle) {
    if (io.LastError() == win::ERROR_ACCESS_DENIED) ++result.deniedCount;
    AddDebugLine("無效的控制代碼，略過              ");
    return std::nullopt;
  }
  AddDebugLine("正在識別裝置...                ");
  TIdentifyDeviceData record;
  std::string fatalText;
  const bool identified = IdentifyDevice(io, handle, record, &fatalText) == 0;
  if (!fatalText.empty()) {
    io.Close(handle);
    result.fatalText = fatalText;
    return std::nullopt;
  }
  if (!identified) record = TIdentifyDeviceData{};
  AddDebugLine("完成。狀態 =        " + std::string(identified ? "-1" : "0") + "; " +
               record.Model + "  " + record.SN);
  io.Close(handle);
  if (!identified) return std::nullopt;
  TDeviceTable row{};
  row.DevicePath = path;
  row.DeviceNumber = static_cast<uint32_t>(n);
  row.IdentifyData = record;
  return row;
}

}  // namespace

ScanResult ScanPhysicalDrives(DeviceIo& io) {
  ScanResult result;
  DeviceCount = 0;
  // Rows past DeviceCount must read as empty, whatever an earlier scan left there.
  DeviceTable.Clear();
  AddDebugLine("正透過裝置重複...                  ");
  int n = 0;
  for (; n <= 255 && DeviceCount < kMaxDeviceCount; ++n) {
    const std::string path = io.PhysicalDrivePath(n);
    // Drives are numbered without gaps: the first number without a path ends the namespace,
    // and trying the numbers past it would only log empty paths.
    if (path.empty()) break;
    std::optional<TDeviceTable> row = ScanDrive(io, n, path, result);
    if (result.fatalText) return result;
    if (row) DeviceTable[++DeviceCount] = std::move(*row);
  }
  result.nextDrive = n;
  result.statusText = "找到磁碟:        " + std::to_string(DeviceCount);
  return result;
}

std::optional<int64_t> ScanDriveBeyondTable(
    DeviceIo& io, const ScanResult& scan,
    const std::function<bool(int number, const std::string& path)>& matches) {
  ScanResult ignored;
  for (int n = scan.nextDrive; n <= 255 && DeviceCount == kMaxDeviceCount; ++n) {
    const std::string path = io.PhysicalDrivePath(n);
    if (path.empty()) break;
    if (!matches(n, path)) continue;
    std::optional<TDeviceTable> row = ScanDrive(io, n, path, ignored);
    if (!row) return std::nullopt;
    DeviceTable[kDeviceTableRows] = std::move(*row);
    return kDeviceTableRows;
  }
  return std::nullopt;
}

}  // namespace fw
