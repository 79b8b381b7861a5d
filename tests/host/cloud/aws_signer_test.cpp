// The signer against the published AWS Signature V4 test suite (header signing of GET and
// POST requests, tests/data/aws-sigv4-suite), plus the properties the client relies on.
#include "cloud/aws_signer.h"
#include "cloud/percent_encoding.h"
#include "json/json_load.h"

#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using cloud::Credentials;
using cloud::aws::Signable_Request;

std::string suite_dir() {
  const char* root = std::getenv("QUILLON3_SOURCE_DIR");
  if (root != nullptr && *root != '\0') return std::string(root) + "/tests/data/aws-sigv4-suite";
  const std::string here = __FILE__;  // <root>/tests/host/cloud/aws_signer_test.cpp
  return here.substr(0, here.rfind("/host/cloud/")) + "/data/aws-sigv4-suite";
}

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::vector<std::string> case_names() {
  std::vector<std::string> names;
  if (DIR* dir = opendir(suite_dir().c_str())) {
    while (dirent* e = readdir(dir)) {
      const std::string name = e->d_name;
      if (name.rfind("get-", 0) == 0 || name.rfind("post-", 0) == 0) names.push_back(name);
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A request of the suite as its request.txt gives it; the rest of the text is the body.
Signable_Request parse_request(std::istringstream& in) {
  Signable_Request out;
  std::string line, target, query, pair;
  std::getline(in, line);
  out.method = line.substr(0, line.find(' '));
  target = line.substr(out.method.size() + 1, line.rfind(' ') - out.method.size() - 1);
  out.path = target.substr(0, target.find('?'));
  if (target.find('?') != std::string::npos) query = target.substr(target.find('?') + 1);
  for (std::istringstream q(query); std::getline(q, pair, '&');) {
    const size_t eq = pair.find('=');
    out.query.emplace_back(cloud::percent_decode(pair.substr(0, eq)),
                           eq == std::string::npos ? "" : cloud::percent_decode(pair.substr(eq + 1)));
  }
  while (std::getline(in, line) && !line.empty()) {
    if (line[0] == ' ' || line[0] == '\t')
      out.headers.back().second += "\n" + line;  // folded continuation
    else
      out.headers.emplace_back(line.substr(0, line.find(':')), line.substr(line.find(':') + 1));
  }
  return out;
}

class Suite_Case : public ::testing::TestWithParam<std::string> {};

TEST_P(Suite_Case, MatchesPublishedSignature) {
  const std::string dir = suite_dir() + "/" + GetParam();
  json_spirit::Value context;
  ASSERT_TRUE(JSON_Load(read_text(dir + "/context.json"), context));
  const json_spirit::Object& ctx = context.get_obj();
  const json_spirit::Object& keys = json_spirit::object_get_object_or_throw(ctx, "credentials");
  std::string token;
  json_spirit::object_get(keys, "token", token);
  bool omit_token = false, sign_body = false, normalize = true;
  json_spirit::object_get(ctx, "omit_session_token", omit_token);
  json_spirit::object_get(ctx, "sign_body", sign_body);
  json_spirit::object_get(ctx, "normalize", normalize);
  const std::string amz = "20150830T123600Z";
  ASSERT_EQ(json_spirit::object_get_str_or_throw(ctx, "timestamp"), "2015-08-30T12:36:00Z");

  std::istringstream text(read_text(dir + "/request.txt"));
  Signable_Request request = parse_request(text);
  std::ostringstream body;
  body << text.rdbuf();
  request.normalize_path = normalize;
  request.payload_hash = cloud::aws::sha256_hex(body.str().data(), body.str().size());
  request.headers.emplace_back("X-Amz-Date", amz);
  if (sign_body) request.headers.emplace_back("x-amz-content-sha256", request.payload_hash);
  if (!token.empty() && !omit_token) request.headers.emplace_back("X-Amz-Security-Token", token);

  const Credentials credentials(
      json_spirit::object_get_str_or_throw(keys, "access_key_id").c_str(),
      json_spirit::object_get_str_or_throw(keys, "secret_access_key").c_str(), nullptr, 0);
  const cloud::aws::Signature_V4 sig = cloud::aws::sign_v4(
      request, credentials, json_spirit::object_get_str_or_throw(ctx, "region"),
      json_spirit::object_get_str_or_throw(ctx, "service"), amz);

  EXPECT_EQ(sig.canonical_request, read_text(dir + "/header-canonical-request.txt"));
  EXPECT_EQ(sig.string_to_sign, read_text(dir + "/header-string-to-sign.txt"));
  EXPECT_EQ(sig.signature, read_text(dir + "/header-signature.txt"));
  const std::string signed_request = read_text(dir + "/header-signed-request.txt");
  const size_t auth = signed_request.find("\nAuthorization:") + 15;
  EXPECT_EQ(sig.authorization, signed_request.substr(auth, signed_request.find('\n', auth) - auth));
}

INSTANTIATE_TEST_SUITE_P(AwsSuite, Suite_Case, ::testing::ValuesIn(case_names()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           std::string name = info.param;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

TEST(AwsSuiteData, IsPresent) { EXPECT_GE(case_names().size(), 30u); }

TEST(AwsSigner, AmzDateIsUtc) {
  EXPECT_EQ(cloud::aws::amz_date(1440938160) + cloud::aws::amz_date(0), "20150830T123600Z19700101T000000Z");
}

}  // namespace
