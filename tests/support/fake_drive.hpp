#pragma once
// The scriptable fake device with a drive behind it: ATA and NVMe admin commands are answered
// by the test's functions (none given: the path carries no such command, as a bridge would)
// and recorded in the order they came, so that a test can assert what reached the drive, and
// that nothing did.
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "device/drive_commands.hpp"
#include "fake_device.hpp"

namespace fw::test {

class FakeDrive : public FakeDevice {
 public:
  struct Sent {
    std::optional<AtaCommand> ata;
    std::optional<NvmeAdminCommand> nvme;
    std::vector<uint8_t> data;  // what the command carried to the drive (data-out), else empty
  };

  std::function<AtaReply(const AtaCommand&, std::span<uint8_t>)> answerAta;
  std::function<NvmeReply(const NvmeAdminCommand&, std::span<uint8_t>)> answerNvme;
  // What RereadCapacity says (nothing: the backend cannot tell).
  std::optional<int64_t> capacityAfterReread;

  std::vector<Sent> sent;  // commands that reached the drive
  int rereads = 0;

  std::vector<uint8_t> AtaCommandsSent() const {
    std::vector<uint8_t> codes;
    for (const Sent& s : sent) {
      if (s.ata) codes.push_back(s.ata->registers.command);
    }
    return codes;
  }
  std::vector<uint8_t> NvmeOpcodesSent() const {
    std::vector<uint8_t> codes;
    for (const Sent& s : sent) {
      if (s.nvme) codes.push_back(s.nvme->opcode);
    }
    return codes;
  }

  AtaReply SendAtaCommand(Handle handle, const AtaCommand& command,
                          std::span<uint8_t> data) override {
    if (!answerAta || !IsOpen(handle)) return {};
    const bool out = command.protocol == AtaProtocol::PioDataOut;
    sent.push_back(Sent{command, std::nullopt,
                        out ? std::vector<uint8_t>(data.begin(), data.end())
                            : std::vector<uint8_t>{}});
    return answerAta(command, data);
  }
  NvmeReply SendNvmeAdminCommand(Handle handle, const NvmeAdminCommand& command,
                                 std::span<uint8_t> data) override {
    if (!answerNvme || !IsOpen(handle)) return {};
    const bool out = command.direction == NvmeDataDirection::ToDevice;
    sent.push_back(Sent{std::nullopt, command,
                        out ? std::vector<uint8_t>(data.begin(), data.end())
                            : std::vector<uint8_t>{}});
    return answerNvme(command, data);
  }
  std::optional<int64_t> RereadCapacity(Handle handle) override {
    (void)handle;
    ++rereads;
    return capacityAfterReread;
  }
};

}  // namespace fw::test
