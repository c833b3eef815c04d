#include "format/hidden_area.hpp"

#include <string>

#include "device/purge_commands.hpp"
#include "format/pass_lines.hpp"
#include "format/purge_texts.hpp"
#include "report/text_format.hpp"

namespace fw {

namespace {

namespace text = format_text;

std::string Refused(const AtaReply& reply) {
  if (reply.outcome == CommandOutcome::NotSupported) return std::string(text::kRefusedNoPassthrough);
  if (reply.outcome == CommandOutcome::DeviceError) {
    return "the drive refused it (ATA error " + std::to_string(reply.error) + ")";
  }
  return "the command failed" + (reply.code != 0 ? pass_lines::ErrorCodeSuffix(reply.code) : "");
}

}  // namespace

void LogHiddenArea(const FormatSession& session, const HiddenArea& hidden) {
  if (hidden.hiddenSectors() > 0) {
    session.AddFormatLogLine(std::string(text::kHiddenWarning) + GroupThousands(hidden.accessibleSectors) +
                     std::string(text::kHiddenTo) + GroupThousands(hidden.nativeSectors - 1) +
                     std::string(text::kHiddenCount) + GroupThousands(hidden.hiddenSectors()) +
                     std::string(text::kHiddenSectors) + std::string(text::kHiddenHint));
  }
  if (hidden.dcoRestricts) {
    session.AddFormatLogLine(std::string(text::kDcoReported) + GroupThousands(hidden.dcoMaxSectors));
  }
}

std::optional<int64_t> OpenHiddenArea(DeviceIo& io, Handle handle, const FormatSession& session,
                                      const AtaEraseFeatures& ata, const HiddenArea& hidden,
                                      int64_t sectorSize) {
  const auto maxLba = static_cast<uint64_t>(hidden.nativeSectors - 1);
  std::span<uint8_t> none;
  AtaReply reply;
  if (ata.amaSupported) {
    reply = io.SendAtaCommand(handle, AtaSetAccessibleMaxAddress(maxLba), none);
  } else {
    // SET MAX ADDRESS EXT is taken only right after READ NATIVE MAX ADDRESS EXT.
    reply = io.SendAtaCommand(handle, AtaReadNativeMaxExt(), none);
    if (reply.outcome == CommandOutcome::Success) {
      reply = io.SendAtaCommand(handle, AtaSetMaxAddressExt(maxLba, false), none);
    }
  }
  if (reply.outcome != CommandOutcome::Success) {
    session.AddFormatLogLine(std::string(text::kHiddenOpenFailed) + Refused(reply));
    return std::nullopt;
  }
  const int64_t nativeBytes = hidden.nativeSectors * sectorSize;
  const std::optional<int64_t> seen = io.RereadCapacity(handle);
  if (!seen || *seen != nativeBytes) {
    session.AddFormatLogLine(std::string(text::kHiddenNotSeen) + GroupThousands(hidden.accessibleSectors));
    return std::nullopt;
  }
  session.AddFormatLogLine(std::string(text::kHiddenOpened) + GroupThousands(hidden.accessibleSectors) +
                   " -> " + GroupThousands(hidden.nativeSectors) +
                   std::string(ata.amaSupported ? text::kHiddenOpenedKept
                                                : text::kHiddenOpenedUntil));
  return *seen;
}

}  // namespace fw
