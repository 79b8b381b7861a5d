#include "job_engine/job_event_handler.h"

#include <ace/OS_NS_time.h>

#include <cstdarg>
#include <cstdio>
#include <utility>

namespace {

// States a command sets while a run goes on; the start event must not undo them.
bool is_command_request(Job_State s) {
  return s == JOB_STATE_PAUSING || s == JOB_STATE_CANCELING || s == JOB_STATE_ABORTING ||
         s == JOB_STATE_SWITCHING;
}

std::string format_text(const char* format, va_list args) {
  if (format == nullptr) return std::string();
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (n <= 0) return std::string();
  std::string text(static_cast<size_t>(n) + 1, '\0');
  std::vsnprintf(&text[0], text.size(), format, args);
  text.resize(static_cast<size_t>(n));
  return text;
}

}  // namespace

Job_Event_Handler::Job_Event_Handler(Job& job) : job_(job) {}

Job_Event_Handler::~Job_Event_Handler() = default;

int Job_Event_Handler::handle_start_job() {
  Job_Activity& act = job_.activity();
  const time_t now = ACE_OS::time();
  act.start_time = now;
  Job_State current = act.state.load();
  while (!is_command_request(current) &&
         !act.state.compare_exchange_weak(current, JOB_STATE_RUNNING)) {
  }
  job_.record_event({Job_Event_Record::START, 0, std::string(), now});
  return 0;
}

int Job_Event_Handler::handle_success() {
  return finish(Job_Event_Record::SUCCESS, JOB_STATE_COMPLETED, 0, std::string());
}

int Job_Event_Handler::handle_paused() {
  return finish(Job_Event_Record::PAUSED, JOB_STATE_PAUSED, 0, std::string());
}

int Job_Event_Handler::handle_canceled() {
  return finish(Job_Event_Record::CANCELED, JOB_STATE_CANCELED, 0, std::string());
}

int Job_Event_Handler::handle_failure(int code, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string message = format_text(format, args);
  va_end(args);
  return finish(Job_Event_Record::FAILURE, JOB_STATE_ERROR, code, std::move(message));
}

int Job_Event_Handler::handle_vm_progress(const std::vector<VM_Job_Progress>& progresses,
                                          Job_State state, bool final) {
  job_.record_progress({progresses, state, final});
  return 0;
}

int Job_Event_Handler::finish(Job_Event_Record::Kind kind, Job_State state, int code,
                              std::string message) {
  Job_Activity& act = job_.activity();
  const time_t now = ACE_OS::time();
  act.last_run_time = now;
  act.state = state;
  job_.record_event({kind, code, std::move(message), now});
  return 0;
}
