// What a finished job leaves besides its events: restore jobs append one path entry per
// restored piece, naming the pool and backup set it came from.
#ifndef HOST_JOB_ENGINE_JOB_RESULT_H
#define HOST_JOB_ENGINE_JOB_RESULT_H

#include <string>

struct Job_Result {
  struct Restore_Path_Entry {
    std::string pool_uuid;
    std::string pool_name;
    std::string set_uuid;
    std::string set_name;
    std::string subtype;
  };
};

#endif  // HOST_JOB_ENGINE_JOB_RESULT_H
