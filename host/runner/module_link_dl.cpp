// Module_Link over dlopen: the module's objects come only from its exported factories.
#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "job_def/job_json_parser.h"
#include "job_engine/job_creator.h"
#include "job_engine/job_document.h"
#include "jsonrpc/json_rpc.h"
#include "jsonrpc/json_rpc_handler.h"
#include "runner/module_link.h"
#include "tavrocloud/job/job_parameters.h"

namespace runner {

namespace {

typedef void (*Gobble_Fn)(void*);

const char LOGIN_HANDLER[] = "JSON_RPC_Tavrocloud_Login_Handler";
const char LIST_HANDLER[] = "JSON_RPC_Tavrocloud_List_Handler";
const char INSTANCE_HANDLER[] = "Tavrocloud_Instance_Handler";
const char JOB_CREATOR[] = "Tavrocloud_Job_Creator";

// The parser the module's creators make; its result is the module's parameter object,
// which the definition keeps and the module's executors read.
typedef YAJL_Parser<tavrocloud::Job_Parameters> Document_Parser;
typedef Object_Creator_T<YAJL_Handler> Parser_Creator;

// The reply of the login handler when the account in the params is unusable.
const char UNUSABLE_ACCOUNT[] = "Failed to parse or decrypt security key";

// An object the module made; destroyed through the destroyer its factory handed out.
template <typename T>
class Module_Object {
 public:
  Module_Object() = default;
  ~Module_Object() {
    if (object_ != nullptr) gobble_(object_);
  }
  Module_Object(const Module_Object&) = delete;
  Module_Object& operator=(const Module_Object&) = delete;

  void reset(T* object, Gobble_Fn gobble) {
    object_ = object;
    gobble_ = gobble;
  }
  T* operator->() const { return object_; }
  T& operator*() const { return *object_; }

 private:
  T* object_ = nullptr;
  Gobble_Fn gobble_ = nullptr;
};

std::string endpoint_of(const json_spirit::Object& account) {
  std::string host;
  int port = 0;
  bool ssl = false;
  json_spirit::object_get(account, "host", host);
  json_spirit::object_get(account, "port", port);
  json_spirit::object_get(account, "ssl", ssl);
  return std::string(ssl ? "https://" : "http://") + host + ":" + std::to_string(port);
}

// The "message" of a reply's "error" member; empty for a result.
std::string error_message(const json_spirit::Object& reply) {
  const json_spirit::Object* error = json_spirit::object_get_object(reply, "error");
  std::string message;
  if (error != nullptr) json_spirit::object_get(*error, "message", message);
  return error != nullptr && message.empty() ? "error" : message;
}

class Dl_Module_Link : public Module_Link {
 public:
  Dl_Module_Link(const std::string& path, void* handle) : path_(path), handle_(handle) {}
  ~Dl_Module_Link() override { ::dlclose(handle_); }

  bool check_account(const std::string& uuid, Account_Check& result,
                     std::string& error) override {
    json_spirit::Object query;
    query["uuid"] = uuid;
    json_spirit::Value account;
    if (!global_json_rpc("tavrocloud.query", query, -1, &account, json_spirit::obj_type, -1)) {
      error = "cannot load account " + uuid;
      return false;
    }
    result.endpoint = endpoint_of(account.get_obj());
    json_spirit::object_get(account.get_obj(), "locale", result.locale);
    json_spirit::Object reply;
    if (!console_call(Console_Method::LOGIN, account, reply, error)) return false;
    const std::string message = error_message(reply);
    if (message == UNUSABLE_ACCOUNT) {
      error = "account " + uuid +
              " does not parse, or its secret key does not decrypt with this host's private key";
      return false;
    }
    if (!message.empty()) {
      error = "cannot log in to the cloud at " + result.endpoint;
      return false;
    }
    const json_spirit::Object* answer = json_spirit::object_get_object(reply, "result");
    if (answer != nullptr) json_spirit::object_get(*answer, "version", result.version);
    return true;
  }

  bool console_call(Console_Method method, const json_spirit::Value& params,
                    json_spirit::Object& reply, std::string& error) override {
    const bool login = method == Console_Method::LOGIN;
    Module_Object<JSON_RPC_Handler> handler;
    if (!make(login ? LOGIN_HANDLER : LIST_HANDLER, handler, error)) return false;
    handler->init(0, nullptr);
    const bool replied =
        json_rpc_exchange(*handler, login ? "tavrocloud.login" : "tavrocloud.list", params, reply);
    handler->fini();
    if (!replied) error = std::string("the module's ") + (login ? LOGIN_HANDLER : LIST_HANDLER) +
                          " sent no reply";
    return replied;
  }

  bool probe(Instance_Handler::instances_type& instances,
             std::map<std::string, std::string>& states, std::string& error) override {
    Module_Object<Instance_Handler> handler;
    if (!make(INSTANCE_HANDLER, handler, error)) return false;
    handler->init(0, nullptr);
    const bool probed = handler->probe_instances(instances) == 0;
    for (const auto& entry : instances) {
      std::string state;
      states[entry.first] = handler->get_state(entry.first.c_str(), state);
    }
    handler->fini();
    if (!probed) error = "the module's instance handler failed to probe its instances";
    return probed;
  }

  bool parse_job_documents(Job_Kind kind, const std::string& source, const std::string& options,
                           Job_Definition& def, std::string& error) override {
    const std::string prefix =
        kind == Job_Kind::BACKUP ? "Tavrocloud_Backup_" : "Tavrocloud_Restore_";
    Document_Parser::pointer parsed[2];
    const std::string* texts[2] = {&source, &options};
    const char* names[2] = {"Source", "Options"};
    for (int i = 0; i < 2; ++i) {
      Module_Object<Parser_Creator> creator;
      if (!make(prefix + names[i] + "_Parser_Creator", creator, error)) return false;
      creator->init(0, nullptr);
      std::string why;
      parsed[i] = parse_job_document<Document_Parser>(*creator, *texts[i], &why);
      creator->fini();
      if (parsed[i].get() == nullptr) {
        error = std::string("the module's parser refused the ") + (i == 0 ? "source" : "options") +
                (why.empty() ? std::string() : ": " + why);
        return false;
      }
    }
    def.set_source(parsed[0]);
    def.set_options(parsed[1]);
    return true;
  }

  Job_var create_job(const Job_Definition_var& def, std::string& error) override {
    Module_Object<Job_Creator> creator;
    if (!make(JOB_CREATOR, creator, error)) return Job_var();
    creator->init(0, nullptr);
    errno = 0;
    Job_var job = creator->create(def);
    const int saved = errno;
    creator->fini();
    if (job.get() == nullptr)
      error = "the module's job creator made no job for this definition" +
              (saved != 0 ? std::string(": ") + std::strerror(saved) : std::string());
    return job;
  }

 private:
  // Makes the object of `_make_<name>` and keeps the destroyer it handed out. False with
  // `error` naming the module and the symbol when the factory is missing or made nothing.
  template <typename T>
  bool make(const std::string& name, Module_Object<T>& out, std::string& error) {
    const std::string symbol = "_make_" + name;
    void* const address = ::dlsym(handle_, symbol.c_str());
    if (address == nullptr) {
      error = "module " + path_ + " has no symbol " + symbol;
      return false;
    }
    T* (*const factory)(Gobble_Fn*) = reinterpret_cast<T* (*)(Gobble_Fn*)>(address);
    Gobble_Fn gobble = nullptr;
    errno = 0;
    T* const object = factory(&gobble);
    if (object == nullptr) {
      const int saved = errno;
      error = "module " + path_ + ": " + symbol + " made no object" +
              (saved != 0 ? std::string(": ") + std::strerror(saved) : std::string());
      return false;
    }
    if (gobble == nullptr) {
      // Without its destroyer the object cannot be given back safely: it is left alone.
      error = "module " + path_ + ": " + symbol + " handed out no destroyer";
      return false;
    }
    out.reset(object, gobble);
    return true;
  }

  const std::string path_;
  void* const handle_;
};

}  // namespace

std::string default_module_path() {
  char self[4096] = {};
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  std::string dir = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string(".");
  const size_t slash = dir.rfind('/');
  dir = slash == std::string::npos ? std::string(".") : dir.substr(0, slash);
  return dir + "/libtavrocloud.so";
}

std::unique_ptr<Module_Link> load_module(const std::string& path, std::string& error) {
  void* const handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (handle == nullptr) {
    const char* why = ::dlerror();
    error = "cannot load module " + path + ": " + (why != nullptr ? why : "unknown reason");
    return nullptr;
  }
  return std::make_unique<Dl_Module_Link>(path, handle);
}

}  // namespace runner
