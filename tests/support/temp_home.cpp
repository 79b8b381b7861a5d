#include "support/temp_home.h"

#include <ace/Thread_Manager.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

namespace test {

Scoped_Env::Scoped_Env(const char* name, const char* value) : name_(name) {
  if (const char* const old = std::getenv(name)) old_ = std::make_unique<std::string>(old);
  if (value != nullptr)
    ::setenv(name, value, 1);
  else
    ::unsetenv(name);
}

Scoped_Env::~Scoped_Env() {
  if (old_)
    ::setenv(name_.c_str(), old_->c_str(), 1);
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
