// A job whose running executor can be steered: stop, pause, resume, switch and the
// argument-less abort only set the job state, which the executor polls.
#ifndef JOB_CONTROLLABLE_JOB_T_H
#define JOB_CONTROLLABLE_JOB_T_H

#include "job/default_job_t.h"

template <typename Executor>
class Controllable_Job_T : public Default_Job_T<Executor> {
 public:
  explicit Controllable_Job_T(Job_Definition_var def) : Default_Job_T<Executor>(def) {}
  ~Controllable_Job_T() override {}

  // Asks the run to abort (state aborting); touches no thread. The state setter's result.
  virtual int abort_i() { return this->state_i(JOB_STATE_ABORTING); }

 protected:
  using Default_Job_T<Executor>::abort_i;

  // Each sets the state the command stands for; the state setter's result.
  int stop_i(const Action_Options*) override { return this->state_i(JOB_STATE_CANCELING); }
  int pause_i(const Action_Options*) override { return this->state_i(JOB_STATE_PAUSING); }
  int resume_i(const Action_Options*) override { return this->state_i(JOB_STATE_RUNNING); }
  int switch_i(const Action_Options*) override { return this->state_i(JOB_STATE_SWITCHING); }
};

#endif  // JOB_CONTROLLABLE_JOB_T_H
