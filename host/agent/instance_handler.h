// The host agent's view of a module: which protectable instances the module serves, in
// what state they are and whether the agent may log on to them. The agent makes one
// Instance_Handler per module through the module's factory and probes it.
#ifndef HOST_AGENT_INSTANCE_HANDLER_H
#define HOST_AGENT_INSTANCE_HANDLER_H

#include <map>
#include <memory>
#include <string>

#include "json/value.h"

// How the agent logs on to an instance: the user and the module's own options.
struct Logon_Options {
  std::string user;
  json_spirit::Object options;
};

// One protectable instance as the agent keeps it.
struct Instance {
  std::string type;  // the module's instance type ("tavrocloud")
  std::string name;
  std::string uuid;
  json_spirit::Object options;
  Logon_Options logon_options;
};

class Instance_Handler {
 public:
  // Instances by name.
  typedef std::map<std::string, std::shared_ptr<Instance>> instances_type;

  // `name`: the handler's name, the type of the instances it serves.
  explicit Instance_Handler(const char* name);
  virtual ~Instance_Handler();
  Instance_Handler(const Instance_Handler&) = delete;
  Instance_Handler& operator=(const Instance_Handler&) = delete;

  const std::string& name() const { return name_; }

  // Called by the agent once after making the handler and once before destroying it; 0.
  virtual int init(int argc, char** argv);
  virtual int fini();

  // Adds (or replaces by name) the instances the module serves; 0 on success, -1 on
  // failure (the entries added so far stay).
  virtual int probe_instances(instances_type& instances) = 0;
  // Sets `state` to the state text of instance `id` and returns it.
  virtual std::string& get_state(const char* id, std::string& state) = 0;
  // The state of every instance probe_instances yields, by name; 0, or -1 when the probe
  // failed.
  virtual int get_states(std::map<std::string, std::string>& states);
  // Logs on to instance `id` as `user` with `password` and the module's `options` (may
  // be null); 0 when accepted, -1 otherwise.
  virtual int logon(const char* id, const char* user, const char* password,
                    const json_spirit::Object* options) = 0;
  // Ends a logon; 0.
  virtual int logoff(const char* id);
  // Changes the logon of instance `id` and the module's `options`; 0, or -1 with errno
  // ENOTSUP when the module keeps no options (the default).
  virtual int update_options(const char* id, const char* user, const char* password,
                             json_spirit::Object& options);

 private:
  const std::string name_;
};

#endif  // HOST_AGENT_INSTANCE_HANDLER_H
