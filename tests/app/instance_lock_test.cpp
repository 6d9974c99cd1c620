#include "app/instance_lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <memory>

#include "support/temp_dir.h"

extern char** environ;

namespace {

// Holds a number the way another running instance would: an exclusive flock on its file.
class HeldNumber {
 public:
  HeldNumber(const CTempDir& dir, int n) {
    fd = ::open((dir / CInstanceLock::LockFileName(n)).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ok = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  }
  ~HeldNumber() {
    if (fd >= 0) ::close(fd);
  }
  bool ok = false;

 private:
  int fd = -1;
};

TEST(InstanceLock, TwoInstances_GetOneThenTwo) {
  CTempDir dir;
  CInstanceLock first(dir.Path());
  CInstanceLock second(dir.Path());
  EXPECT_EQ(first.Number(), 1);
  EXPECT_EQ(second.Number(), 2);
  EXPECT_TRUE(first.Held());
  EXPECT_TRUE(second.Held());
}

TEST(InstanceLock, OneAndThreeAlive_NextGetsFour) {
  CTempDir dir;
  HeldNumber one(dir, 1);
  HeldNumber three(dir, 3);
  ASSERT_TRUE(one.ok && three.ok);
  // A file left by an instance that ended holds no lock and does not count.
  std::ofstream(dir / CInstanceLock::LockFileName(7)) << "12345\n";
  CInstanceLock next(dir.Path());
  EXPECT_EQ(next.Number(), 4);
}

TEST(InstanceLock, ReleasedNumber_IsReused) {
  CTempDir dir;
  auto first = std::make_unique<CInstanceLock>(dir.Path());
  auto second = std::make_unique<CInstanceLock>(dir.Path());
  ASSERT_EQ(second->Number(), 2);
  second.reset();
  EXPECT_EQ(CInstanceLock(dir.Path()).Number(), 2);
  first.reset();
  EXPECT_EQ(CInstanceLock(dir.Path()).Number(), 1);
}

TEST(InstanceLock, HighestAlive_WinsOverGapsBelow) {
  CTempDir dir;
  auto first = std::make_unique<CInstanceLock>(dir.Path());
  CInstanceLock second(dir.Path());
  first.reset();
  EXPECT_EQ(CInstanceLock(dir.Path()).Number(), 3);
}

TEST(InstanceLock, HighestNumberAlive_TakesLowestFree) {
  CTempDir dir;
  HeldNumber top(dir, CInstanceLock::kMaxInstance);
  HeldNumber one(dir, 1);
  ASSERT_TRUE(top.ok && one.ok);
  CInstanceLock next(dir.Path());
  EXPECT_EQ(next.Number(), 2);
  EXPECT_TRUE(next.Held());
}

TEST(InstanceLock, ChildProgram_DoesNotKeepTheNumber) {
  CTempDir dir;
  auto lock = std::make_unique<CInstanceLock>(dir.Path());
  ASSERT_EQ(lock->Number(), 1);
  pid_t child = 0;
  char sleepName[] = "sleep";
  char seconds[] = "30";
  char* argv[] = {sleepName, seconds, nullptr};
  ASSERT_EQ(::posix_spawnp(&child, "sleep", nullptr, nullptr, argv, environ), 0);
  lock.reset();
  // The kernel resumes the parent of a spawn slightly before it closes the child's close-on-exec
  // descriptors, so allow the child a moment.
  int number = 0;
  for (int tries = 0; tries < 200 && number != 1; ++tries) {
    if (tries > 0) ::usleep(5000);
    number = CInstanceLock(dir.Path()).Number();
  }
  EXPECT_EQ(number, 1);
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
}

TEST(InstanceLock, UnusableFolder_RunsAsOneWithoutLock) {
  CTempDir dir;
  std::ofstream(dir / "file") << "x";
  CInstanceLock lock(dir.Path() / "file");
  EXPECT_EQ(lock.Number(), 1);
  EXPECT_FALSE(lock.Held());
}

}  // namespace
