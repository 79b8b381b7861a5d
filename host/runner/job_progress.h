// What `quillon3 backup` and `quillon3 restore` show while their job runs: a bar per
// instance on a terminal, a line per instance every 10 seconds otherwise, nothing when
// quiet. The figures come from the job's progress reports and, between reports, from the
// per-instance progress records the module's handlers keep up to date. Once a write to
// the stream failed (a closed pipe or terminal) the view shows nothing more: progress
// that cannot be shown is dropped, never kept. The job's stop lines are written through
// it; every write holds stderr_mutex().
#ifndef RUNNER_JOB_PROGRESS_H
#define RUNNER_JOB_PROGRESS_H

#include <cstdint>
#include <ctime>
#include <map>
#include <ostream>
#include <string>

#include <unistd.h>

#include "job_engine/job.h"

namespace runner {

class Job_Progress_View {
 public:
  enum class Mode { BARS, LINES, QUIET };

  // `verb` names the work in lines ("backup", "restore"); `def_id` is the job's
  // definition id, under which its progress records are kept. `terminal` is the
  // descriptor `out` writes to: the bars fit the width of its terminal (80 columns when
  // it tells none).
  Job_Progress_View(std::ostream& out, Mode mode, std::string verb, std::string def_id,
                    int terminal = STDERR_FILENO);

  // Called often while the run goes: redraws the bars, or prints the lines when 10
  // seconds have passed since the last ones.
  void update(const Job& job);
  // Called once after the run: the final state of every instance (not when quiet).
  void finish(const Job& job);

  // Writes `lines` (whole lines) whatever the mode, waiting on stderr as long as it
  // takes; the bars on screen give way to them and are drawn again below them at the
  // next update. The stop lines' writer and the job's warnings come through it.
  void say(const std::string& lines);

 private:
  struct Row {
    std::string name;
    int32_t state = 0;  // a VM_Job_Progress::VM_State
    uint64_t total = 0;
    uint64_t processed = 0;
    uint32_t volumes = 0;
    uint32_t processed_volumes = 0;
  };
  typedef std::map<std::string, Row> Rows;  // by the record's file name

  void read_reports(const Job& job, Rows& rows) const;
  void read_records(Rows& rows) const;
  std::string bar_lines(const Rows& rows) const;
  std::string bar_line(const std::string& label, const Row& row, size_t bar_width) const;
  static std::string bar_figures(const Row& row);
  std::string text_line(const std::string& key, const Row& row) const;
  void write_locked(const std::string& text);

  std::ostream& out_;
  const int terminal_;
  const Mode mode_;
  const std::string verb_;
  const std::string def_id_;
  const time_t started_;
  time_t last_lines_;
  size_t drawn_ = 0;  // bar lines on screen; under stderr_mutex()
};

}  // namespace runner

#endif  // RUNNER_JOB_PROGRESS_H
