#pragma once
// While a format runs, SIGINT (Ctrl-C), SIGTERM (systemctl stop, kill) and SIGHUP (the terminal
// closed) only ask the run to stop, however often they come, so that every attempt ends
// through its lease and its report is still written. SIGPIPE is ignored: a closed standard
// output is an error of the write, found and reported like any other.
#include <signal.h>

#include <array>

namespace fw::cli {

class StopSignals {
 public:
  StopSignals();
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // Whether a stop was asked since the last call.
  bool TakeRequest();

 private:
  static constexpr std::array<int, 3> kStops{SIGINT, SIGTERM, SIGHUP};
  std::array<struct sigaction, 3> m_previous{};
  struct sigaction m_previousPipe {};
};

}  // namespace fw::cli
