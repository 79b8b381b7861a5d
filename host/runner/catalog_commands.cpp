// `quillon3 catalog ...`: what the host's catalog holds (the backup sets the jobs
// committed), read through the same catalog client the jobs use.
#include "catalog/restful_catalog_operator.h"
#include "identity/host_manager.h"
#include "runner/commands.h"
#include "runtime/host_home.h"

namespace runner {

namespace {

const Command_Syntax LIST_SYNTAX = {
    "catalog list",
    "Lists the backup sets in the catalog, newest first. TIMEPOINT is the second the\n"
    "set's backup started, in UTC, written YYYYMMDDhhmmss; INSTANCE and INSTANCE_NAME\n"
    "name the instance it holds. A restore entry takes them as its backup_start_time,\n"
    "src_instance_id and src_instance_name.",
    "",
    {{"module", "MODULE", false, "only the sets of this module (e.g. tavro)"},
     {"json", nullptr, false,
      "print the sets' records as one JSON array, each with its\n"
      "                          TIMEPOINT as \"backup_start_time\""}},
    0,
    0};

// The record's member `key` when it is a string, else "" (which the table shows as "-").
std::string member_text(const json_spirit::Object& set, const char* key) {
  std::string text;
  json_spirit::object_get(set, key, text);
  return text;
}

// Names the sets whose records do not read; the command's exit code.
int finish_list(Context& ctx, const std::vector<std::string>& damaged) {
  if (damaged.empty()) return EXIT_OK;
  std::string names;
  for (const std::string& uuid : damaged) names += (names.empty() ? "" : ", ") + uuid;
  return ctx.fail("the catalog record of backup set(s) " + names + " is damaged");
}

int catalog_list(Context& ctx, Command_Line& line, size_t first) {
  Parsed_Args args;
  int code = EXIT_OK;
  if (!ctx.parse(LIST_SYNTAX, line, first, args, code)) return code;
  // Listing must not make a home where none is: the catalog would be made in it.
  if (!home_exists())
    return ctx.fail("the host home " + host_home() + " does not exist; run 'quillon3 init' first");
  const Host_Manager& host = Host_Manager::instance();
  const WebSocket_Options& backupd = host.websocket_options();
  RESTful_Catalog_Operator catalog(backupd.host(), backupd.port(), backupd.ssl(), host.access_key(),
                                   -1, 0);
  std::vector<Catalog_Entry> entries;
  std::vector<std::string> damaged;
  ctx.log().forget_errors();
  if (!catalog.list(args.value("module"), entries, &damaged) && damaged.empty())
    return ctx.fail("cannot read the catalog " + RESTful_Catalog_Operator::database_path());
  // The sets that read are listed; the damaged ones are named after them and fail the
  // command.

  if (args.has("json")) {
    json_spirit::Array sets;
    for (const Catalog_Entry& e : entries) {
      json_spirit::Object set = e.set;
      set["backup_start_time"] = e.timepoint;
      sets.push_back(hide_secrets(json_spirit::Value(std::move(set))));
    }
    const std::string text = sets.empty() ? std::string("[]") : printable_json(sets);
    if (text.empty()) return ctx.fail("the catalog's records cannot be written as JSON");
    ctx.out() << text << "\n";
    return finish_list(ctx, damaged);
  }
  if (entries.empty()) {
    ctx.out() << "no backup sets\n";
    return finish_list(ctx, damaged);
  }
  std::vector<std::vector<std::string>> rows;
  for (const Catalog_Entry& e : entries)
    rows.push_back({e.timepoint, e.module, e.type, e.name, member_text(e.set, "instance_id"),
                    member_text(e.set, "instance_name"), e.uuid, e.resource_uuid,
                    e.minor_resource_id});
  print_table(ctx.out(),
              {"TIMEPOINT", "MODULE", "TYPE", "JOB", "INSTANCE", "INSTANCE_NAME", "SET", "RESOURCE",
               "ITEM"},
              rows);
  return finish_list(ctx, damaged);
}

}  // namespace

int run_catalog(Context& ctx, Command_Line& line, size_t first) {
  static const std::vector<Command_Entry> subcommands = {
      {"list", "list the backup sets", catalog_list},
  };
  return dispatch(ctx, line, first, "catalog", subcommands);
}

}  // namespace runner
