// What a restore job leaves in the job's result for whoever ran it: the module writes it,
// the runner reads it. Header only, so that no symbol passes between the two.
#ifndef TAVROCLOUD_JOB_RESTORE_RESULT_H
#define TAVROCLOUD_JOB_RESTORE_RESULT_H

namespace tavrocloud {

// The job result's key under which a restore stores what its completed instances made:
// an array of the handlers' "restored" objects, each with the source instance as "uuid".
// The runner names them after the job.
inline constexpr char RESTORED_RESULT_KEY[] = "tavrocloud_restored";

}  // namespace tavrocloud

#endif  // TAVROCLOUD_JOB_RESTORE_RESULT_H
