#pragma once
// The three NVMe requests the program makes, carried as Windows does: IOCTL_STORAGE_QUERY_PROPERTY
// with a protocol-specific property, answered by a STORAGE_PROTOCOL_DATA_DESCRIPTOR followed by
// the data. The callers' side (building the query, taking the data out of the reply) and the
// backends' side (recognising the query, building the reply) live here, so both agree on one
// layout. Nothing else is ever asked of an NVMe disk.
#include <cstdint>
#include <optional>
#include <span>

#include "device/device_io.hpp"
#include "device/nvme_layouts.hpp"

namespace fw {

enum class NvmeRequest {
  IdentifyController,  // Identify, CNS 01h, 4096 bytes
  IdentifyNamespace,   // Identify, CNS 00h, the disk's own namespace, 4096 bytes
  HealthLog,           // Get Log Page, SMART / Health Information (02h), 512 bytes
};

// The byte count of a request's data.
uint32_t NvmeDataLength(NvmeRequest request);

// The query's 48 input bytes: STORAGE_PROPERTY_QUERY with its STORAGE_PROTOCOL_SPECIFIC_DATA.
std::array<uint8_t, win::kProtocolQuerySize> BuildNvmeQuery(NvmeRequest request);

// Which of the three requests a query input is; nullopt for any other query (a backend then
// refuses it).
std::optional<NvmeRequest> ParseNvmeQuery(const void* in, uint32_t inSize);

// Whether a property is one of the two protocol-specific properties.
bool IsProtocolSpecificProperty(uint32_t propertyId);

// The reply a backend returns for `request` with its `data`: the descriptor, then the data.
// Returns the byte count written, or 0 when `capacity` cannot hold the whole reply.
uint32_t BuildNvmeReply(NvmeRequest request, std::span<const uint8_t> data, void* out,
                        uint32_t capacity);

// The callers' side: one request through `io`. The destination is written only on success.
bool NvmeIdentifyController(DeviceIo& io, Handle handle, nvme::IdentifyPage& destination);
bool NvmeIdentifyNamespace(DeviceIo& io, Handle handle, nvme::IdentifyPage& destination);
bool NvmeReadHealthLog(DeviceIo& io, Handle handle, nvme::HealthLog& destination);

}  // namespace fw
