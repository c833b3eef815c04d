#include "device/linux/linux_takeover.hpp"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "device/linux/errno_map.hpp"

namespace fw::linuxio {

LinuxTakeover::~LinuxTakeover() {
  if (m_claim >= 0) ::close(m_claim);
}

RefusalCause LinuxTakeover::Plan() {
  if (m_plan || m_disk.empty()) return m_cause;
  DiskPlan plan;
  m_cause = PlanDisk(m_sys, m_disk, plan);
  m_plan = std::move(plan);
  return m_cause;
}

bool LinuxTakeover::UnmountAll() {
  if (m_ended || m_disk.empty()) return false;
  if (!m_plan) Plan();
  if (m_cause.kind != RefusalKind::None) return false;
  if (m_unmounted) return true;
  if (!ExecutePlan(*m_plan, m_cause)) return false;
  m_unmounted = true;
  return true;
}

int LinuxTakeover::Claim(const std::string& path) {
  if (m_ended || m_claim >= 0 || m_disk.empty()) {
    errno = EBUSY;
    return -1;
  }
  if (!m_plan) Plan();
  // Volumes are taken by their locks; a disk that still has a mount here is not claimed.
  if (m_cause.kind == RefusalKind::None && !m_unmounted && !m_plan->mounts.empty()) {
    m_cause.kind = RefusalKind::Busy;
    m_cause.subject = m_plan->mounts.back().target;
  }
  if (m_cause.kind != RefusalKind::None) {
    errno = EBUSY;
    return -1;
  }
  int fd = -1;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_EXCL | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    const int error = errno;
    m_cause.kind = RefusalKind::ClaimedElsewhere;
    m_cause.subject = path;
    if (const auto user = FindProcessUsing({}, m_plan->devices.devnos)) {
      m_cause.pid = user->pid;
      m_cause.command = user->command;
    }
    errno = error;
    return -1;
  }
  m_claim = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (m_claim < 0) {
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

std::optional<int64_t> LinuxTakeover::ClaimedSize() {
  uint64_t bytes = 0;
  if (m_claim < 0 || ::ioctl(m_claim, BLKGETSIZE64, &bytes) != 0) return std::nullopt;
  return static_cast<int64_t>(bytes);
}

RefusalCause LinuxTakeover::Restore() {
  if (m_ended) return {};
  m_ended = true;
  // The claim goes first: while it is held, nothing of the disk can be mounted.
  if (m_claim >= 0) ::close(m_claim);
  m_claim = -1;
  RefusalCause cause = std::exchange(m_cause, RefusalCause{});
  if (m_plan && !m_plan->unmounted.empty()) {
    for (std::string& point : RestorePlan(*m_plan)) cause.remounted.push_back(std::move(point));
  }
  return cause;
}

RefusalCause LinuxTakeover::Release() {
  if (m_ended) return {};
  m_ended = true;
  RefusalCause cause;
  if (m_claim >= 0) {
    // The partition table may have changed while the disk was claimed, and the re-read only
    // succeeds once no partition is open any more: now, through the claim itself. Refused
    // while something holds a partition, the kernel keeps the old ones: say what. Any other
    // refusal (a loop device without partition scanning answers EINVAL) is said too.
    const int fd = m_claim;
    int error = 0;
    BusyThroughout([fd, &error] {
      error = ::ioctl(fd, BLKRRPART) != 0 ? errno : 0;
      return error == EBUSY;
    });
    if (error == EBUSY) {
      cause = WhatHoldsPartitions(m_sys, m_disk);
    } else if (error != 0) {
      cause.kind = RefusalKind::RereadFailed;
      cause.subject = "/dev/" + m_disk + " (" + ErrnoText(error) + ")";
    }
    ::close(m_claim);
    m_claim = -1;
  }
  m_cause = RefusalCause{};
  return cause;
}

}  // namespace fw::linuxio
