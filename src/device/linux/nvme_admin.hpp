#pragma once
// The NVMe admin commands behind the three protocol-specific queries. The command words are
// built by pure functions; SendNvmeAdmin is the only place that issues NVME_IOCTL_ADMIN_CMD.
#include <linux/nvme_ioctl.h>

#include <cstdint>

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

// The passthrough command carrying `words`, reading into `data` (at least dataLength bytes).
nvme_passthru_cmd BuildNvmePassthru(const NvmeAdminWords& words, void* data);

// Answers `request` on an NVMe namespace block device: its namespace ID (NVME_IOCTL_ID), then
// the admin command, then the Windows reply into `out`. Returns 0, or the errno of the failure
// (EIO when the controller completed the command with an error status).
int SendNvmeAdmin(int fd, NvmeRequest request, void* out, uint32_t capacity, uint32_t& count);

}  // namespace fw::linuxio
