// One schedule of a job definition. The job engine starts scheduled runs itself; the
// module only looks for on-demand schedules, whose set-up it must undo on removal.
#ifndef HOST_JOB_ENGINE_JOB_SCHEDULE_H
#define HOST_JOB_ENGINE_JOB_SCHEDULE_H

#include <memory>
#include <vector>

class Job_Schedule {
 public:
  enum Type {
    TYPE_NONE = 0,
    TYPE_ONCE = 1,
    TYPE_MINUTELY = 2,
    TYPE_HOURLY = 3,
    TYPE_DAILY = 4,
    TYPE_WEEKLY = 5,
    TYPE_MONTHLY = 6,
    TYPE_ONDEMAND = 7
  };

  explicit Job_Schedule(Type type = TYPE_NONE) : type_(type) {}
  virtual ~Job_Schedule() = default;

  Type type() const { return type_; }

 private:
  Type type_;
};

// A definition's schedules; an entry may be empty (a schedule that is not present).
using Job_Schedule_var = std::shared_ptr<const Job_Schedule>;
using Job_Schedule_List = std::vector<Job_Schedule_var>;

#endif  // HOST_JOB_ENGINE_JOB_SCHEDULE_H
