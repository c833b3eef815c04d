#include "device/linux/nvme_admin.hpp"

#include <sys/ioctl.h>

#include <cerrno>
#include <cstddef>
#include <vector>

namespace fw::linuxio {

namespace {

// The admin command's timeout: an Identify or a log page read is answered in microseconds;
// this only bounds a controller that hangs.
constexpr uint32_t kAdminTimeoutMs = 15000;

static_assert(sizeof(nvme_passthru_cmd) == 72);
static_assert(offsetof(nvme_passthru_cmd, nsid) == 4);
static_assert(offsetof(nvme_passthru_cmd, addr) == 24);
static_assert(offsetof(nvme_passthru_cmd, data_len) == 36);
static_assert(offsetof(nvme_passthru_cmd, cdw10) == 40);
static_assert(offsetof(nvme_passthru_cmd, timeout_ms) == 64);

}  // namespace

NvmeAdminWords NvmeAdminWordsFor(NvmeRequest request, uint32_t deviceNamespace) {
  const uint32_t length = NvmeDataLength(request);
  switch (request) {
    case NvmeRequest::IdentifyController:
      return {nvme::kOpcodeIdentify, 0, nvme::kCnsController, length};
    case NvmeRequest::IdentifyNamespace:
      return {nvme::kOpcodeIdentify, deviceNamespace, nvme::kCnsNamespace, length};
    case NvmeRequest::HealthLog:
      break;
  }
  const uint32_t dwordsMinusOne = length / 4 - 1;
  return {nvme::kOpcodeGetLogPage, nvme::kAllNamespaces,
          (dwordsMinusOne << 16) | nvme::kLogSmartHealth, length};
}

nvme_passthru_cmd BuildNvmePassthru(const NvmeAdminWords& words, void* data) {
  nvme_passthru_cmd cmd{};
  cmd.opcode = words.opcode;
  cmd.nsid = words.nsid;
  cmd.addr = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(data));
  cmd.data_len = words.dataLength;
  cmd.cdw10 = words.cdw10;
  cmd.timeout_ms = kAdminTimeoutMs;
  return cmd;
}

int SendNvmeAdmin(int fd, NvmeRequest request, void* out, uint32_t capacity, uint32_t& count) {
  const uint32_t length = NvmeDataLength(request);
  if (out == nullptr || capacity < win::kProtocolReplyDataStart + length) return ENOBUFS;
  uint32_t nsid = 0;
  if (request == NvmeRequest::IdentifyNamespace) {
    const int id = ::ioctl(fd, NVME_IOCTL_ID);
    if (id < 0) return errno;
    nsid = static_cast<uint32_t>(id);
  }
  std::vector<uint8_t> data(length, 0);
  nvme_passthru_cmd cmd = BuildNvmePassthru(NvmeAdminWordsFor(request, nsid), data.data());
  const int status = ::ioctl(fd, NVME_IOCTL_ADMIN_CMD, &cmd);
  if (status < 0) return errno;
  if (status > 0) return EIO;  // an NVMe status: the controller refused or failed the command
  count = BuildNvmeReply(request, data, out, capacity);
  return count == 0 ? ENOBUFS : 0;
}

}  // namespace fw::linuxio
