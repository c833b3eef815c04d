#include "cli/stop_signals.hpp"

#include <csignal>

namespace fw::cli {

namespace {

// The one thing a signal handler may touch; read only through StopSignals.
volatile std::sig_atomic_t g_stopSignalled = 0;

void OnStopSignal(int) { g_stopSignalled = 1; }

}  // namespace

StopSignals::StopSignals() {
  g_stopSignalled = 0;
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (size_t i = 0; i < kStops.size(); ++i) sigaction(kStops[i], &action, &m_previous[i]);
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, &m_previousPipe);
}

StopSignals::~StopSignals() {
  for (size_t i = 0; i < kStops.size(); ++i) sigaction(kStops[i], &m_previous[i], nullptr);
  sigaction(SIGPIPE, &m_previousPipe, nullptr);
}

bool StopSignals::TakeRequest() {
  const bool asked = g_stopSignalled != 0;
  g_stopSignalled = 0;
  return asked;
}

}  // namespace fw::cli
