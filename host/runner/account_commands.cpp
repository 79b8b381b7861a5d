// `quillon3 account ...`: the cloud accounts of this host. An account's secret key is
// stored only RSA-encrypted with the host's public key (tavrocloud_accounts), and no
// command ever prints an access or secret key.
#include <cstdio>
#include <cstring>
#include <string>

#include "identity/host_manager.h"
#include "identity/rsa_codec.h"
#include "jsonrpc/tavrocloud_accounts.h"
#include "runner/commands.h"
#include "runner/module_link.h"

namespace runner {

namespace {

const Command_Syntax ADD_SYNTAX = {
    "account add",
    "Registers the account of a cloud under its uuid (replacing an earlier one). The\n"
    "secret key is stored encrypted with the host's public key; give '-' to read it from\n"
    "the first line of stdin instead of the command line.",
    "",
    {{"uuid", "UUID", true, "the cloud's uuid"},
     {"host", "HOST", true, "host name or address of the cloud's query API"},
     {"port", "PORT", true, "its TCP port"},
     {"ssl", nullptr, false, "use HTTPS"},
     {"locale", "LOCALE", false, "the cloud's locale (region) that signs requests"},
     {"access-key", "KEY", true, "the access key id"},
     {"secret-key", "KEY", true, "the secret key, or '-' for stdin"}},
    0,
    0};

const Command_Syntax LIST_SYNTAX = {
    "account list", "Lists the registered accounts (never their keys).", "", {}, 0, 0};

const Command_Syntax REMOVE_SYNTAX = {"account remove",
                                      "Removes a registered account.",
                                      "",
                                      {{"uuid", "UUID", true, "the cloud's uuid"}},
                                      0,
                                      0};

const Command_Syntax CHECK_SYNTAX = {
    "account check",
    "Checks a registered account through the module's console login handler, as the web\n"
    "console does: logs in to its cloud and prints the cloud's version.",
    "",
    {{"uuid", "UUID", true, "the cloud's uuid"}},
    0,
    0};

// The longest secret line taken from stdin: the size of the largest key `init` makes
// (16384 bits), more than RSA with OAEP and SHA-256 encrypts under it (two hashes and
// two bytes less).
const size_t LARGEST_KEY_BYTES = 16384 / 8;
const size_t MAX_SECRET_BYTES = LARGEST_KEY_BYTES;
static_assert(MAX_SECRET_BYTES == 2048 && MAX_SECRET_BYTES > LARGEST_KEY_BYTES - 2 * 32 - 2,
              "a secret line longer than any host key encrypts is refused");

// The secret from its word, or from the first line of stdin for "-" (empty when there is
// none). False, with `error` set, for a line longer than MAX_SECRET_BYTES, of which no
// more is read.
bool read_secret(Command_Line& line, size_t index, secure_string& secret, std::string& error) {
  secret = line.take_secret(index);
  if (secret != "-") return true;
  secret.clear();
  secret.reserve(MAX_SECRET_BYTES + 1);
  for (int c; (c = std::fgetc(stdin)) != EOF && c != '\n';) {
    if (secret.size() == MAX_SECRET_BYTES) {
      error = "the secret key on stdin is longer than " + std::to_string(MAX_SECRET_BYTES) +
              " bytes, more than the host's key can encrypt";
      return false;
    }
    secret.push_back(static_cast<char>(c));
  }
  if (!secret.empty() && secret.back() == '\r') secret.pop_back();
  return true;
}

// The secret encrypted with the host's public key, checked to decrypt again with its
// private key so that an account never gets stored that the jobs could not use.
bool encrypt_secret(const secure_string& secret, std::string& encrypted, std::string& error) {
  const Host_Manager& host = Host_Manager::instance();
  const std::string& pub = host.rsa_pubkey();
  RSA_Encoder encoder(secret.data(), secret.size(), pub.data(), pub.size(), true,
                      RSA_CODEC_OAEP_SHA256);
  encrypted = encoder ? encoder.str() : std::string();
  if (encrypted.empty()) {
    error = "cannot encrypt the secret key with the host's public key (too long for the key?)";
    return false;
  }
  const secure_string& prv = host.rsa_prvkey();
  RSA_Decoder decoder(encrypted.data(), encrypted.size(), prv.data(), prv.size(), true,
                      RSA_CODEC_OAEP_SHA256);
  if (!decoder || decoder.length() != secret.size() ||
      std::memcmp(decoder.get(), secret.data(), secret.size()) != 0) {
    error = "the host's public and private keys do not match";
    return false;
  }
  return true;
}

int account_add(Context& ctx, Command_Line& line, size_t first) {
  Parsed_Args args;
  int code = EXIT_OK;
  if (!ctx.parse(ADD_SYNTAX, line, first, args, code)) return code;
  secure_string secret;
  std::string error;
  if (!read_secret(line, args.value_index("secret-key"), secret, error)) return ctx.fail(error);
  const std::string uuid = args.value("uuid");
  const std::string host = args.value("host");
  const std::string locale = args.value("locale");
  const std::string access_key = args.value("access-key");
  uint16_t port = 0;
  if (!is_identifier(uuid))
    return ctx.usage_error(ADD_SYNTAX.path,
                           "invalid --uuid '" + uuid + "': a uuid " + IDENTIFIER_RULE);
  if (!is_host_name(host)) return ctx.usage_error(ADD_SYNTAX.path, "invalid --host '" + host + "'");
  if (!parse_port(args.value("port"), port))
    return ctx.usage_error(ADD_SYNTAX.path, "--port must be a number in 1..65535");
  if (args.has("locale") && !is_plain_text(locale))
    return ctx.usage_error(ADD_SYNTAX.path, "invalid --locale");
  if (!is_plain_text(access_key, 1024) || access_key.find(' ') != std::string::npos)
    return ctx.usage_error(ADD_SYNTAX.path, "invalid --access-key");
  if (secret.empty()) return ctx.usage_error(ADD_SYNTAX.path, "empty --secret-key");

  if (!identity_ready(true, error)) return ctx.fail(error);
  std::string encrypted;
  if (!encrypt_secret(secret, encrypted, error)) return ctx.fail(error);
  json_spirit::Object accounts;
  if (!tavrocloud_accounts::load_accounts(accounts, &error))
    return ctx.fail("cannot read the accounts: " + error);
  const bool replaced = accounts.count(uuid) != 0;

  json_spirit::Object account;
  account["host"] = host;
  account["port"] = static_cast<int>(port);
  account["ssl"] = args.has("ssl");
  account["locale"] = locale;
  account["access_key"] = access_key;
  account["security_key"] = encrypted;
  if (!tavrocloud_accounts::store_account(uuid, account, &error))
    return ctx.fail("cannot store account " + uuid + ": " + error);
  ctx.set_done("account " + uuid + (replaced ? " was replaced" : " was added"));
  ctx.out() << "account " << uuid << (replaced ? " replaced" : " added") << "\n";
  return EXIT_OK;
}

// "http://host:port" of a stored account, or "?" members where they are missing.
std::string stored_endpoint(const json_spirit::Object& account) {
  std::string host = "?";
  int port = 0;
  bool ssl = false;
  json_spirit::object_get(account, "host", host);
  json_spirit::object_get(account, "port", port);
  json_spirit::object_get(account, "ssl", ssl);
  return std::string(ssl ? "https://" : "http://") + host + ":" +
         (port > 0 ? std::to_string(port) : std::string("?"));
}

int account_list(Context& ctx, Command_Line& line, size_t first) {
  Parsed_Args args;
  int code = EXIT_OK;
  if (!ctx.parse(LIST_SYNTAX, line, first, args, code)) return code;
  json_spirit::Object accounts;
  std::string error;
  if (!tavrocloud_accounts::load_accounts(accounts, &error))
    return ctx.fail("cannot read the accounts: " + error);
  if (accounts.empty()) {
    ctx.out() << "no accounts\n";
    return EXIT_OK;
  }
  std::vector<std::vector<std::string>> rows;
  for (const auto& member : accounts) {
    if (member.second.type() != json_spirit::obj_type) {
      rows.push_back({member.first, "(not an account object)", ""});
      continue;
    }
    std::string locale;
    json_spirit::object_get(member.second.get_obj(), "locale", locale);
    rows.push_back({member.first, stored_endpoint(member.second.get_obj()), locale});
  }
  print_table(ctx.out(), {"UUID", "ENDPOINT", "LOCALE"}, rows);
  return EXIT_OK;
}

int account_remove(Context& ctx, Command_Line& line, size_t first) {
  Parsed_Args args;
  int code = EXIT_OK;
  if (!ctx.parse(REMOVE_SYNTAX, line, first, args, code)) return code;
  const std::string uuid = args.value("uuid");
  std::string error;
  if (!tavrocloud_accounts::remove_account(uuid, &error))
    return ctx.fail("cannot remove account " + uuid + ": " + error);
  ctx.set_done("account " + uuid + " was removed");
  ctx.out() << "account " << uuid << " removed\n";
  return EXIT_OK;
}

int account_check(Context& ctx, Command_Line& line, size_t first) {
  Parsed_Args args;
  int code = EXIT_OK;
  if (!ctx.parse(CHECK_SYNTAX, line, first, args, code)) return code;
  const std::string uuid = args.value("uuid");
  std::string error;
  if (!identity_ready(true, error)) return ctx.fail(error);
  json_spirit::Object accounts;
  if (!tavrocloud_accounts::load_accounts(accounts, &error))
    return ctx.fail("cannot read the accounts: " + error);
  if (accounts.count(uuid) == 0) return ctx.fail("no such account: " + uuid);

  std::unique_ptr<Module_Link> module = load_module(ctx.module_path(), error);
  if (!module) return ctx.fail(error);
  ctx.log().forget_errors();
  Account_Check result;
  if (!module->check_account(uuid, result, error)) return ctx.fail(error);
  // The version is the cloud's own text.
  ctx.out() << printable("account " + uuid + ": logged in to " + result.endpoint +
                         (result.locale.empty() ? "" : " (locale " + result.locale + ")") +
                         ", cloud version " + result.version)
            << "\n";
  return EXIT_OK;
}

}  // namespace

int run_account(Context& ctx, Command_Line& line, size_t first) {
  static const std::vector<Command_Entry> subcommands = {
      {"add", "register a cloud account", account_add},
      {"list", "list the registered accounts", account_list},
      {"remove", "remove an account", account_remove},
      {"check", "log in to an account's cloud as the jobs do", account_check},
  };
  return dispatch(ctx, line, first, "account", subcommands);
}

}  // namespace runner
