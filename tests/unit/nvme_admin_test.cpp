// The NVMe admin commands the Linux backend sends, checked word by word without hardware.
#include "device/linux/nvme_admin.hpp"

#include <gtest/gtest.h>

#include <cstring>

namespace fw::linuxio {
namespace {

uint32_t U32(const uint8_t* bytes, size_t at) {
  uint32_t value = 0;
  std::memcpy(&value, bytes + at, sizeof value);
  return value;
}

TEST(NvmeAdmin, CommandWordsOfEachRequest) {
  struct Case {
    NvmeRequest request;
    uint8_t opcode;
    uint32_t nsid, cdw10, length;
  };
  const Case cases[] = {
      // Identify, CNS 01h: the controller, no namespace.
      {NvmeRequest::IdentifyController, 0x06, 0, 0x00000001, 4096},
      // Identify, CNS 00h: the namespace of the block device (NVME_IOCTL_ID gave 7).
      {NvmeRequest::IdentifyNamespace, 0x06, 7, 0x00000000, 4096},
      // Get Log Page, LID 02h, NUMDL 127 (128 dwords) in bits 31:16, every namespace.
      {NvmeRequest::HealthLog, 0x02, 0xFFFFFFFF, 0x007F0002, 512},
  };
  for (const Case& c : cases) {
    const NvmeAdminWords words = NvmeAdminWordsFor(c.request, 7);
    EXPECT_EQ(words, (NvmeAdminWords{c.opcode, c.nsid, c.cdw10, c.length}));

    uint8_t data[8];
    const nvme_passthru_cmd cmd = BuildNvmePassthru(words, data);
    uint8_t raw[sizeof cmd];
    std::memcpy(raw, &cmd, sizeof cmd);
    EXPECT_EQ(raw[0], c.opcode);
    EXPECT_EQ(raw[1], 0) << "flags";
    EXPECT_EQ(U32(raw, 4), c.nsid);
    EXPECT_EQ(cmd.addr, reinterpret_cast<uintptr_t>(data));
    EXPECT_EQ(U32(raw, 32), 0u) << "metadata_len";
    EXPECT_EQ(U32(raw, 36), c.length);
    EXPECT_EQ(U32(raw, 40), c.cdw10);
    for (size_t at = 44; at <= 60; at += 4) EXPECT_EQ(U32(raw, at), 0u) << "cdw at " << at;
    EXPECT_EQ(cmd.metadata, 0u);
    EXPECT_GT(cmd.timeout_ms, 0u);
  }
}

TEST(NvmeAdmin, ASmallReplyBufferIsRefusedBeforeAnythingIsSent) {
  uint8_t out[48 + 511];
  uint32_t count = 0;
  // An invalid descriptor: nothing may be attempted on it before the size check.
  EXPECT_EQ(SendNvmeAdmin(-1, NvmeRequest::HealthLog, out, sizeof out, count), ENOBUFS);
  EXPECT_EQ(SendNvmeAdmin(-1, NvmeRequest::HealthLog, out, sizeof out + 1, count), EBADF);
}

}  // namespace
}  // namespace fw::linuxio
