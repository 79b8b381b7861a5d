#include "tavrocloud/job/job_run.h"

#include "job_engine/job_alert.h"
#include "tavrocloud/common/utils.h"

#include <ace/Time_Value.h>

#include <cerrno>

namespace tavrocloud {
namespace {

enum { PROGRESS_INTERVAL_SECONDS = 10 };

// The progress thread is joined at the end of the run.
constexpr long PROGRESS_THREAD_FLAGS = THR_NEW_LWP | THR_JOINABLE | THR_INHERIT_SCHED;
static_assert(PROGRESS_THREAD_FLAGS == 0x410002, "joinable progress thread flags");

}  // namespace

bool log_in(Job& job, const std::string& host_id, Login& login,
            std::unique_ptr<RESTful_Client>& client) {
  if (!get_login_info(host_id, login)) {
    ACE_ERROR((LM_ERROR, "Failed to get tavro login info of %s.\n", host_id.c_str()));
    return false;
  }
  auto made = std::make_unique<RESTful_Client>();
  if (!made->login(login)) {
    write_job_alert(job, Error_ID::LEVEL_ERROR, 1, 0, json_spirit::Value(), 1);
    ACE_ERROR((LM_ERROR, "Failed to login tavrocloud %s.\n", login.host.c_str()));
    return false;
  }
  client = std::move(made);
  return true;
}

bool activate_reporter(Progress_Reporter& reporter, const std::string& def_id) {
  if (reporter.activate(def_id)) return true;
  ACE_ERROR((LM_ERROR, "Failed to activate tavro reporter.\n"));
  return false;
}

Progress_Thread::Progress_Thread(Job& job, Progress_Reporter& reporter, ACE_Event& stop)
    : reporter_(reporter), stop_(stop), thread_(&job, PROGRESS_THREAD_FLAGS, ACE_DEFAULT_THREAD_PRIORITY) {
  thread_.spawn([this] { run(); });
}

Progress_Thread::~Progress_Thread() {
  stop_.signal();
  thread_.join();
  reporter_.report(true);
}

void Progress_Thread::run() {
  while (true) {
    ACE_Time_Value interval(PROGRESS_INTERVAL_SECONDS);
    if (stop_.wait(&interval, 0) == 0) return;
    if (errno != ETIME) {
      ACE_ERROR((LM_ERROR, "Failed to wait for the end of the tavro job run, %m.\n"));
      return;
    }
    reporter_.report(false);
  }
}

}  // namespace tavrocloud
