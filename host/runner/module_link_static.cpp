// Module_Link over the module's code linked into the runner (mod_tc_common).
#include "runner/module_link.h"
#include "tavrocloud/common/tavrocloud_login.h"
#include "tavrocloud/common/tavrocloud_restful_client.h"
#include "tavrocloud/common/utils.h"

namespace runner {

namespace {

class Static_Module_Link : public Module_Link {
 public:
  bool check_account(const std::string& uuid, Account_Check& result, std::string& error) override {
    tavrocloud::Login login;
    if (!tavrocloud::get_login_info(uuid, login)) {
      error = "cannot load account " + uuid;
      return false;
    }
    result.endpoint = std::string(login.ssl ? "https://" : "http://") + login.host + ":" +
                      std::to_string(login.port);
    result.locale = login.locale;
    tavrocloud::RESTful_Client client;
    if (!client.login(login)) {
      error = "cannot log in to the cloud at " + result.endpoint;
      return false;
    }
    result.version = client.version();
    return true;
  }
};

}  // namespace

std::unique_ptr<Module_Link> make_module_link() { return std::make_unique<Static_Module_Link>(); }

}  // namespace runner
