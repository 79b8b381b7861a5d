#include "support/temp_home.h"

#include <ace/Thread_Manager.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

namespace test {

Scoped_Env::Scoped_Env(const char* name, const char* value) : name_(name) {
  const char* const old = std::getenv(name);
  had_old_ = old != nullptr;
  if (had_old_) old_ = old;
  if (value != nullptr)
    ::setenv(name, value, 1);
  else
    ::unsetenv(name);
}

void Scoped_Env::restore() {
  if (restored_) return;
  restored_ = true;
  if (had_old_)
    ::setenv(name_.c_str(), old_.c_str(), 1);
  else
    ::unsetenv(name_.c_str());
}

Temp_Dir::Temp_Dir(const std::string& prefix) {
  const std::string pattern = "/tmp/" + prefix + "XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (::mkdtemp(buffer.data()) != nullptr) path_ = buffer.data();
}

Temp_Dir::~Temp_Dir() {
  if (path_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

Temp_Home::Temp_Home(const std::string& prefix) : dir_(prefix) {
  if (dir_.made()) root_ = std::make_unique<Scoped_Env>("QUILLON3_ROOT", dir_.path().c_str());
}

void Temp_Home::restore_root() {
  if (root_) root_->restore();
}

void Temp_Home_Environment::SetUp() {
  home_ = std::make_unique<Temp_Home>("quillon3-job-test-");
  ASSERT_TRUE(home_->made()) << "no temporary host home";
  dir_ = home_->dir();
}

void Temp_Home_Environment::TearDown() {
  ACE_Thread_Manager::instance()->wait();
  home_.reset();
}

}  // namespace test
