#pragma once
// The NVMe part of the device-details report: what Identify Controller and Identify Namespace
// say, after the same identity lines as an ATA disk's.
#include <optional>
#include <string>
#include <vector>

#include "device/device_io.hpp"
#include "device/erase_capabilities.hpp"
#include "device/nvme_decoder.hpp"

namespace fw {

struct NvmeDetails {
  NvmeControllerFacts controller;
  std::optional<NvmeNamespaceFacts> space;  // nullopt: Identify Namespace could not be read
  std::optional<DriveEraseFacts> erase;     // what the controller offers for its own erase
};

// Both identify pages of the disk; nullopt when Identify Controller cannot be read.
std::optional<NvmeDetails> ReadNvmeDetails(DeviceIo& io, Handle handle);

// The lines after the identity lines: controller, namespace, features, temperatures.
std::vector<std::string> NvmeDetailsLines(const NvmeDetails& details);

}  // namespace fw
