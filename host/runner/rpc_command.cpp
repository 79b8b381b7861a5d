// `quillon3 rpc METHOD PARAMS_JSON`: calls a method of the host's JSON-RPC service the
// way the module does (global_json_rpc) and prints the result as JSON.
#include "json/json_load.h"
#include "jsonrpc/json_rpc.h"
#include "runner/commands.h"

namespace runner {

namespace {

const Command_Syntax RPC_SYNTAX = {
    "rpc",
    "Calls the JSON-RPC method METHOD of the host with the params PARAMS_JSON (one JSON\n"
    "text) and prints its result. Members that hold keys or secrets are printed as\n"
    "\"<hidden>\".",
    "METHOD PARAMS_JSON",
    {},
    2,
    2};

}  // namespace

int run_rpc(Context& ctx, Command_Line& line, size_t first) {
  Parsed_Args args;
  int code = EXIT_OK;
  if (!ctx.parse(RPC_SYNTAX, line, first, args, code)) return code;
  const std::vector<std::string> operands = args.operands();
  const std::string& method = operands[0];
  if (!is_plain_text(method)) return ctx.usage_error(RPC_SYNTAX.path, "invalid METHOD");
  json_spirit::Value params;
  std::string error;
  if (!JSON_Load(operands[1], params, &error))
    return ctx.usage_error(RPC_SYNTAX.path, "PARAMS_JSON is not JSON: " + error);

  ctx.log().forget_errors();
  json_spirit::Value result;
  if (!global_json_rpc(method.c_str(), params, -1, &result, json_spirit::null_type, -1))
    return ctx.fail("rpc " + method + " failed");
  const std::string text = printable_json(hide_secrets(result));
  ctx.set_done("rpc " + method + " succeeded");
  if (text.empty()) return ctx.fail("the result of " + method + " cannot be written as JSON");
  ctx.out() << text << "\n";
  return EXIT_OK;
}

}  // namespace runner
