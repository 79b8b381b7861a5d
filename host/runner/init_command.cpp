// `quillon3 init`: gives the host home an identity and an RSA key pair. An existing
// identity and key pair are kept, so running it again is harmless (and never makes the
// stored cloud keys undecryptable).
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "identity/host_manager.h"
#include "jsonrpc/tavrocloud_accounts.h"
#include "pool/fs_util.h"
#include "runner/commands.h"
#include "runtime/host_home.h"

namespace runner {

namespace {

const Command_Syntax INIT_SYNTAX = {
    "init",
    "Initialises the host home ($QUILLON3_ROOT): identity.json with the host's name and\n"
    "access keys, and the RSA key pair that protects the stored cloud keys. What exists\n"
    "already is kept.",
    "",
    {{"name", "NAME", false, "the host's name (default: the system's host name)"},
     {"bits", "BITS", false, "size of the RSA key, 2048..16384 (default 3072)"}},
    0,
    0};

bool file_exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

std::string system_host_name() {
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "quillon3-host";
  return name;
}

// Accounts stored before a new key pair was made carry secrets that only the lost key
// decrypts: the jobs would fail on them, so say so now.
void warn_about_old_accounts(Context& ctx) {
  json_spirit::Object accounts;
  if (!tavrocloud_accounts::load_accounts(accounts) || accounts.empty()) return;
  ctx.warn("a new key pair was made: the " + std::to_string(accounts.size()) +
           " stored account(s) were encrypted with the old one; add them again");
}

}  // namespace

int run_init(Context& ctx, Command_Line& line, size_t first) {
  Parsed_Args args;
  int code = EXIT_OK;
  if (!ctx.parse(INIT_SYNTAX, line, first, args, code)) return code;
  const std::string name = args.value("name", system_host_name());
  if (!is_plain_text(name)) return ctx.usage_error("init", "invalid --name '" + name + "'");
  long bits = 3072;
  if (args.has("bits") && !parse_number(args.value("bits"), 2048, 16384, bits))
    return ctx.usage_error("init", "--bits must be a number in 2048..16384");

  const std::string home = host_home();
  const bool had_identity = file_exists(home + "/identity.json");
  const bool had_key = file_exists(home + "/keys/rsa_private.pem");
  const bool had_public_key = file_exists(home + "/keys/rsa_public.pem");
  if (!make_directories(home, 0700))
    return ctx.fail("cannot create the host home " + home + ": " + std::strerror(errno));
  ctx.log().forget_errors();
  if (!Host_Manager::initialise_home(home, name, static_cast<int>(bits)))
    return ctx.fail("cannot initialise the host home " + home);

  Host_Manager& host = Host_Manager::instance();
  if (!host.reload()) return ctx.fail("the host home " + home + " does not read back");
  if (!had_key) warn_about_old_accounts(ctx);
  ctx.set_done("the host home " + home + " is initialised (name '" + host.name() + "')");
  if (had_identity && had_key && had_public_key) {
    ctx.out() << "host home " << home << " already initialised (name '" << host.name() << "')\n";
    if (args.has("name") && host.name() != name)
      ctx.warn("--name ignored: the existing identity keeps its name");
  } else {
    ctx.out() << "initialised host home " << home << " (name '" << host.name() << "')\n";
  }
  return EXIT_OK;
}

}  // namespace runner
