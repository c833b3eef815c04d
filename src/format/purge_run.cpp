#include "format/purge_run.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <future>
#include <optional>
#include <random>
#include <system_error>
#include <vector>

#include "core/logs.hpp"
#include "device/nvme_decoder.hpp"
#include "device/nvme_protocol.hpp"
#include "device/purge_commands.hpp"
#include "format/format_texts.hpp"
#include "format/pass_lines.hpp"
#include "format/purge_texts.hpp"
#include "format/purge_verify.hpp"
#include "report/text_format.hpp"

namespace fw {

namespace {

namespace text = format_text;

// The view is pumped this often while the drive works, so that the window stays responsive.
constexpr int64_t kPumpSliceMs = 100;
constexpr uint32_t kAllNamespaces = 0xFFFFFFFF;

bool IsCrypto(EraseMethod method) {
  return method == EraseMethod::SanitizeCrypto || method == EraseMethod::FormatNvmCrypto;
}

std::optional<SanitizeAction> SanitizeActionOf(EraseMethod method) {
  switch (method) {
    case EraseMethod::SanitizeBlock: return SanitizeAction::BlockErase;
    case EraseMethod::SanitizeCrypto: return SanitizeAction::CryptoErase;
    case EraseMethod::SanitizeOverwrite: return SanitizeAction::Overwrite;
    default: return std::nullopt;
  }
}

std::string Hex(uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*X", digits, value);
  return text;
}

std::string SanitizeStateText(SanitizeState state) {
  switch (state) {
    case SanitizeState::Failed: return "sanitize operation failed";
    case SanitizeState::Frozen: return "sanitize frozen";
    case SanitizeState::Unsupported: return "sanitize not supported";
    default: return "sanitize did not complete";
  }
}

// Runs a command that blocks for as long as the drive erases on a helper thread, showing the
// time passed against `expectedMs` and pumping the view meanwhile.
template <typename Reply>
Reply WhilePumping(Clock& clock, int64_t expectedMs,
                   const std::function<void(double)>& show, std::function<Reply()> send,
                   const std::function<void()>& pump) {
  std::future<Reply> reply;
  try {
    reply = std::async(std::launch::async, send);
  } catch (const std::system_error&) {
    return send();
  }
  const int64_t start = clock.NowMs();
  while (reply.wait_for(std::chrono::milliseconds(kPumpSliceMs)) != std::future_status::ready) {
    const double passed = static_cast<double>(clock.NowMs() - start);
    show(std::min(0.99, passed / static_cast<double>(std::max<int64_t>(expectedMs, 1))));
    pump();
  }
  return reply.get();
}

class DriveEraser {
 public:
  DriveEraser(DeviceIo& io, Handle handle, const std::string& devicePath,
              const TIdentifyDeviceData& device, const DriveEraseFacts& facts,
              FormatSession& session, FormatView& view, Clock& clock)
      : m_io(io), m_handle(handle), m_devicePath(devicePath), m_device(device), m_facts(facts),
        m_session(session), m_view(view), m_clock(clock), m_capacity(CapacityBytes(device)) {}

  DriveEraseRun Run(EraseMethod method) {
    std::optional<SectorSample> sample;
    if (IsCrypto(method)) {
      sample.emplace(m_io, m_handle, m_session, m_device.SectorSize,
                     SectorSample::Choose(m_device.LBA, std::random_device{}()));
    }
    m_session.AddFormatLogLine(std::string(text::kSendingCommand) + DriveEraseCommandName(m_facts, method));
    m_session.AddFormatLogLine(text::kCannotStop);
    m_view.SetStopEnabled(false);
    m_view.StartPass(m_capacity);
    Show(0);

    bool done = false;
    if (const std::optional<SanitizeAction> action = SanitizeActionOf(method)) {
      done = m_facts.nvme ? NvmeSanitizeRun(*action) : AtaSanitizeRun(*action);
    } else if (method == EraseMethod::FormatNvm || method == EraseMethod::FormatNvmCrypto) {
      done = FormatRun(method == EraseMethod::FormatNvmCrypto);
    } else if (method == EraseMethod::SecureErase || method == EraseMethod::SecureEraseEnhanced) {
      done = SecureEraseRun(method == EraseMethod::SecureEraseEnhanced);
    }
    if (!done) return m_run;

    Show(1);
    m_view.SetProgress(100);
    m_session.AddFormatLogLine(text::kDriveCompleted);
    m_run.outcome = ZeroFillOutcome::Completed;
    // The check is ours to stop again.
    m_view.SetStopEnabled(true);
    if (sample) {
      m_run.verifyMethod = "sample before and after";
      m_run.verify = sample->Compare(m_io, m_handle, m_session, m_view);
    } else {
      m_run.verifyMethod = "full read-back";
      ReadBackCheck check =
          VerifyReadBack(m_io, m_handle, m_device.SectorSize, m_capacity, m_session, m_view, m_clock);
      m_run.verify = std::move(check.verify);
      m_run.readBackPattern = std::move(check.pattern);
    }
    return m_run;
  }

 private:
  void Show(double fraction) {
    const auto reached = static_cast<int64_t>(fraction * static_cast<double>(m_capacity));
    pass_lines::ShowBlock(m_view, std::clamp<int64_t>(reached, 0, m_capacity),
                          std::max<int64_t>(m_capacity, 1), reached, m_device.SectorSize);
  }

  // A Stop asked while the drive erases is answered once, in the log, and otherwise let go.
  void Pump() {
    m_view.PumpMessages();
    if (!m_session.StopRequested()) return;
    m_session.ClearStop();
    if (!m_stopAnswered) m_session.AddFormatLogLine(text::kStopIgnored);
    m_stopAnswered = true;
  }

  void Wait(int64_t ms) {
    for (int64_t waited = 0; waited < ms; waited += kPumpSliceMs) {
      m_clock.SleepMs(std::min(kPumpSliceMs, ms - waited));
      Pump();
    }
  }

  std::function<void()> Pumper() {
    return [this] { Pump(); };
  }

  // A send that did not reach the drive, or that it refused: true when the run goes on.
  bool Sent(CommandOutcome outcome, const std::string& detail, uint32_t code) {
    switch (outcome) {
      case CommandOutcome::Success: return true;
      case CommandOutcome::NotSupported:
        if (!m_anythingSent) {
          m_run.notCarried = true;
          m_session.AddFormatLogLine(text::kRefusedNoPassthrough);
          m_session.AddFormatLogLine(text::kNothingSent);
          return false;
        }
        break;
      case CommandOutcome::NoDevice:
        m_session.AddFormatLogLine(std::string(text::kCommandFailed) + std::string(text::kMediaUnplugged));
        m_run.outcome = ZeroFillOutcome::Aborted;
        return false;
      default: break;
    }
    std::string why = detail;
    if (outcome != CommandOutcome::DeviceError) {
      why = outcome == CommandOutcome::Timeout ? "timeout" : "transport error";
      if (code != 0) why += pass_lines::ErrorCodeSuffix(code);
    }
    m_session.AddFormatLogLine(std::string(text::kCommandFailed) + why);
    Failed();
    return false;
  }

  void Failed() {
    m_run.driveFailed = true;
    m_run.outcome = ZeroFillOutcome::Aborted;
  }

  AtaReply Ata(const AtaCommand& command, std::span<uint8_t> data = {}) {
    AtaReply reply = m_io.SendAtaCommand(m_handle, command, data);
    if (reply.outcome != CommandOutcome::NotSupported) m_anythingSent = true;
    return reply;
  }
  NvmeReply Nvme(const NvmeAdminCommand& command, std::span<uint8_t> data = {}) {
    NvmeReply reply = m_io.SendNvmeAdminCommand(m_handle, command, data);
    if (reply.outcome != CommandOutcome::NotSupported) m_anythingSent = true;
    return reply;
  }
  static std::string AtaDetail(const AtaReply& reply) {
    return "ATA status " + Hex(reply.status, 2) + ", error " + Hex(reply.error, 2);
  }
  static std::string NvmeDetail(const NvmeReply& reply) {
    return "NVMe status " + Hex(reply.status, 4);
  }

  // How long the drive may take: its own estimate, or the capacity's when it gives none.
  int64_t DeadlineMs(std::optional<uint32_t> estimateSeconds) const {
    std::optional<uint32_t> minutes;
    if (estimateSeconds) minutes = (*estimateSeconds + 59) / 60;
    return int64_t{SecurityEraseTimeoutSeconds(minutes, m_capacity)} * 1000;
  }

  // Polls until the drive says it is done; true when it completed.
  bool Poll(const std::function<std::optional<SanitizeProgress>()>& status, int64_t deadlineMs) {
    const int64_t start = m_clock.NowMs();
    for (;;) {
      const std::optional<SanitizeProgress> progress = status();
      if (!progress) return false;
      switch (progress->state) {
        case SanitizeState::Completed: return true;
        case SanitizeState::Failed:
        case SanitizeState::Frozen:
        case SanitizeState::Unsupported:
          m_session.AddFormatLogLine(std::string(text::kDriveFailed) + SanitizeStateText(progress->state));
          Failed();
          return false;
        case SanitizeState::InProgress:
        case SanitizeState::Idle:
          if (progress->fraction) Show(*progress->fraction);
          break;
      }
      const int64_t waited = m_clock.NowMs() - start;
      if (waited >= deadlineMs) {
        m_session.AddFormatLogLine(std::string(text::kDriveTimedOut) + GroupThousands(waited / 1000));
        Failed();
        return false;
      }
      Wait(kDrivePollMs);
    }
  }

  bool AtaSanitizeRun(SanitizeAction action) {
    const AtaReply reply = Ata(AtaSanitize(action));
    if (reply.outcome == CommandOutcome::DeviceError) {
      const SanitizeProgress why = DecodeAtaSanitizeStatus(reply);
      m_session.AddFormatLogLine(std::string(text::kDriveFailed) + SanitizeStateText(why.state) + " (" +
                       AtaDetail(reply) + ")");
      Failed();
      return false;
    }
    if (!Sent(reply.outcome, AtaDetail(reply), reply.code)) return false;
    return Poll(
        [this]() -> std::optional<SanitizeProgress> {
          const AtaReply status = Ata(AtaSanitizeStatus());
          if (status.outcome != CommandOutcome::Success &&
              status.outcome != CommandOutcome::DeviceError) {
            Sent(status.outcome, AtaDetail(status), status.code);
            return std::nullopt;
          }
          return DecodeAtaSanitizeStatus(status);
        },
        DeadlineMs(std::nullopt));
  }

  std::optional<std::vector<uint8_t>> SanitizeLog() {
    const NvmeAdminCommand command = NvmeSanitizeStatusLog();
    std::vector<uint8_t> page(command.dataLength);
    const NvmeReply reply = Nvme(command, page);
    if (reply.outcome != CommandOutcome::Success) {
      if (m_anythingSent) Sent(reply.outcome, NvmeDetail(reply), reply.code);
      return std::nullopt;
    }
    return page;
  }

  bool NvmeSanitizeRun(SanitizeAction action) {
    std::optional<uint32_t> estimate;
    if (const auto page = SanitizeLog()) estimate = NvmeSanitizeEstimateSeconds(*page, action);
    const NvmeReply reply = Nvme(NvmeSanitize(action));
    if (!Sent(reply.outcome, NvmeDetail(reply), reply.code)) return false;
    return Poll(
        [this]() -> std::optional<SanitizeProgress> {
          const auto page = SanitizeLog();
          if (!page) return std::nullopt;
          return DecodeNvmeSanitizeLog(*page);
        },
        DeadlineMs(estimate));
  }

  // The one active namespace (the facts refused a controller with others), or all of them.
  uint32_t NamespaceId() {
    const NvmeAdminCommand command = NvmeActiveNamespaceList();
    std::vector<uint8_t> list(command.dataLength);
    if (Nvme(command, list).outcome != CommandOutcome::Success || list.size() < 4) {
      return kAllNamespaces;
    }
    const uint32_t id = list[0] | list[1] << 8 | list[2] << 16 | uint32_t{list[3]} << 24;
    return id == 0 ? kAllNamespaces : id;
  }

  bool FormatRun(bool crypto) {
    // The format keeps the LBA format in use: without it a format could change the sector size.
    nvme::IdentifyPage page{};
    if (!NvmeIdentifyNamespace(m_io, m_handle, page)) {
      m_session.AddFormatLogLine(std::string(text::kCommandFailed) + "the LBA format in use could not be read");
      m_session.AddFormatLogLine(text::kNothingSent);
      m_run.notCarried = true;
      return false;
    }
    const uint32_t format = DecodeNvmeIdentifyNamespace(page).formatInUse;
    const NvmeAdminCommand command =
        NvmeFormat(NamespaceId(), static_cast<uint8_t>(format), crypto);
    const NvmeReply reply = WhilePumping<NvmeReply>(
        m_clock, command.timeoutMs, [this](double f) { Show(f); },
        [this, &command] { return Nvme(command); }, Pumper());
    return Sent(reply.outcome, NvmeDetail(reply), reply.code);
  }

  bool SecureEraseRun(bool enhanced) {
    if (!m_facts.ata) return false;
    const std::string password = TemporaryPassword();
    std::array<uint8_t, 512> sector = SecuritySector(password);
    const AtaReply set = Ata(AtaSecuritySetPassword(), sector);
    if (!Sent(set.outcome, AtaDetail(set), set.code)) return false;
    AddDebugLine("Temporary user password set: " + password);

    const auto leave = [&] {
      m_run.passwordLeft = password;
      m_session.AddFormatLogLine(std::string(text::kPasswordLeft) + password);
      m_session.AddFormatLogLine(std::string(text::kPasswordHint) + password + " " + m_devicePath);
    };
    const AtaReply prepare = Ata(AtaSecurityErasePrepare());
    if (!Sent(prepare.outcome, AtaDetail(prepare), prepare.code)) {
      leave();
      return false;
    }
    const std::optional<uint32_t> estimate = enhanced ? m_facts.ata->security.enhancedEraseMinutes
                                                      : m_facts.ata->security.normalEraseMinutes;
    const AtaCommand unit =
        AtaSecurityEraseUnit(SecurityEraseTimeoutSeconds(estimate, m_capacity));
    sector = SecuritySector(password, enhanced);
    const int64_t expectedMs =
        estimate ? int64_t{*estimate} * 60'000 : int64_t{unit.timeoutSeconds} * 1000;
    const AtaReply erased = WhilePumping<AtaReply>(
        m_clock, expectedMs, [this](double f) { Show(f); },
        [this, &unit, &sector] { return Ata(unit, sector); }, Pumper());
    if (!Sent(erased.outcome, AtaDetail(erased), erased.code)) {
      leave();
      return false;
    }
    return true;
  }

  DeviceIo& m_io;
  Handle m_handle;
  const std::string& m_devicePath;
  const TIdentifyDeviceData& m_device;
  const DriveEraseFacts& m_facts;
  FormatSession& m_session;
  FormatView& m_view;
  Clock& m_clock;
  int64_t m_capacity;
  DriveEraseRun m_run;
  bool m_anythingSent = false;
  bool m_stopAnswered = false;
};

}  // namespace

std::string DriveEraseCommandName(const DriveEraseFacts& facts, EraseMethod method) {
  const bool nvme = facts.nvme.has_value();
  switch (method) {
    case EraseMethod::SanitizeBlock:
      return nvme ? "NVMe Sanitize, block erase" : "SANITIZE BLOCK ERASE EXT";
    case EraseMethod::SanitizeCrypto:
      return nvme ? "NVMe Sanitize, crypto erase" : "SANITIZE CRYPTO SCRAMBLE EXT";
    case EraseMethod::SanitizeOverwrite:
      return nvme ? "NVMe Sanitize, overwrite" : "SANITIZE OVERWRITE EXT";
    case EraseMethod::FormatNvm: return "NVMe Format NVM, user data erase";
    case EraseMethod::FormatNvmCrypto: return "NVMe Format NVM, cryptographic erase";
    case EraseMethod::SecureErase: return "SECURITY ERASE UNIT, normal";
    case EraseMethod::SecureEraseEnhanced: return "SECURITY ERASE UNIT, enhanced";
    case EraseMethod::Zero:
    case EraseMethod::Purge: break;
  }
  return std::string(EraseMethodWord(method));
}

std::string TemporaryPassword() {
  static constexpr char kLetters[] = "ABCDEFGHJKLMNPQRSTUVWXYZ23456789";
  std::random_device random;
  std::string password = "fw-";
  for (int i = 0; i < 12; ++i) password += kLetters[random() % (sizeof kLetters - 1)];
  return password;
}

DriveEraseRun RunDriveErase(DeviceIo& io, Handle handle, const std::string& devicePath,
                            const TIdentifyDeviceData& device, const DriveEraseFacts& facts,
                            EraseMethod method, FormatSession& session, FormatView& view,
                            Clock& clock) {
  DriveEraser eraser(io, handle, devicePath, device, facts, session, view, clock);
  return eraser.Run(method);
}

}  // namespace fw
