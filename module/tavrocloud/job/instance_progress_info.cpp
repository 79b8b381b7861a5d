#include "tavrocloud/job/instance_progress_info.h"

#include "runtime/filenamify.h"

#include <fcntl.h>

namespace tavrocloud {

const char* const Progress_Info_Path_Conf::prefix =
    "/var/opt/telquin/quillon3/$COMPONENT/act/tavrocloud";

void Instance_Progress_Info::reset() {
  total_size.store(0);
  processed_size.store(0);
  total_volume_num.store(0);
  processed_volume_num.store(0);
}

void Instance_Progress_Info::start(uint64_t bytes, uint32_t volumes) {
  total_size.store(bytes);
  processed_size.store(0);
  total_volume_num.store(volumes);
  processed_volume_num.store(0);
}

void Instance_Progress_Info::sub_processed(uint64_t bytes) {
  uint64_t cur = processed_size.load();
  while (!processed_size.compare_exchange_weak(cur, cur > bytes ? cur - bytes : 0)) {
  }
}

std::string progress_record_name(const std::string& instance_id) {
  std::string name;
  return filenamify(instance_id, name, '_');
}

int open_progress_record(Instance_Mem_Map_Handle& handle, const std::string& def_id,
                         const std::string& instance_id, bool create) {
  return handle.open(def_id.c_str(), progress_record_name(instance_id).c_str(), create, true,
                     0700);
}

}  // namespace tavrocloud
