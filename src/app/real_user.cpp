#include "app/real_user.hpp"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace fw {

namespace {

// Where the user's own programs are looked for: root's PATH is not the user's.
constexpr const char* kUserPath = "/usr/local/bin:/usr/bin:/bin";

// What a desktop program needs to reach the user's session; the rest of root's environment
// stays behind.
constexpr std::array kSessionVariables{
    "DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY", "XDG_CURRENT_DESKTOP", "XDG_SESSION_TYPE",
    "LANG",    "LANGUAGE",        "LC_ALL",     "LC_MESSAGES",
};

std::optional<uid_t> ParseUid(std::string_view text) {
  uid_t uid = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), uid);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return {};
  if (uid == static_cast<uid_t>(-1)) return {};
  return uid;
}

// The program, its arguments, its environment and the identity it takes: everything the child
// needs is made before fork, so that the child runs only async-signal-safe calls.
struct Launch {
  std::string path;
  std::vector<std::string> arguments;
  std::vector<std::string> environment;
  std::optional<UserAccount> account;  // none: the child keeps the process's identity
  std::vector<gid_t> groups;
};

std::string FindProgram(const std::string& program, std::string_view searchPath) {
  if (program.find('/') != std::string::npos) return program;
  while (!searchPath.empty()) {
    const size_t colon = searchPath.find(':');
    const std::string folder(searchPath.substr(0, colon));
    searchPath.remove_prefix(colon == std::string_view::npos ? searchPath.size() : colon + 1);
    const std::string candidate = folder + "/" + program;
    if (!folder.empty() && access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

std::vector<gid_t> GroupsOf(const UserAccount& account) {
  int count = 16;
  std::vector<gid_t> groups;
  do {
    groups.resize(static_cast<size_t>(count));
  } while (getgrouplist(account.name.c_str(), account.gid, groups.data(), &count) < 0 &&
           static_cast<size_t>(count) > groups.size());
  groups.resize(static_cast<size_t>(std::max(count, 0)));
  return groups;
}

std::vector<std::string> SessionEnvironment(const UserAccount& account) {
  std::vector<std::string> environment{"HOME=" + account.home, "USER=" + account.name,
                                       "LOGNAME=" + account.name,
                                       std::string("PATH=") + kUserPath};
  for (const char* name : kSessionVariables) {
    const char* value = std::getenv(name);
    if (value != nullptr) environment.push_back(std::string(name) + "=" + value);
  }
  // The user's runtime folder holds the Wayland socket and the session bus that xdg-open and the
  // browser talk to.
  const std::string runtime = "/run/user/" + std::to_string(account.uid);
  if (access(runtime.c_str(), F_OK) == 0) {
    environment.push_back("XDG_RUNTIME_DIR=" + runtime);
    if (access((runtime + "/bus").c_str(), F_OK) == 0) {
      environment.push_back("DBUS_SESSION_BUS_ADDRESS=unix:path=" + runtime + "/bus");
    }
  }
  return environment;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

[[noreturn]] void FailChild(int report, int error) {
  [[maybe_unused]] const ssize_t written = write(report, &error, sizeof error);
  _exit(127);
}

// Only the standard three and the report pipe stay open: an open disk handle must never reach a
// browser.
void CloseInheritedFiles(int report, int openMax) {
  const auto last = static_cast<unsigned>(INT_MAX);
  const bool closed = (report <= 3 || close_range(3, static_cast<unsigned>(report) - 1, 0) == 0) &&
                      close_range(static_cast<unsigned>(std::max(report + 1, 3)), last, 0) == 0;
  if (closed) return;
  for (int fd = 3; fd < openMax; ++fd) {
    if (fd != report) close(fd);
  }
}

[[noreturn]] void RunChild(const Launch& launch, char* const* argv, char* const* envp, int report,
                           int openMax) {
  // The middle child leaves at once: the program becomes init's child, nobody's zombie. _Fork
  // runs no fork handlers, which a child of a threaded process must not.
  const pid_t grandchild = _Fork();
  if (grandchild < 0) FailChild(report, errno);
  if (grandchild > 0) _exit(0);
  setsid();
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  if (launch.account) {
    const UserAccount& user = *launch.account;
    if (setgroups(launch.groups.size(), launch.groups.data()) != 0 || setgid(user.gid) != 0 ||
        setuid(user.uid) != 0) {
      FailChild(report, errno);
    }
    // Every uid is the user's now; root must be out of reach for good.
    if (user.uid != 0 && setuid(0) == 0) FailChild(report, EPERM);
    if (chdir(user.home.c_str()) != 0 && chdir("/") != 0) FailChild(report, errno);
  }
  CloseInheritedFiles(report, openMax);
  execve(launch.path.c_str(), argv, envp);
  FailChild(report, errno);
}

bool StartDetached(Launch launch) {
  std::vector<char*> argv = Pointers(launch.arguments);
  std::vector<char*> envp = Pointers(launch.environment);
  const int openMax = static_cast<int>(std::clamp(sysconf(_SC_OPEN_MAX), 256L, 65536L));
  std::array<int, 2> report{};
  if (pipe2(report.data(), O_CLOEXEC) != 0) return false;
  const pid_t child = fork();
  if (child == 0) RunChild(launch, argv.data(), envp.data(), report[1], openMax);
  close(report[1]);
  if (child > 0) {
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  // The pipe closes on exec: no bytes means the program runs; otherwise they are the errno.
  int error = 0;
  ssize_t n = 0;
  while (child > 0 && (n = read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
  }
  close(report[0]);
  return child > 0 && n == 0;
}

}  // namespace

std::optional<uid_t> RealUserId() {
  if (getuid() != 0) return getuid();
  for (const char* name : {"PKEXEC_UID", "SUDO_UID"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && value[0] != '\0') return ParseUid(value);
  }
  return uid_t{0};
}

std::optional<UserAccount> RealUserAccount() {
  const std::optional<uid_t> uid = RealUserId();
  if (!uid) return {};
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  while (getpwuid_r(*uid, &entry, buffer.data(), buffer.size(), &found) == ERANGE) {
    buffer.resize(buffer.size() * 2);
  }
  if (found == nullptr) return {};
  return UserAccount{found->pw_uid, found->pw_gid, found->pw_name, found->pw_dir};
}

bool RunsForAnotherUser() {
  const std::optional<uid_t> real = RealUserId();
  return !real || *real != geteuid();
}

std::optional<FileOwner> RealUserFileOwner() {
  if (!RunsForAnotherUser()) return {};
  const std::optional<UserAccount> account = RealUserAccount();
  if (!account) return {};
  return FileOwner{account->uid, account->gid};
}

bool StartAsRealUser(const std::string& program, const std::vector<std::string>& arguments) {
  Launch launch;
  if (RunsForAnotherUser()) {
    launch.account = RealUserAccount();
    if (!launch.account) return false;
    launch.groups = GroupsOf(*launch.account);
    launch.environment = SessionEnvironment(*launch.account);
    launch.path = FindProgram(program, kUserPath);
  } else {
    for (char** variable = environ; *variable != nullptr; ++variable) {
      launch.environment.emplace_back(*variable);
    }
    const char* path = std::getenv("PATH");
    launch.path = FindProgram(program, path != nullptr ? path : kUserPath);
  }
  if (launch.path.empty()) return false;
  launch.arguments.push_back(program);
  launch.arguments.insert(launch.arguments.end(), arguments.begin(), arguments.end());
  return StartDetached(std::move(launch));
}

}  // namespace fw
