#include "models/task/task_base.h"

// Out of line so that the type information of every task lives in one object file.
Task_Base::~Task_Base() = default;
