#pragma once
// A `sleep` process that holds something (a working folder in a volume, an open partition, a
// mount namespace of its own) for as long as the test needs it, and is gone with the object.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

namespace fw::test {

class Sleeper {
 public:
  // `settle` runs in the child before it becomes `sleep` and returns false when it could not
  // take hold. With `inOwnMountNamespace`, the child is `unshare -m sleep`: a copy of every
  // mount of the moment, held until it ends.
  explicit Sleeper(const std::function<bool()>& settle, bool inOwnMountNamespace = false) {
    m_pid = ::fork();
    if (m_pid == 0) {
      if (settle()) {
        if (inOwnMountNamespace) {
          ::execlp("unshare", "unshare", "-m", "sleep", "60", nullptr);
        } else {
          ::execlp("sleep", "sleep", "60", nullptr);
        }
      }
      ::_exit(127);
    }
    // It holds what it should once it is `sleep`: the settling and the unshare come before.
    // Polled rather than guessed, since a loaded machine can take its time with fork and exec.
    for (int i = 0; i < 1000 && m_pid > 0 && !IsSleeping(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~Sleeper() { Stop(); }
  Sleeper(const Sleeper&) = delete;
  Sleeper& operator=(const Sleeper&) = delete;

  pid_t Pid() const { return m_pid; }
  bool Ok() const { return m_pid > 0 && IsSleeping(); }

  // Lets go of what it held; Pid() stays as it was, for the messages that name it.
  void Stop() {
    if (m_pid <= 0 || m_stopped) return;
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
    m_stopped = true;
  }

 private:
  bool IsSleeping() const {
    std::string command;
    std::getline(std::ifstream("/proc/" + std::to_string(m_pid) + "/comm"), command);
    return command == "sleep";
  }

  pid_t m_pid = -1;
  bool m_stopped = false;
};

}  // namespace fw::test
