// The runner's one way into the module's code. For now the module's cloud code is linked
// into the runner (component mod_tc_common) and module_link_static.cpp calls it directly.
// When the runner runs jobs it loads libtavrocloud.so with dlopen, as the product does;
// then a second implementation of this interface does the loading, and the commands,
// which only see Module_Link, stay as they are.
#ifndef RUNNER_MODULE_LINK_H
#define RUNNER_MODULE_LINK_H

#include <memory>
#include <string>

namespace runner {

struct Account_Check {
  std::string endpoint;  // "http://host:port" or "https://host:port"
  std::string locale;
  std::string version;  // the cloud's version text; empty when it did not tell
};

class Module_Link {
 public:
  virtual ~Module_Link() = default;

  // Loads the registered account `uuid` exactly as the jobs do (through the host's
  // "tavrocloud.query" method, decrypting its key with the host's private key) and logs
  // in to its cloud. True with `result` filled when the cloud took the account; false with
  // a one-line `error` when the account cannot be loaded or the login failed (the
  // module's own reason is in the log). `result.endpoint` and `result.locale` are filled
  // as soon as the account is loaded.
  virtual bool check_account(const std::string& uuid, Account_Check& result,
                             std::string& error) = 0;
};

// The link of this build.
std::unique_ptr<Module_Link> make_module_link();

}  // namespace runner

#endif  // RUNNER_MODULE_LINK_H
