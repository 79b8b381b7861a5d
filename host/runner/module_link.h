// The runner's one way into the module: it loads libtavrocloud.so with dlopen, as the
// product does, and reaches the module's objects only through its exported factories
// (`_make_<Name>`), destroying each through the destroyer that its factory handed out.
// The commands see only Module_Link; the runner links no module code.
#ifndef RUNNER_MODULE_LINK_H
#define RUNNER_MODULE_LINK_H

#include <map>
#include <memory>
#include <string>

#include "agent/instance_handler.h"
#include "job_engine/job.h"
#include "job_engine/job_definition.h"
#include "json/value.h"

namespace runner {

struct Account_Check {
  std::string endpoint;  // "http://host:port" or "https://host:port"
  std::string locale;
  std::string version;  // the cloud's version text
};

// The module's console handlers.
enum class Console_Method { LOGIN, LIST };

// The kinds of job the module runs; each has its own pair of document parser creators.
enum class Job_Kind { BACKUP, RESTORE };

class Module_Link {
 public:
  virtual ~Module_Link() = default;

  // Checks the registered account `uuid` through the module's console login handler, as
  // the console does (the stored account, its key still encrypted, as the request's
  // params). True with `result` filled when the cloud took the account; false with a
  // one-line `error` otherwise (the module's own reason is in the log). `result.endpoint`
  // and `result.locale` are filled as soon as the account is read.
  virtual bool check_account(const std::string& uuid, Account_Check& result,
                             std::string& error) = 0;

  // Sends a request with `params` to the module's console handler and gives its JSON-RPC
  // reply document (a result or an error). False with `error` when no handler could be
  // made or it sent no reply.
  virtual bool console_call(Console_Method method, const json_spirit::Value& params,
                            json_spirit::Object& reply, std::string& error) = 0;

  // Probes the module's instance handler: its instances and the state of each. False
  // with `error` when no handler could be made or the probe failed.
  virtual bool probe(Instance_Handler::instances_type& instances,
                     std::map<std::string, std::string>& states, std::string& error) = 0;

  // Parses the source and options texts (JSON) with the module's parsers of `kind` and
  // keeps the results in `def`. False with `error` naming the document that did not parse
  // or the factory that failed.
  virtual bool parse_job_documents(Job_Kind kind, const std::string& source,
                                   const std::string& options, Job_Definition& def,
                                   std::string& error) = 0;

  // The module's job for `def`, made by its job creator; null with `error` when no
  // creator could be made or it made no job of the definition's type.
  virtual Job_var create_job(const Job_Definition_var& def, std::string& error) = 0;
};

// libtavrocloud.so next to the running program.
std::string default_module_path();

// Loads the module at `path`. Null with a one-line `error` naming the module when it
// cannot be loaded. The module stays mapped until the process ends, so a detached job
// thread that is still returning from module code never runs on unmapped pages.
std::unique_ptr<Module_Link> load_module(const std::string& path, std::string& error);

}  // namespace runner

#endif  // RUNNER_MODULE_LINK_H
