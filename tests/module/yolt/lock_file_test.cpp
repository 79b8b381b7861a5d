#include "yolt/lock_file.h"

#include "support/log_capture.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

// Ids come from definition files and the cloud: each gets a name of its own that stays
// inside the lock folder.
TEST(Lock_File, FileNamesAreOnePlainNamePerId) {
  const struct { std::string id, name; } cases[] = {
      {"i-4F4A3732", "i-4F4A3732"},    {"def_1", "def_1"},
      {"../../etc/x", "%2E%2E%2F%2E%2E%2Fetc%2Fx"},
      {".", "%2E"},                    {"a/b", "a%2Fb"},
      {"a%2Fb", "a%252Fb"},            {std::string("n\0l", 3), "n%00l"},
      {"v\xc3\xa9", "v%C3%A9"},        {"", ""},
      {std::string(yolt::LOCK_FILE_NAME_MAX, 'x'), std::string(yolt::LOCK_FILE_NAME_MAX, 'x')},
      {std::string(yolt::LOCK_FILE_NAME_MAX + 1, 'x'), ""},
      {std::string(yolt::LOCK_FILE_NAME_MAX / 3 + 1, '.'), ""},
  };
  for (const auto& c : cases) EXPECT_EQ(yolt::lock_file_name(c.id), c.name) << c.id;
}

// What a process that is not this one finds: the outcome of its try_lock.
int outcome_in_child(const char* kind, const std::string& id) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    yolt::Lock_File lock(kind);
    ::_exit(lock.try_lock(id));
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
    yolt::Lock_File lock("instance");
    const char taken = lock.try_lock(id) == yolt::Lock_File::TAKEN ? 'y' : 'n';
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
TEST(Lock_File, OneHolderAtATimeAcrossObjectsAndProcesses) {
  using L = yolt::Lock_File;
  test::Temp_Home home("lock-file-");
  ASSERT_TRUE(home.made());
  L first("job");
  ASSERT_EQ(first.try_lock("b1"), L::TAKEN);
  EXPECT_TRUE(first.held());
  {
    L second("job");
    EXPECT_EQ(second.try_lock("b1"), L::BUSY);
    EXPECT_FALSE(second.held());
    EXPECT_EQ(outcome_in_child("job", "b1"), L::BUSY);
    // Another id, or the same id of another kind, is another lock.
    EXPECT_EQ(second.try_lock("b2"), L::TAKEN);
    EXPECT_EQ(outcome_in_child("instance", "b1"), L::TAKEN);
  }
  EXPECT_EQ(outcome_in_child("job", "b2"), L::TAKEN);  // went with `second`
  first.release();
  EXPECT_FALSE(first.held());
  EXPECT_EQ(outcome_in_child("job", "b1"), L::TAKEN);

  const pid_t holder = holder_child("i-a");
  ASSERT_GT(holder, 0);
  L mine("instance");
  EXPECT_EQ(mine.try_lock("i-a"), L::BUSY);
  ::kill(holder, SIGKILL);
  ::waitpid(holder, nullptr, 0);
  EXPECT_EQ(mine.try_lock("i-a"), L::TAKEN);
}

// The files are the owner's alone, inside the home's lock folder; a link or a file
// planted on the way (another user's, an operator's mistake), or a FIFO in the lock
// file's place, is never followed or used: the lock fails, says so, and nothing is made
// where the link points.
TEST(Lock_File, FilesStayInTheOwnersLockFolder) {
  namespace fs = std::filesystem;
  using L = yolt::Lock_File;
  {
    test::Temp_Home home("lock-file-");
    ASSERT_TRUE(home.made());
    L lock("instance");
    ASSERT_EQ(lock.try_lock("../../escape"), L::TAKEN);
    const std::string dir = home.dir() + "/lock/instance";
    EXPECT_EQ(fs::status(home.dir() + "/lock").permissions(), fs::perms::owner_all);
    EXPECT_EQ(fs::status(dir).permissions(), fs::perms::owner_all);
    EXPECT_EQ(fs::status(dir + "/%2E%2E%2F%2E%2E%2Fescape").permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_FALSE(fs::exists(home.dir() + "/escape"));
    EXPECT_EQ(lock.try_lock(""), L::FAILED);
    EXPECT_FALSE(lock.held());  // the earlier lock went with the new attempt
  }
  enum Planted { LINK, EMPTY_FILE, FIFO };  // a link to the folder "elsewhere"
  const struct {
    std::string planted;  // below the home
    Planted what;
    const char* kind;
  } cases[] = {
      {"lock", LINK, "job"},
      {"lock/job", LINK, "job"},
      {"lock/instance", LINK, "instance"},
      {"lock/instance/i-x", LINK, "instance"},
      {"lock", EMPTY_FILE, "instance"},
      {"lock/instance", EMPTY_FILE, "instance"},
      {"lock/instance/i-x", FIFO, "instance"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.planted + (c.what == LINK ? " a link" : c.what == FIFO ? " a FIFO" : " a file"));
    test::Temp_Home home("lock-file-");
    ASSERT_TRUE(home.made());
    const std::string elsewhere = home.dir() + "/elsewhere", planted = home.dir() + "/" + c.planted;
    fs::create_directories(elsewhere);
    fs::create_directories(fs::path(planted).parent_path());
    if (c.what == LINK) fs::create_directory_symlink(elsewhere, planted);
    if (c.what == EMPTY_FILE) std::ofstream{planted};
    ASSERT_TRUE(c.what != FIFO || ::mkfifo(planted.c_str(), 0600) == 0);
    test::Log_Capture log;
    L lock(c.kind);
    EXPECT_EQ(lock.try_lock("i-x"), L::FAILED);
    EXPECT_FALSE(lock.held());
    EXPECT_TRUE(fs::is_empty(elsewhere));
    EXPECT_TRUE(log.contains("Failed to open the lock file " + home.dir() + "/lock/" + c.kind +
                                 "/i-x, ",
                             LM_ERROR))
        << log.text();
  }
}

}  // namespace
