#include "job_engine/job_definition.h"

Job_Definition::Job_Definition() = default;

Job_Definition::~Job_Definition() = default;
