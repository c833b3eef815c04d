#pragma once
// The NVMe admin commands behind the three protocol-specific queries and the drive's own
// commands (format, sanitize and their reads). The command words are built by pure functions;
// SendNvmeAdmin and IssueNvmeAdmin are the only places that issue NVME_IOCTL_ADMIN_CMD.
#include <linux/nvme_ioctl.h>

#include <cstdint>

#include "device/drive_commands.hpp"
#include "device/nvme_protocol.hpp"

namespace fw::linuxio {

struct NvmeAdminWords {
  uint8_t opcode = 0;
  uint32_t nsid = 0;
  uint32_t cdw10 = 0;
  uint32_t dataLength = 0;

  bool operator==(const NvmeAdminWords&) const = default;
};

// Identify Controller: 06h, CNS 01h, no namespace. Identify Namespace: 06h, CNS 00h, the
// block device's own namespace. SMART / Health log: 02h, LID 02h with NUMDL = dwords - 1 in
// bits 31:16, every namespace (FFFFFFFFh).
NvmeAdminWords NvmeAdminWordsFor(NvmeRequest request, uint32_t deviceNamespace);

// The passthrough command carrying `command`, its data in or out of `data` (at least
// dataLength bytes), with the command's own timeout (0: the driver's default).
nvme_passthru_cmd BuildNvmePassthru(const NvmeAdminCommand& command, void* data);
// The same for one of the three queries, reading into `data`.
nvme_passthru_cmd BuildNvmePassthru(const NvmeAdminWords& words, void* data);

// Whether `command` only reads what the controller reports (Identify, Get Log Page, Get
// Features, none of them sending data). Anything else goes only on the working handle.
bool NvmeAdminOnlyReads(const NvmeAdminCommand& command);

// The reply from what the ioctl returned: -1 with `error`, an NVMe status (> 0: SCT and SC
// kept, the DNR, More and CRD bits dropped), or 0; `result` is completion dword 0.
NvmeReply NvmeReplyFromIoctl(int returned, int error, uint32_t result);

// Sends `command` on `fd` (an NVMe namespace block device or controller node), once: a
// command that changes the drive is never repeated, not even after an interruption.
NvmeReply IssueNvmeAdmin(int fd, const NvmeAdminCommand& command, void* data);

// Answers `request` on an NVMe namespace block device: its namespace ID (NVME_IOCTL_ID), then
// the admin command, then the Windows reply into `out`. Returns 0, or the errno of the failure
// (EIO when the controller completed the command with an error status).
int SendNvmeAdmin(int fd, NvmeRequest request, void* out, uint32_t capacity, uint32_t& count);

}  // namespace fw::linuxio
