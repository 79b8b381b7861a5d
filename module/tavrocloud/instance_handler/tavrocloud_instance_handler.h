// What the host agent sees of the cloud: the cloud is protected without per-instance
// agents, so this handler answers with one fixed proxy instance that stands for it,
// always enabled, and accepts every logon without doing anything.
#ifndef TAVROCLOUD_INSTANCE_HANDLER_TAVROCLOUD_INSTANCE_HANDLER_H
#define TAVROCLOUD_INSTANCE_HANDLER_TAVROCLOUD_INSTANCE_HANDLER_H

#include <string>

#include "agent/instance_handler.h"

class Tavrocloud_Instance_Handler : public Instance_Handler {
 public:
  Tavrocloud_Instance_Handler();
  ~Tavrocloud_Instance_Handler() override;

  // Puts a new proxy instance "Tavrocloud_Proxy" into `instances` (replacing one of that
  // name, keeping the others); 0.
  int probe_instances(instances_type& instances) override;
  // "enabled", whatever the id.
  std::string& get_state(const char* id, std::string& state) override;
  // 0; nothing to log on to.
  int logon(const char* id, const char* user, const char* password,
            const json_spirit::Object* options) override;
};

#endif  // TAVROCLOUD_INSTANCE_HANDLER_TAVROCLOUD_INSTANCE_HANDLER_H
