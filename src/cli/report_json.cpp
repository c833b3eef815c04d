#include "cli/report_json.hpp"

#include <cstdio>

#include "cli/erase_json.hpp"
#include "cli/json_text.hpp"
#include "core/text.hpp"
#include "core/device_types.hpp"

namespace fw::cli {

namespace {

// What every document starts with: which disk, which protocol, and whether it answered.
Json Head(const TDeviceTable& row, bool available) {
  return {{"drive", row.DeviceNumber},
          {"path", row.DevicePath},
          {"protocol", row.IdentifyData.BusType == kBusTypeNvme ? "nvme" : "ata"},
          {"available", available}};
}

Json Celsius(uint16_t kelvin) {
  return kelvin == 0 ? Json(nullptr) : Json(KelvinToCelsius(kelvin));
}

void AddAta(Json& doc, const T_IDE_PASSPORT& p) {
  doc["model"] = p.name;
  doc["firmware"] = p.fw;
  doc["serial"] = p.sn;
  doc["buffer_bytes"] = p.buffersize;
  doc["lba"] = p.lba28support;
  doc["lba48"] = p.lba48support;
  doc["lba_sectors"] = p.lba28sectors;
  doc["lba48_sectors"] = p.lba48sectors;
  doc["sectors"] = p.lbasectors;
  doc["sector_size"] = p.sectorsize;
  int64_t bytes = 0;
  doc["bytes"] = __builtin_mul_overflow(p.lbasectors, p.sectorsize, &bytes) ? Json(nullptr)
                                                                              : Json(bytes);
  doc["security"] = {{"supported", p.securitysupport},
                     {"locked", p.locked},
                     {"level", !p.locked ? Json(nullptr) : Json(p.lockedmax ? "maximum" : "high")}};
  // The identify data hold the largest queue depth minus one.
  doc["capabilities"] = {{"smart", p.smartsupport},
                         {"smart_enabled", p.smartenabled},
                         {"hpa", p.hpasupport},
                         {"aam", p.aamsupport},
                         {"streaming", p.StreamingSupported},
                         {"dma", p.dmasupport},
                         {"queuing", p.QueueDepth > 0},
                         {"queue_depth", p.QueueDepth > 0 ? p.QueueDepth + 1 : 0}};
}

// "1.4", or "1.2.1" with a tertiary number.
std::string VersionText(uint32_t version) {
  char text[16];
  if ((version & 0xFF) != 0) {
    std::snprintf(text, sizeof text, "%u.%u.%u", version >> 16, (version >> 8) & 0xFFu,
                  version & 0xFFu);
  } else {
    std::snprintf(text, sizeof text, "%u.%u", version >> 16, (version >> 8) & 0xFFu);
  }
  return text;
}

void AddNvme(Json& doc, const NvmeDetails& details) {
  const NvmeControllerFacts& c = details.controller;
  doc["model"] = c.model;
  doc["firmware"] = c.firmware;
  doc["serial"] = c.serial;
  doc["controller"] = {
      {"pci_vendor_id", c.pciVendorId},
      {"version", c.version == 0 ? Json(nullptr) : Json(VersionText(c.version))},
      {"total_capacity_bytes", c.totalCapacity == 0 ? Json(nullptr) : Counter(c.totalCapacity)},
      {"namespaces", c.namespaceCount},
      {"format_nvm", c.formatNvm},
      {"cryptographic_erase", c.cryptographicErase},
      {"sanitize",
       {{"crypto", c.sanitizeCrypto},
        {"block", c.sanitizeBlock},
        {"overwrite", c.sanitizeOverwrite}}},
      {"write_zeroes", c.writeZeroes},
      {"volatile_write_cache", c.volatileWriteCache},
      {"warning_temperature_celsius", Celsius(c.warningTemperatureKelvin)},
      {"critical_temperature_celsius", Celsius(c.criticalTemperatureKelvin)}};
  if (!details.space) {
    doc["namespace"] = nullptr;
    return;
  }
  Json formats = Json::array();
  for (const NvmeLbaFormat& f : details.space->formats) {
    formats.push_back(
        {{"index", f.index}, {"data_bytes", f.dataBytes}, {"metadata_bytes", f.metadataBytes}});
  }
  doc["namespace"] = {{"sectors", details.space->sectors},
                      {"format_in_use", details.space->formatInUse},
                      {"formats", formats}};
}

Json AttributesJson(const std::vector<SmartAttribute>& attributes) {
  Json list = Json::array();
  for (const SmartAttribute& a : attributes) {
    list.push_back({{"id", a.id},
                    {"name", Trim(SmartAttributeName(a.id))},
                    {"current", a.current},
                    {"worst", a.worst},
                    {"threshold", a.threshold ? Json(*a.threshold) : Json(nullptr)},
                    {"raw", a.raw},
                    {"flags", a.flags},
                    {"prefail", a.PreFail()},
                    {"online", a.Online()},
                    {"failing", a.Failing()}});
  }
  return list;
}

Json NvmeHealthJson(const NvmeHealth& h) {
  Json sensors = Json::array();
  for (const uint16_t kelvin : h.sensorKelvin) sensors.push_back(Celsius(kelvin));
  return {{"critical_warning", h.criticalWarning},
          {"temperature_celsius", Celsius(h.temperatureKelvin)},
          {"available_spare", h.availableSpare},
          {"available_spare_threshold", h.spareThreshold},
          {"percentage_used", h.percentageUsed},
          {"data_units_read", Counter(h.dataUnitsRead)},
          {"data_units_written", Counter(h.dataUnitsWritten)},
          {"host_read_commands", Counter(h.hostReadCommands)},
          {"host_write_commands", Counter(h.hostWriteCommands)},
          {"controller_busy_minutes", Counter(h.busyMinutes)},
          {"power_cycles", Counter(h.powerCycles)},
          {"power_on_hours", Counter(h.powerOnHours)},
          {"unsafe_shutdowns", Counter(h.unsafeShutdowns)},
          {"media_errors", Counter(h.mediaErrors)},
          {"error_log_entries", Counter(h.errorLogEntries)},
          {"warning_temperature_minutes", h.warningTemperatureMinutes},
          {"critical_temperature_minutes", h.criticalTemperatureMinutes},
          {"temperature_sensors_celsius", sensors}};
}

}  // namespace

std::string DetailsJson(const TDeviceTable& row, const DetailsReading& reading) {
  Json doc = Head(row, reading.Read());
  if (reading.kind == DetailsReading::Kind::Ata) AddAta(doc, reading.ata);
  if (reading.kind == DetailsReading::Kind::Nvme) AddNvme(doc, *reading.nvme);
  const std::optional<DriveEraseFacts>& erase =
      reading.kind == DetailsReading::Kind::Nvme ? reading.nvme->erase : reading.erase;
  if (erase) AddEraseFacts(doc, *erase);
  return JsonText(doc);
}

std::string SmartJson(const TDeviceTable& row, const SmartReading& reading) {
  Json doc = Head(row, reading.kind != SmartReading::Kind::Unavailable);
  if (reading.kind == SmartReading::Kind::Ata) {
    const std::vector<SmartAttribute> attributes = reading.Attributes();
    const SmartVerdict verdict = JudgeSmart(attributes, reading.thresholds.has_value());
    doc["thresholds_read"] = reading.thresholds.has_value();
    doc["attributes"] = AttributesJson(attributes);
    doc["verdict"] = {{"state", HealthStateName(verdict.state)},
                      {"failing", verdict.failing},
                      {"warnings", verdict.warnings}};
  } else if (reading.kind == SmartReading::Kind::Nvme) {
    doc["health"] = NvmeHealthJson(reading.nvme);
    Json bits = Json::array();
    const uint8_t warning = NvmeWarningBits(reading.nvme);
    for (int bit = 0; bit < 8; ++bit) {
      if ((warning >> bit) & 1) bits.push_back(bit);
    }
    doc["verdict"] = {{"state", HealthStateName(JudgeNvme(reading.nvme))},
                      {"critical_warning_bits", bits}};
  }
  return JsonText(doc);
}

}  // namespace fw::cli
