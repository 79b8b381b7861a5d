#include "agent/instance_handler.h"

#include <cerrno>

Instance_Handler::Instance_Handler(const char* name) : name_(name != nullptr ? name : "") {}

Instance_Handler::~Instance_Handler() {}

int Instance_Handler::init(int, char**) { return 0; }

int Instance_Handler::fini() { return 0; }

int Instance_Handler::get_states(std::map<std::string, std::string>& states) {
  instances_type instances;
  if (probe_instances(instances) != 0) return -1;
  for (const auto& entry : instances) {
    std::string state;
    states[entry.first] = get_state(entry.second->name.c_str(), state);
  }
  return 0;
}

int Instance_Handler::logoff(const char*) { return 0; }

int Instance_Handler::update_options(const char*, const char*, const char*, json_spirit::Object&) {
  errno = ENOTSUP;
  return -1;
}
