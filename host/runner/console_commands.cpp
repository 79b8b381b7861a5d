// `quillon3 console login|list ...` and `quillon3 probe`: the runner plays the web console
// and the host's agent. The console commands send their params to the module's JSON-RPC
// handlers through the host's JSON-RPC service and print the result; probe lists what
// the module's instance handler shows the agent.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "json/json_dump.h"
#include "json/json_load.h"
#include "jsonrpc/json_rpc.h"
#include "runner/commands.h"
#include "runner/module_link.h"

namespace runner {

namespace {

// Params files are small; anything larger is refused rather than read into memory.
const size_t MAX_PARAMS_BYTES = 1 << 20;

const char PARAMS_HELP[] =
    "PARAMS is a JSON file holding the request's params object ('-' reads stdin), or a\n"
    "list of members: key=TEXT sets a string, key:=JSON any JSON value (port:=8773).";

const Command_Syntax LOGIN_SYNTAX = {
    "console login",
    "Sends the console's login request to the module: it logs in to the cloud of the\n"
    "account in the params (host, port, ssl, locale, access_key and security_key, the\n"
    "secret key encrypted with this host's public key) and answers with the cloud's\n"
    "version. --account starts from a registered account; members given after it\n"
    "replace its own.\n",
    "[PARAMS.json | key=TEXT | key:=JSON ...]",
    {{"account", "UUID", false, "start from the registered account UUID"}},
    0,
    64};

const Command_Syntax LIST_SYNTAX = {
    "console list",
    "Sends the console's list request to the module and prints the items: params uuid\n"
    "(a registered account), subtype (inventory or search), view, type, moid and, for a\n"
    "search, search_type and name. Example:\n"
    "  quillon3 console list uuid=c1 subtype=inventory view=instances type=Cloud moid=\n",
    "PARAMS.json | key=TEXT | key:=JSON ...",
    {},
    1,
    64};

const Command_Syntax PROBE_SYNTAX = {
    "probe",
    "Prints what the module's instance handler shows the host's agent: a row for each\n"
    "entry it names (the module's proxy), with its type, its state and its options.",
    "",
    {},
    0,
    0};

// Reads a whole params file ("-": stdin) of at most MAX_PARAMS_BYTES.
bool read_params_file(const std::string& path, std::string& text, std::string& error) {
  std::FILE* const file = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    error = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  char buf[8192];
  size_t n = 0;
  while ((n = std::fread(buf, 1, sizeof buf, file)) > 0 && text.size() <= MAX_PARAMS_BYTES)
    text.append(buf, n);
  const bool failed = std::ferror(file) != 0;
  if (file != stdin) std::fclose(file);
  if (failed) error = "cannot read " + path;
  if (text.size() > MAX_PARAMS_BYTES) error = path + " is larger than 1 MiB";
  return error.empty();
}

// One key=TEXT or key:=JSON operand into `params`.
bool add_member(const std::string& word, json_spirit::Object& params, std::string& error) {
  const size_t eq = word.find('=');
  if (eq == std::string::npos || eq == 0 || (eq == 1 && word[0] == ':')) {
    error = "'" + word + "' is not key=TEXT or key:=JSON";
    return false;
  }
  if (word[eq - 1] != ':') {
    params[word.substr(0, eq)] = word.substr(eq + 1);
    return true;
  }
  json_spirit::Value value;
  std::string why;
  if (!JSON_Load(word.substr(eq + 1), value, &why)) {
    error = "the value of " + word.substr(0, eq - 1) + " is not JSON: " + why;
    return false;
  }
  params[word.substr(0, eq - 1)] = value;
  return true;
}

// The params of a console command from its operands: one file, or members. Returns
// EXIT_OK, or the exit code of the error already reported.
int build_params(Context& ctx, const Command_Syntax& syntax,
                 const std::vector<std::string>& operands, json_spirit::Value& params) {
  if (operands.size() == 1 && operands[0].find('=') == std::string::npos) {
    std::string text, error;
    if (!read_params_file(operands[0], text, error)) return ctx.fail(error);
    if (!JSON_Load(text, params, &error))
      return ctx.fail(operands[0] + " is not JSON: " + error);
    return EXIT_OK;
  }
  if (params.type() != json_spirit::obj_type) params = json_spirit::Object();
  for (const std::string& word : operands) {
    std::string error;
    if (!add_member(word, params.get_obj(), error)) return ctx.usage_error(syntax.path, error);
  }
  return EXIT_OK;
}

// Sends `params` to the module's handler and prints the result; an error reply fails.
int call_console(Context& ctx, Console_Method method, const char* name,
                 const json_spirit::Value& params) {
  std::string error;
  std::unique_ptr<Module_Link> module = load_module(ctx.module_path(), error);
  if (!module) return ctx.fail(error);
  ctx.log().forget_errors();
  json_spirit::Object reply;
  if (!module->console_call(method, params, reply, error)) return ctx.fail(error);
  const json_spirit::Object* failure = json_spirit::object_get_object(reply, "error");
  if (failure != nullptr) {
    int code = 0;
    std::string message;
    json_spirit::object_get(*failure, "code", code);
    json_spirit::object_get(*failure, "message", message);
    return ctx.fail(std::string("console ") + name + ": the module answered " +
                    std::to_string(code) + " \"" + message + "\"");
  }
  const json_spirit::Value* result = json_spirit::object_get_value(reply, "result");
  const std::string text =
      printable_json(hide_secrets(result != nullptr ? *result : json_spirit::Value()));
  if (text.empty())
    return ctx.fail(std::string("console ") + name + ": the answer cannot be written as JSON");
  ctx.out() << text << "\n";
  return EXIT_OK;
}

int console_login(Context& ctx, Command_Line& line, size_t first) {
  Parsed_Args args;
  int code = EXIT_OK;
  if (!ctx.parse(LOGIN_SYNTAX, line, first, args, code)) return code;
  json_spirit::Value params;
  if (args.has("account")) {
    std::string error;
    if (!identity_ready(true, error)) return ctx.fail(error);
    json_spirit::Object query;
    query["uuid"] = args.value("account");
    ctx.log().forget_errors();
    if (!global_json_rpc("tavrocloud.query", query, -1, &params, json_spirit::obj_type, -1))
      return ctx.fail("cannot load account " + args.value("account"));
  } else if (args.operands().empty()) {
    return ctx.usage_error(LOGIN_SYNTAX.path, "missing PARAMS or --account");
  }
  if (args.has("account") && args.operands().size() == 1 &&
      args.operands()[0].find('=') == std::string::npos)
    return ctx.usage_error(LOGIN_SYNTAX.path, "--account takes key=TEXT members, not a file");
  code = build_params(ctx, LOGIN_SYNTAX, args.operands(), params);
  if (code != EXIT_OK) return code;
  return call_console(ctx, Console_Method::LOGIN, "login", params);
}

int console_list(Context& ctx, Command_Line& line, size_t first) {
  Parsed_Args args;
  int code = EXIT_OK;
  if (!ctx.parse(LIST_SYNTAX, line, first, args, code)) return code;
  json_spirit::Value params;
  code = build_params(ctx, LIST_SYNTAX, args.operands(), params);
  if (code != EXIT_OK) return code;
  return call_console(ctx, Console_Method::LIST, "list", params);
}

}  // namespace

int run_console(Context& ctx, Command_Line& line, size_t first) {
  static const std::vector<Command_Entry> subcommands = {
      {"login", "check a cloud account as the web console does", console_login},
      {"list", "list or search a registered cloud's inventory", console_list},
  };
  return dispatch(ctx, line, first, "console", subcommands);
}

int run_probe(Context& ctx, Command_Line& line, size_t first) {
  Parsed_Args args;
  int code = EXIT_OK;
  if (!ctx.parse(PROBE_SYNTAX, line, first, args, code)) return code;
  std::string error;
  std::unique_ptr<Module_Link> module = load_module(ctx.module_path(), error);
  if (!module) return ctx.fail(error);
  Instance_Handler::instances_type instances;
  std::map<std::string, std::string> states;
  if (!module->probe(instances, states, error)) return ctx.fail(error);
  std::vector<std::vector<std::string>> rows;
  for (const auto& entry : instances)
    rows.push_back({entry.first, entry.second->type, states[entry.first],
                    JSON_Dump(entry.second->options)});
  print_table(ctx.out(), {"NAME", "TYPE", "STATE", "OPTIONS"}, rows);
  return EXIT_OK;
}

}  // namespace runner
