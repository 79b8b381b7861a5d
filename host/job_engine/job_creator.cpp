#include "job_engine/job_creator.h"

Job_Creator::Job_Creator() = default;

Job_Creator::~Job_Creator() = default;

int Job_Creator::init(int argc, char** argv) {
  argc_ = argc;
  argv_ = argv;
  return 0;
}

int Job_Creator::fini() {
  argc_ = 0;
  argv_ = nullptr;
  return 0;
}
