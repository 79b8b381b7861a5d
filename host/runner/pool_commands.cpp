// `quillon3 pool ...`: the storage pools of this host, each a directory, kept in the pool
// registry that the jobs' pool lookups answer from.

#include <cerrno>
#include <cstring>

#include "pool/fs_util.h"
#include "pool/pool_registry.h"
#include "runner/commands.h"
#include "runtime/uuid.h"

namespace runner {

namespace {

const Command_Syntax ADD_SYNTAX = {
    "pool add",
    "Registers a storage pool: a directory on this host (made when missing). A pool of\n"
    "the same uuid is replaced; a name must be unique. Without --uuid a new uuid is made\n"
    "and printed.",
    "",
    {{"uuid", "UUID", false, "the pool's uuid (default: a new one)"},
     {"name", "NAME", true, "the pool's name"},
     {"dir", "DIR", true, "the pool's directory"}},
    0,
    0};

const Command_Syntax LIST_SYNTAX = {
    "pool list", "Lists the registered storage pools.", "", {}, 0, 0};

const Command_Syntax REMOVE_SYNTAX = {"pool remove",
                                      "Removes a pool from the registry (its files stay).",
                                      "",
                                      {{"uuid", "UUID", true, "the pool's uuid"}},
                                      0,
                                      0};

std::string joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : ",") + item;
  return text.empty() ? "-" : text;
}

// A new random uuid as text; "" when the system's random source fails (errno set).
std::string new_uuid() {
  unsigned char bytes[16];
  return uuid_binary(bytes) == 0 ? uuid_binary_to_string(bytes) : std::string();
}

int pool_add(Context& ctx, Command_Line& line, size_t first) {
  Parsed_Args args;
  int code = EXIT_OK;
  if (!ctx.parse(ADD_SYNTAX, line, first, args, code)) return code;
  Pool_Record pool;
  pool.uuid = args.has("uuid") ? args.value("uuid") : new_uuid();
  if (pool.uuid.empty() && !args.has("uuid"))
    return ctx.fail(std::string("cannot make a uuid: ") + std::strerror(errno));
  pool.name = args.value("name");
  const std::string dir = args.value("dir");
  if (!is_identifier(pool.uuid))
    return ctx.usage_error(ADD_SYNTAX.path, "invalid --uuid '" + pool.uuid + "'");
  if (!is_plain_text(pool.name)) return ctx.usage_error(ADD_SYNTAX.path, "invalid --name");
  if (!is_plain_text(dir, 4096)) return ctx.usage_error(ADD_SYNTAX.path, "invalid --dir");

  if (!make_directories(dir, 0700))
    return ctx.fail("cannot create the pool directory " + dir + ": " + std::strerror(errno));
  const std::string root = real_path(dir);
  if (root.empty()) return ctx.fail("cannot resolve " + dir + ": " + std::strerror(errno));
  pool.url = "file://" + root;
  Pool_Registry registry;
  std::string error;
  if (!registry.add(pool, &error))
    return ctx.fail("cannot register pool " + pool.uuid + ": " + error);
  ctx.set_done("pool " + pool.name + " (" + pool.uuid + ") was registered at " + root);
  ctx.out() << "pool " << pool.name << " (" << pool.uuid << ") registered at " << root << "\n";
  return EXIT_OK;
}

int pool_list(Context& ctx, Command_Line& line, size_t first) {
  Parsed_Args args;
  int code = EXIT_OK;
  if (!ctx.parse(LIST_SYNTAX, line, first, args, code)) return code;
  Pool_Registry registry;
  std::string error;
  if (!registry.load(&error)) return ctx.fail("cannot read the pool registry: " + error);
  if (registry.pools().empty()) {
    ctx.out() << "no pools\n";
    return EXIT_OK;
  }
  std::vector<std::vector<std::string>> rows;
  for (const Pool_Record& p : registry.pools()) {
    const std::string root = p.root();
    rows.push_back({p.uuid, p.name, root.empty() ? p.url : root, joined(p.device_ids)});
  }
  print_table(ctx.out(), {"UUID", "NAME", "DIRECTORY", "DEVICES"}, rows);
  return EXIT_OK;
}

int pool_remove(Context& ctx, Command_Line& line, size_t first) {
  Parsed_Args args;
  int code = EXIT_OK;
  if (!ctx.parse(REMOVE_SYNTAX, line, first, args, code)) return code;
  const std::string uuid = args.value("uuid");
  Pool_Registry registry;
  std::string error;
  if (!registry.load(&error)) return ctx.fail("cannot read the pool registry: " + error);
  const Pool_Record* pool = registry.find(uuid);
  if (pool == nullptr || pool->uuid != uuid) return ctx.fail("no such pool: " + uuid);
  if (!registry.remove(uuid, &error)) return ctx.fail("cannot remove pool " + uuid + ": " + error);
  ctx.set_done("pool " + uuid + " was removed");
  ctx.out() << "pool " << uuid << " removed\n";
  return EXIT_OK;
}

}  // namespace

int run_pool(Context& ctx, Command_Line& line, size_t first) {
  static const std::vector<Command_Entry> subcommands = {
      {"add", "register a storage pool", pool_add},
      {"list", "list the registered pools", pool_list},
      {"remove", "remove a pool from the registry", pool_remove},
  };
  return dispatch(ctx, line, first, "pool", subcommands);
}

}  // namespace runner
