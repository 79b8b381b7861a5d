// Signing requests: the signer against the published AWS Signature V4 test suite (header
// signing of GET and POST requests, tests/data/aws-sigv4-suite), and the percent-encoding
// of parameters, by which hostile texts reach the cloud unchanged and can never add, split
// or reorder form fields.
#include "cloud/aws_signer.h"
#include "cloud/percent_encoding.h"
#include "json/json_load.h"
#include "support/test_data.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace {

using cloud::aws::Signable_Request;
namespace js = json_spirit;

std::string read_text(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string str(const js::Object& o, const char* k) { return js::object_get_str_or_throw(o, k); }

// A request of the suite as its request.txt gives it; the rest of the text is the body.
Signable_Request parse_request(std::istringstream& in) {
  Signable_Request out;
  std::string line, query, pair;
  std::getline(in, line);
  out.method = line.substr(0, line.find(' '));
  const size_t start = out.method.size() + 1;
  const std::string target = line.substr(start, line.rfind(' ') - start);
  out.path = target.substr(0, target.find('?'));
  if (target.find('?') != std::string::npos) query = target.substr(target.find('?') + 1);
  for (std::istringstream q(query); std::getline(q, pair, '&');) {
    const size_t eq = pair.find('=');
    const std::string value = eq == std::string::npos ? "" : pair.substr(eq + 1);
    out.query.emplace_back(cloud::percent_decode(pair.substr(0, eq)), cloud::percent_decode(value));
  }
  while (std::getline(in, line) && !line.empty()) {
    if (line[0] == ' ' || line[0] == '\t')
      out.headers.back().second += "\n" + line;  // folded continuation
    else
      out.headers.emplace_back(line.substr(0, line.find(':')), line.substr(line.find(':') + 1));
  }
  return out;
}

TEST(AwsSigner, MatchesEveryPublishedSignature) {
  const std::filesystem::path suite = test::data_dir() + "/aws-sigv4-suite";
  const std::string amz = "20150830T123600Z";
  size_t cases = 0;
  for (const auto& entry : std::filesystem::directory_iterator(suite)) {
    const std::filesystem::path dir = entry.path();
    if (!entry.is_directory()) continue;
    SCOPED_TRACE(dir.filename().string());
    ++cases;
    const js::Object ctx = js::JSON_Load(read_text(dir / "context.json")).get_obj();
    const js::Object& keys = js::object_get_object_or_throw(ctx, "credentials");
    std::string token;
    bool omit_token = false, sign_body = false, normalize = true;
    ASSERT_TRUE(js::object_get(ctx, "normalize", normalize));
    ASSERT_TRUE(js::object_get(ctx, "sign_body", sign_body));
    if (js::object_get(keys, "token", token)) js::object_get(ctx, "omit_session_token", omit_token);
    ASSERT_EQ(str(ctx, "timestamp"), "2015-08-30T12:36:00Z");

    std::istringstream text(read_text(dir / "request.txt"));
    Signable_Request request = parse_request(text);
    const std::string body(std::istreambuf_iterator<char>(text), {});
    request.normalize_path = normalize;
    request.payload_hash = cloud::aws::sha256_hex(body.data(), body.size());
    request.headers.emplace_back("X-Amz-Date", amz);
    if (sign_body) request.headers.emplace_back("x-amz-content-sha256", request.payload_hash);
    if (!token.empty() && !omit_token) request.headers.emplace_back("X-Amz-Security-Token", token);
    const cloud::Credentials credentials(str(keys, "access_key_id").c_str(),
                                         str(keys, "secret_access_key").c_str(), nullptr, 0);
    const cloud::aws::Signature_V4 sig =
        cloud::aws::sign_v4(request, credentials, str(ctx, "region"), str(ctx, "service"), amz);
    std::string authorization = read_text(dir / "header-signed-request.txt");
    authorization = authorization.substr(authorization.find("\nAuthorization:") + 15);
    EXPECT_EQ(sig.canonical_request + "|" + sig.string_to_sign + "|" + sig.signature,
              read_text(dir / "header-canonical-request.txt") + "|" +
                  read_text(dir / "header-string-to-sign.txt") + "|" +
                  read_text(dir / "header-signature.txt"));
    EXPECT_EQ(sig.authorization, authorization.substr(0, authorization.find('\n')));
  }
  EXPECT_GE(cases, 30u);
  EXPECT_EQ(cloud::aws::amz_date(1440938160) + cloud::aws::amz_date(0),
            "20150830T123600Z19700101T000000Z");
}

// Everything but the unreserved characters is escaped and decodes back; malformed
// escapes are kept as they stand.
TEST(PercentEncoding, EncodesEverythingButUnreserved) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""}, {"abcXYZ019-._~", "abcXYZ019-._~"}, {"a b", "a%20b"}, {"a+b", "a%2Bb"},
      {"k=v&x=y", "k%3Dv%26x%3Dy"}, {"100%", "100%25"}, {"/path?q#f", "%2Fpath%3Fq%23f"},
      {"{\"k\": [1]}", "%7B%22k%22%3A%20%5B1%5D%7D"}, {"\xE4\xB8\xAD", "%E4%B8%AD"},
      {std::string("a\0b\n\r\t", 6), "a%00b%0A%0D%09"}, {"\xFF\x80", "%FF%80"}};
  for (const auto& c : cases) {
    EXPECT_EQ(cloud::percent_encode(c.first), c.second) << c.first;
    EXPECT_EQ(cloud::percent_decode(c.second), c.first) << c.second;
  }
  EXPECT_EQ(cloud::percent_encode("/a b/", true), "/a%20b/");
  for (const char* kept : {"%", "%4", "%zz", "a%2"}) EXPECT_EQ(cloud::percent_decode(kept), kept);
  EXPECT_EQ(cloud::percent_decode("%41%4a%4A"), "AJJ");
}

}  // namespace
