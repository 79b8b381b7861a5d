#include "job_engine/job_activity.h"

const char* const Job_Activity_Path_Conf::prefix = "/var/opt/telquin/quillon3/$COMPONENT/act/job";
