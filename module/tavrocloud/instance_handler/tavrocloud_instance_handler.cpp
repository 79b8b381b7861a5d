#include "tavrocloud/instance_handler/tavrocloud_instance_handler.h"

#include <memory>

namespace {

const char PROXY_NAME[] = "Tavrocloud_Proxy";
const char HANDLER_TYPE[] = "tavrocloud";

}  // namespace

Tavrocloud_Instance_Handler::Tavrocloud_Instance_Handler() : Instance_Handler(HANDLER_TYPE) {}

Tavrocloud_Instance_Handler::~Tavrocloud_Instance_Handler() {}

int Tavrocloud_Instance_Handler::probe_instances(instances_type& instances) {
  std::shared_ptr<Instance> proxy = std::make_shared<Instance>();
  proxy->name = PROXY_NAME;
  proxy->type = HANDLER_TYPE;
  proxy->options["is_proxy"] = true;
  instances[PROXY_NAME] = proxy;
  return 0;
}

std::string& Tavrocloud_Instance_Handler::get_state(const char*, std::string& state) {
  state = "enabled";
  return state;
}

int Tavrocloud_Instance_Handler::logon(const char*, const char*, const char*,
                                       const json_spirit::Object*) {
  return 0;
}
