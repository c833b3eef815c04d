// The busy check that unmounts nothing, and the search for the process that holds a volume,
// on loop devices the tests make themselves. Needs root and loop devices; skips visibly
// otherwise.
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "device/linux/sys_tree.hpp"
#include "device/linux/volume_plan.hpp"
#include "loop_device.hpp"
#include "sleeper.hpp"

namespace fw::linuxio {
namespace {

using test::LoopDevice;

Devno DevOf(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return Devno{major(st.st_dev), minor(st.st_dev)};
}

TEST(MountProbe, AnswersIdleOrBusyAndNeverUnmounts) {
  if (const std::string reason = LoopDevice::SkipReason(); !reason.empty()) GTEST_SKIP() << reason;
  LoopDevice loop;
  ASSERT_TRUE(loop.Ok()) << loop.Error();
  const std::string folder = loop.MountExt4(loop.Path());
  ASSERT_FALSE(folder.empty()) << loop.Error();
  const Devno dev = DevOf(folder);

  // Probes in a row: two bare MNT_EXPIRE calls would unmount it; these never do.
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(ProbeMount(folder), MountUse::Idle);
    EXPECT_TRUE(test::IsMounted(folder));
  }
  EXPECT_FALSE(FindProcessUsing({dev}, {}).has_value());

  test::Sleeper child([&] { return ::chdir(folder.c_str()) == 0; });
  ASSERT_TRUE(child.Ok());
  EXPECT_EQ(ProbeMount(folder), MountUse::Busy);
  const std::optional<ProcessUse> user = FindProcessUsing({dev}, {});
  child.Stop();
  ASSERT_TRUE(user.has_value());
  EXPECT_EQ(user->pid, child.Pid());
  EXPECT_EQ(user->command, "sleep");
  EXPECT_TRUE(test::IsMounted(folder));

  // A mount inside makes its parent busy as well; the inner one alone is idle.
  const std::string inner = folder + "/inner";
  ASSERT_EQ(::mkdir(inner.c_str(), 0700), 0);
  ASSERT_TRUE(loop.MountOn("-t tmpfs inner", inner)) << loop.Error();
  EXPECT_EQ(ProbeMount(folder), MountUse::Busy);
  EXPECT_EQ(ProbeMount(inner), MountUse::Idle);
  EXPECT_TRUE(test::IsMounted(folder));
  EXPECT_TRUE(test::IsMounted(inner));
  EXPECT_EQ(ProbeMount(folder + "/not-a-mount"), MountUse::Unknown);
}

// Another program looking at the mount point all the time (here: stat in a loop, as file
// managers and disk monitors do now and then) holds the mount for moments that umount2 sees as
// busy: the idle volume is still found idle and still comes off.
TEST(MountProbe, AMountOthersKeepLookingAtIsIdleAndComesOff) {
  if (const std::string reason = LoopDevice::SkipReason(); !reason.empty()) GTEST_SKIP() << reason;
  LoopDevice loop;
  ASSERT_TRUE(loop.Ok()) << loop.Error();
  const std::string folder = loop.MountExt4(loop.Path());
  ASSERT_FALSE(folder.empty()) << loop.Error();
  int started[2];
  ASSERT_EQ(::pipe(started), 0);
  const pid_t watcher = ::fork();
  ASSERT_GE(watcher, 0);
  if (watcher == 0) {
    struct stat st {};
    ::stat(folder.c_str(), &st);
    if (::write(started[1], "1", 1) != 1) ::_exit(1);
    for (;;) ::stat(folder.c_str(), &st);
  }
  char byte = 0;
  ASSERT_EQ(::read(started[0], &byte, 1), 1);
  ::close(started[0]);
  ::close(started[1]);
  int busy = 0;
  for (int i = 0; i < 50; ++i) busy += ProbeMount(folder) == MountUse::Idle ? 0 : 1;
  DiskPlan plan;
  const RefusalCause planned = PlanDisk(SysTree(), loop.Path().substr(5), plan);
  RefusalCause cause;
  const bool executed = planned.kind == RefusalKind::None && ExecutePlan(plan, cause);
  ::kill(watcher, SIGKILL);
  ::waitpid(watcher, nullptr, 0);
  EXPECT_EQ(busy, 0) << "of 50 probes";
  EXPECT_EQ(planned.kind, RefusalKind::None) << planned.subject;
  EXPECT_TRUE(executed) << cause.subject;
  EXPECT_FALSE(test::IsMounted(folder));
}

}  // namespace
}  // namespace fw::linuxio
