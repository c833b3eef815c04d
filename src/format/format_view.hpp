#pragma once
// What the format engine and the format control drive: the main window's format tab, or the
// CLI's terminal. The engine owns no widget.
#include <cstdint>
#include <string>

namespace fw {

class FormatView {
 public:
  virtual ~FormatView() = default;
  // Progress bar position, 0..100.
  virtual void SetProgress(int percent) = 0;
  virtual void SetPercentText(const std::string& text) = 0;
  virtual void SetPositionText(const std::string& text) = 0;
  virtual void SetSpeedText(const std::string& text) = 0;
  virtual std::string SpeedText() const = 0;
  // A pass over `totalBytes` begins (the write pass, then the verify pass): its times start now.
  virtual void StartPass(int64_t totalBytes) { (void)totalBytes; }
  // How far the current pass will be once the announced block is done, in bytes of the pass.
  virtual void SetBytePosition(int64_t reached) { (void)reached; }
  // Lets pending window messages run once (a Stop click is handled here).
  virtual void PumpMessages() = 0;
  // The format button, the S.M.A.R.T. button and the quick-wipe box, all three together.
  virtual void SetFormatControlsEnabled(bool enabled) = 0;
  // true: Stop enabled and focused, progress bar normal; false: Stop disabled, bar paused.
  virtual void SetRunning(bool running) = 0;
  // While running: false while the drive erases on its own, which nothing can stop (the bar
  // keeps moving); true again for the check that follows, which Stop ends as usual.
  virtual void SetStopEnabled(bool enabled) { (void)enabled; }
};

}  // namespace fw
