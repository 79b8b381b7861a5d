#include "tavrocloud/job/job_parameters.h"

#include "json/json_generator.h"

namespace tavrocloud {

Job_Parameters::Job_Parameters() = default;

Job_Parameters::~Job_Parameters() = default;

yajl_gen_status Job_Parameters::generate(yajl_gen gen) const { return yajl_gen_value(gen, src_); }

}  // namespace tavrocloud
