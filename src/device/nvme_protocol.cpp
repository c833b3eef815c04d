#include "device/nvme_protocol.hpp"

#include <cstring>
#include <vector>

#include "device/control_codes.hpp"
#include "device/win_layouts.hpp"

namespace fw {

namespace {

struct RequestShape {
  uint32_t propertyId;
  uint32_t dataType;
  uint32_t requestValue;
  uint32_t length;
};

RequestShape ShapeOf(NvmeRequest request) {
  switch (request) {
    case NvmeRequest::IdentifyController:
      return {win::StorageAdapterProtocolSpecificProperty, win::NVMeDataTypeIdentify,
              nvme::kCnsController, nvme::kIdentifySize};
    case NvmeRequest::IdentifyNamespace:
      return {win::StorageDeviceProtocolSpecificProperty, win::NVMeDataTypeIdentify,
              nvme::kCnsNamespace, nvme::kIdentifySize};
    case NvmeRequest::HealthLog:
      break;
  }
  return {win::StorageDeviceProtocolSpecificProperty, win::NVMeDataTypeLogPage,
          nvme::kLogSmartHealth, nvme::kHealthLogSize};
}

constexpr NvmeRequest kRequests[] = {NvmeRequest::IdentifyController,
                                     NvmeRequest::IdentifyNamespace, NvmeRequest::HealthLog};

// The descriptor's specific data for a request: the data right after it. The namespace is
// left 0: a disk's handle answers for its own namespace.
win::STORAGE_PROTOCOL_SPECIFIC_DATA SpecificData(NvmeRequest request) {
  const RequestShape shape = ShapeOf(request);
  win::STORAGE_PROTOCOL_SPECIFIC_DATA data{};
  data.ProtocolType = win::ProtocolTypeNvme;
  data.DataType = shape.dataType;
  data.ProtocolDataRequestValue = shape.requestValue;
  data.ProtocolDataOffset = win::kProtocolDataOffset;
  data.ProtocolDataLength = shape.length;
  return data;
}

template <size_t N>
bool Request(DeviceIo& io, Handle handle, NvmeRequest request, std::array<uint8_t, N>& destination) {
  const auto query = BuildNvmeQuery(request);
  std::vector<uint8_t> reply(win::kProtocolReplyDataStart + N, 0);
  uint32_t returned = 0;
  if (!io.DeviceControl(handle, ioctl::IOCTL_STORAGE_QUERY_PROPERTY, query.data(), query.size(),
                        reply.data(), static_cast<uint32_t>(reply.size()), &returned)) {
    return false;
  }
  // A reply that does not hold the whole data, or describes other data, is no answer.
  const auto descriptor =
      win::LoadLayout<win::STORAGE_PROTOCOL_DATA_DESCRIPTOR>(reply.data(), reply.size());
  const win::STORAGE_PROTOCOL_SPECIFIC_DATA& data = descriptor.ProtocolSpecificData;
  if (returned < reply.size() || data.ProtocolDataOffset != win::kProtocolDataOffset ||
      data.ProtocolDataLength < N) {
    return false;
  }
  std::memcpy(destination.data(), reply.data() + win::kProtocolReplyDataStart, N);
  return true;
}

}  // namespace

uint32_t NvmeDataLength(NvmeRequest request) { return ShapeOf(request).length; }

std::array<uint8_t, win::kProtocolQuerySize> BuildNvmeQuery(NvmeRequest request) {
  std::array<uint8_t, win::kProtocolQuerySize> query{};
  win::StoreLayout(ShapeOf(request).propertyId, query.data(), query.size(),
                   offsetof(win::STORAGE_PROPERTY_QUERY, PropertyId));
  win::StoreLayout(win::PropertyStandardQuery, query.data(), query.size(),
                   offsetof(win::STORAGE_PROPERTY_QUERY, QueryType));
  win::StoreLayout(SpecificData(request), query.data(), query.size(), win::kProtocolQueryHeader);
  return query;
}

bool IsProtocolSpecificProperty(uint32_t propertyId) {
  return propertyId == win::StorageAdapterProtocolSpecificProperty ||
         propertyId == win::StorageDeviceProtocolSpecificProperty;
}

std::optional<NvmeRequest> ParseNvmeQuery(const void* in, uint32_t inSize) {
  if (in == nullptr || inSize < win::kProtocolQuerySize) return std::nullopt;
  const auto query = win::LoadLayout<win::STORAGE_PROPERTY_QUERY>(in, inSize);
  const auto data =
      win::LoadLayout<win::STORAGE_PROTOCOL_SPECIFIC_DATA>(in, inSize, win::kProtocolQueryHeader);
  if (query.QueryType != win::PropertyStandardQuery) return std::nullopt;
  for (const NvmeRequest request : kRequests) {
    const RequestShape shape = ShapeOf(request);
    // Only the whole page from its start: no other namespace, offset or length is served.
    if (query.PropertyId == shape.propertyId && data.ProtocolType == win::ProtocolTypeNvme &&
        data.DataType == shape.dataType && data.ProtocolDataRequestValue == shape.requestValue &&
        data.ProtocolDataRequestSubValue == 0 && data.ProtocolDataRequestSubValue2 == 0 &&
        data.ProtocolDataRequestSubValue3 == 0 && data.ProtocolDataRequestSubValue4 == 0 &&
        data.ProtocolDataOffset == win::kProtocolDataOffset &&
        data.ProtocolDataLength == shape.length) {
      return request;
    }
  }
  return std::nullopt;
}

uint32_t BuildNvmeReply(NvmeRequest request, std::span<const uint8_t> data, void* out,
                        uint32_t capacity) {
  const uint32_t size = win::kProtocolReplyDataStart + static_cast<uint32_t>(data.size());
  if (out == nullptr || capacity < size || data.size() != NvmeDataLength(request)) return 0;
  win::STORAGE_PROTOCOL_DATA_DESCRIPTOR descriptor{};
  descriptor.Version = sizeof(win::STORAGE_PROTOCOL_DATA_DESCRIPTOR);
  descriptor.Size = sizeof(win::STORAGE_PROTOCOL_DATA_DESCRIPTOR);
  descriptor.ProtocolSpecificData = SpecificData(request);
  win::StoreLayout(descriptor, out, capacity);
  std::memcpy(static_cast<uint8_t*>(out) + win::kProtocolReplyDataStart, data.data(), data.size());
  return size;
}

bool NvmeIdentifyController(DeviceIo& io, Handle handle, nvme::IdentifyPage& destination) {
  return Request(io, handle, NvmeRequest::IdentifyController, destination);
}

bool NvmeIdentifyNamespace(DeviceIo& io, Handle handle, nvme::IdentifyPage& destination) {
  return Request(io, handle, NvmeRequest::IdentifyNamespace, destination);
}

bool NvmeReadHealthLog(DeviceIo& io, Handle handle, nvme::HealthLog& destination) {
  return Request(io, handle, NvmeRequest::HealthLog, destination);
}

}  // namespace fw
