#include "job_engine/run_lock.h"

#include "support/log_capture.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace {

// Ids come from definition files and the cloud: each gets a name of its own that stays
// inside the lock folder.
TEST(Run_Lock, FileNamesAreOnePlainNamePerId) {
  const struct { std::string id, name; } cases[] = {
      {"i-4F4A3732", "i-4F4A3732"},    {"def_1", "def_1"},
      {"../../etc/x", "%2E%2E%2F%2E%2E%2Fetc%2Fx"},
      {".", "%2E"},                    {"a/b", "a%2Fb"},
      {"a%2Fb", "a%252Fb"},            {std::string("n\0l", 3), "n%00l"},
      {"v\xc3\xa9", "v%C3%A9"},        {"", ""},
      {std::string(RUN_LOCK_NAME_MAX, 'x'), std::string(RUN_LOCK_NAME_MAX, 'x')},
      {std::string(RUN_LOCK_NAME_MAX + 1, 'x'), ""},
      {std::string(RUN_LOCK_NAME_MAX / 3 + 1, '.'), ""},
  };
  for (const auto& c : cases) EXPECT_EQ(run_lock_file_name(c.id), c.name) << c.id;
}

// What a process that is not this one finds: the outcome of its try_lock.
int outcome_in_child(Run_Lock::Kind kind, const std::string& id) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    Run_Lock lock;
    ::_exit(lock.try_lock(kind, id));
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A child that takes the lock, says so on a pipe and waits to be killed.
pid_t holder_child(const std::string& id) {
  int ready[2];
  if (::pipe(ready) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    Run_Lock lock;
    const char taken = lock.try_lock(Run_Lock::INSTANCE, id) == Run_Lock::TAKEN ? 'y' : 'n';
    (void)!::write(ready[1], &taken, 1);
    for (;;) ::pause();
  }
  char taken = 'n';
  (void)!::read(ready[0], &taken, 1);
  ::close(ready[0]);
  ::close(ready[1]);
  return taken == 'y' ? pid : -1;
}

// One holder at a time, whoever asks; a lock goes with its holder's release, end or death.
TEST(Run_Lock, OneHolderAtATimeAcrossObjectsAndProcesses) {
  test::Temp_Home home("run-lock-");
  ASSERT_TRUE(home.made());
  Run_Lock first;
  ASSERT_EQ(first.try_lock(Run_Lock::JOB, "b1"), Run_Lock::TAKEN);
  EXPECT_TRUE(first.held());
  {
    Run_Lock second;
    EXPECT_EQ(second.try_lock(Run_Lock::JOB, "b1"), Run_Lock::BUSY);
    EXPECT_FALSE(second.held());
    EXPECT_EQ(outcome_in_child(Run_Lock::JOB, "b1"), Run_Lock::BUSY);
    // Another id, or the same id of the other kind, is another lock.
    EXPECT_EQ(second.try_lock(Run_Lock::JOB, "b2"), Run_Lock::TAKEN);
    EXPECT_EQ(outcome_in_child(Run_Lock::INSTANCE, "b1"), Run_Lock::TAKEN);
  }
  EXPECT_EQ(outcome_in_child(Run_Lock::JOB, "b2"), Run_Lock::TAKEN);  // went with `second`
  first.release();
  EXPECT_FALSE(first.held());
  EXPECT_EQ(outcome_in_child(Run_Lock::JOB, "b1"), Run_Lock::TAKEN);

  const pid_t holder = holder_child("i-a");
  ASSERT_GT(holder, 0);
  Run_Lock mine;
  EXPECT_EQ(mine.try_lock(Run_Lock::INSTANCE, "i-a"), Run_Lock::BUSY);
  ::kill(holder, SIGKILL);
  ::waitpid(holder, nullptr, 0);
  EXPECT_EQ(mine.try_lock(Run_Lock::INSTANCE, "i-a"), Run_Lock::TAKEN);
}

// The files are the owner's alone, inside the home's lock folder, and a planted link is
// never followed.
TEST(Run_Lock, FilesStayInTheOwnersLockFolder) {
  namespace fs = std::filesystem;
  test::Temp_Home home("run-lock-");
  ASSERT_TRUE(home.made());
  Run_Lock lock;
  ASSERT_EQ(lock.try_lock(Run_Lock::INSTANCE, "../../escape"), Run_Lock::TAKEN);
  const std::string dir = home.dir() + "/lock/instance";
  EXPECT_EQ(fs::status(home.dir() + "/lock").permissions(), fs::perms::owner_all);
  EXPECT_EQ(fs::status(dir).permissions(), fs::perms::owner_all);
  EXPECT_EQ(fs::status(dir + "/%2E%2E%2F%2E%2E%2Fescape").permissions(),
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_FALSE(fs::exists(home.dir() + "/escape"));

  fs::create_symlink(home.dir() + "/target", dir + "/i-linked");
  test::Log_Capture log;
  EXPECT_EQ(lock.try_lock(Run_Lock::INSTANCE, "i-linked"), Run_Lock::FAILED);
  EXPECT_FALSE(lock.held());  // the earlier lock went with the new attempt
  EXPECT_FALSE(fs::exists(home.dir() + "/target"));
  EXPECT_TRUE(log.contains("Failed to open the run lock", LM_ERROR));
  EXPECT_EQ(lock.try_lock(Run_Lock::JOB, ""), Run_Lock::FAILED);
}

}  // namespace
