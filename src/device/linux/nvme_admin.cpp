#include "device/linux/nvme_admin.hpp"

#include <sys/ioctl.h>

#include <cerrno>
#include <cstddef>
#include <vector>

#include "device/linux/errno_map.hpp"

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

nvme_passthru_cmd BuildNvmePassthru(const NvmeAdminCommand& command, void* data) {
  nvme_passthru_cmd cmd{};
  cmd.opcode = command.opcode;
  cmd.nsid = command.nsid;
  const bool hasData = command.direction != NvmeDataDirection::None && command.dataLength > 0;
  cmd.addr = hasData ? static_cast<uint64_t>(reinterpret_cast<uintptr_t>(data)) : 0;
  cmd.data_len = hasData ? command.dataLength : 0;
  cmd.cdw10 = command.cdw10;
  cmd.cdw11 = command.cdw11;
  cmd.cdw12 = command.cdw12;
  cmd.cdw13 = command.cdw13;
  cmd.cdw14 = command.cdw14;
  cmd.cdw15 = command.cdw15;
  cmd.timeout_ms = command.timeoutMs;
  return cmd;
}

nvme_passthru_cmd BuildNvmePassthru(const NvmeAdminWords& words, void* data) {
  NvmeAdminCommand command;
  command.opcode = words.opcode;
  command.nsid = words.nsid;
  command.cdw10 = words.cdw10;
  command.dataLength = words.dataLength;
  command.direction = NvmeDataDirection::FromDevice;
  command.timeoutMs = kAdminTimeoutMs;
  return BuildNvmePassthru(command, data);
}

bool NvmeAdminOnlyReads(const NvmeAdminCommand& command) {
  constexpr uint8_t kOpcodeGetFeatures = 0x0A;
  if (command.direction == NvmeDataDirection::ToDevice) return false;
  return command.opcode == nvme::kOpcodeIdentify || command.opcode == nvme::kOpcodeGetLogPage ||
         command.opcode == kOpcodeGetFeatures;
}

NvmeReply NvmeReplyFromIoctl(int returned, int error, uint32_t result) {
  NvmeReply reply;
  if (returned < 0) {
    reply.outcome = CommandOutcomeFromErrno(error);
    if (reply.outcome == CommandOutcome::Success) reply.outcome = CommandOutcome::TransportError;
    reply.code = CommandErrorFromErrno(error);
    return reply;
  }
  // The status field without the phase bit: SC 7:0, SCT 10:8, CRD 12:11, More 13, DNR 14.
  reply.status = static_cast<uint16_t>(returned & 0x7FF);
  reply.result = result;
  reply.outcome = reply.status == 0 ? CommandOutcome::Success : CommandOutcome::DeviceError;
  return reply;
}

NvmeReply IssueNvmeAdmin(int fd, const NvmeAdminCommand& command, void* data) {
  nvme_passthru_cmd cmd = BuildNvmePassthru(command, data);
  const int returned = ::ioctl(fd, NVME_IOCTL_ADMIN_CMD, &cmd);
  return NvmeReplyFromIoctl(returned, returned < 0 ? errno : 0, cmd.result);
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
