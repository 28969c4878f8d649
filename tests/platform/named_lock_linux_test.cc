#include "platform/named_lock.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/event.h"
#include "platform/module_path.h"
#include "platform/thread.h"
#include "support/temp_dir.h"

namespace quillaro {
namespace {

// A name of its own, so that a service on this machine does not meet it here.
const std::u16string kName = u"Global\\QuillaroPlatformTestLock";
constexpr NamedLock::Result kAcquired = NamedLock::Result::kAcquired;

// The interpreter lock serialises the worker threads of one service and any
// other process on the machine; a holder that dies must not block the rest.
TEST(NamedLockTest, ExcludesThreadsAndProcessesAndIsFreedWhenItsHolderDies) {
  int ready[2];  // the other process says when it holds the lock
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t holder = ::fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    NamedLock lock(kName);
    if (lock.Acquire(nullptr) == kAcquired && ::write(ready[1], "H", 1) == 1) {
      for (;;) ::pause();  // killed while holding the lock
    }
    ::_exit(1);
  }
  ::close(ready[1]);
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  ::close(ready[0]);
  // Behind another process, a waiter can give up; the next gets the lock as
  // soon as the holder dies.
  const ManualResetEvent at_once(true);
  EXPECT_EQ(NamedLock(kName).Acquire(&at_once), NamedLock::Result::kCancelled);
  bool acquired = false;
  Thread waiter;
  ASSERT_TRUE(waiter.Start([&] { acquired = NamedLock(kName).Acquire(nullptr) == kAcquired; }));
  EXPECT_FALSE(waiter.finished().Wait(300));
  ::kill(holder, SIGKILL);
  ::waitpid(holder, nullptr, 0);
  EXPECT_TRUE(waiter.finished().Wait(5000));
  waiter.Join();
  EXPECT_TRUE(acquired);
  EXPECT_EQ(NamedLock(kName).Acquire(&at_once), kAcquired);  // a free lock comes first

  // Threads of this process exclude each other too.
  NamedLock mine(kName);
  ASSERT_EQ(mine.Acquire(nullptr), kAcquired);
  EXPECT_EQ(NamedLock(kName).Acquire(&at_once), NamedLock::Result::kCancelled);
}

// Sets an environment variable (or removes it, for nullopt) for the life of the object.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      ::setenv(name, value->c_str(), 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedVariable() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

struct stat StatOf(const std::string& path) {
  struct stat status = {};
  EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
  return status;
}

// No shared folder such as /run/lock, where another user could plant a file or a link, or hold
// the lock: the folder the operator names, else systemd's runtime folder of the unit, else the
// service's own.
TEST(NamedLockTest, TheLockFolderIsTheOperatorsElseSystemdsElseTheServicesOwn) {
  ScopedVariable runtime("RUNTIME_DIRECTORY", std::nullopt);
  ScopedVariable folder("QUILLARO_LOCK_FOLDER", std::nullopt);
  EXPECT_EQ(NamedLock::LockFilePath(kName), ModuleFolder() + "/QuillaroPlatformTestLock");
  {
    ScopedVariable systemd("RUNTIME_DIRECTORY", "/run/quillaro:/run/other");
    EXPECT_EQ(NamedLock::LockFilePath(kName), "/run/quillaro/QuillaroPlatformTestLock");
    ScopedVariable chosen("QUILLARO_LOCK_FOLDER", "/srv/fleet-lock");
    EXPECT_EQ(NamedLock::LockFilePath(kName), "/srv/fleet-lock/QuillaroPlatformTestLock");
  }
}

// A link planted at the lock path, to a file of someone else's or to one not yet made, is not
// followed: the lock is unavailable (the service goes on and says why) and nothing changes.
TEST(NamedLockTest, ALinkPlantedAtTheLockPathIsNotFollowed) {
  const testing::TempDir dir;
  ScopedVariable folder("QUILLARO_LOCK_FOLDER", dir.path().string());
  const std::string path = NamedLock::LockFilePath(kName);
  const std::string target = dir.File("shadow");
  testing::WriteFileBytes(target, "secret");
  ASSERT_EQ(::chmod(target.c_str(), 0644), 0);
  const ManualResetEvent at_once(true);
  for (const std::string& planted : {target, dir.File("made")}) {
    SCOPED_TRACE(planted);
    std::filesystem::remove(path);
    std::filesystem::create_symlink(planted, path);
    OsError error;
    EXPECT_EQ(NamedLock(kName).Acquire(&at_once, &error), NamedLock::Result::kUnavailable);
    EXPECT_EQ(error.call, "open");
    EXPECT_EQ(error.code, ELOOP);
    EXPECT_EQ(error.path, path);
  }
  EXPECT_EQ(StatOf(target).st_mode & 07777, 0644u);
  EXPECT_EQ(testing::ReadFileBytes(target), "secret");
  EXPECT_FALSE(std::filesystem::exists(dir.File("made")));
}

// A lock file another user made could be held by them for ever: refused, and left as it was. So
// is a second name for a file (a hard link), which is no lock file of ours.
TEST(NamedLockTest, ALockFileOfAnotherUserOrWithASecondNameIsRefused) {
  const testing::TempDir dir;
  ScopedVariable folder("QUILLARO_LOCK_FOLDER", dir.path().string());
  const std::string path = NamedLock::LockFilePath(kName);
  const ManualResetEvent at_once(true);
  OsError error;

  testing::WriteFileBytes(dir.File("ours"), "");
  ASSERT_EQ(::link(dir.File("ours").c_str(), path.c_str()), 0);
  EXPECT_EQ(NamedLock(kName).Acquire(&at_once, &error), NamedLock::Result::kUnavailable);
  EXPECT_EQ(error.code, EPERM);
  EXPECT_EQ(error.path, path);
  std::filesystem::remove(path);

  if (::geteuid() != 0) GTEST_SKIP() << "giving a file to another user needs root";
  testing::WriteFileBytes(path, "");
  ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);  // nobody
  ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
  error = OsError();
  EXPECT_EQ(NamedLock(kName).Acquire(&at_once, &error), NamedLock::Result::kUnavailable);
  EXPECT_EQ(error.call, "open");
  EXPECT_EQ(error.code, EPERM);
  const struct stat status = StatOf(path);
  EXPECT_EQ(status.st_uid, 65534u);
  EXPECT_EQ(status.st_mode & 07777, 0666u);
}

// The lock file is made for the service's user alone, whatever the umask, and the mode of one that
// exists is never changed.
TEST(NamedLockTest, TheLockFileIsTheServiceUsersAloneAndItsModeIsNeverWidened) {
  const testing::TempDir dir;
  ScopedVariable folder("QUILLARO_LOCK_FOLDER", dir.path().string());
  const std::string path = NamedLock::LockFilePath(kName);
  const mode_t umask = ::umask(0);
  {
    NamedLock lock(kName);
    EXPECT_EQ(lock.Acquire(nullptr), kAcquired);
  }
  ::umask(umask);
  struct stat status = StatOf(path);
  EXPECT_EQ(status.st_mode & 07777, 0600u);
  EXPECT_EQ(status.st_uid, ::geteuid());

  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  {
    NamedLock lock(kName);
    EXPECT_EQ(lock.Acquire(nullptr), kAcquired);
  }
  EXPECT_EQ(StatOf(path).st_mode & 07777, 0640u);
}

}  // namespace
}  // namespace quillaro
