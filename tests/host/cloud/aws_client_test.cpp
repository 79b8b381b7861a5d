// The AWS client against a real HTTP server on loopback: what goes on the wire (form
// body, signature, headers), how each kind of answer is judged, transport failures,
// concurrent sends through one client, TLS verification, and the factory's refusals
// (its test hook serves every module test).
#include "cloud/aws_client.h"

#include "cloud/api_xml_response.h"
#include "cloud/aws_signer.h"
#include "support/log_capture.h"
#include "support/loopback_http.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <openssl/ssl.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using cloud::API_Response_Base;
using cloud::Credentials;
using cloud::aws::Client_Config;
using cloud::aws::SDK;

const char ACCESS_KEY[] = "AKIDLOOPBACK";
const char SECRET_KEY[] = "s3cr3t/K7MDENG+bPxRfiCYLOOPBACK";

enum class Mode { NORMAL, TRUNCATED, STALL, CLOSE, NOBODY };  // NOBODY: sent to a closed port
struct Reply {
  int status;
  std::string body;
  Mode mode = Mode::NORMAL;
};

// TLS on top of an accepted socket.
class Tls_Stream : public test::Http_Stream {
 public:
  Tls_Stream(int fd, SSL_CTX* tls) : fd_(fd), ssl_(SSL_new(tls)) { SSL_set_fd(ssl_, fd_); }
  ~Tls_Stream() override {
    SSL_shutdown(ssl_);
    SSL_free(ssl_);
    ::close(fd_);
  }
  long read(char* buffer, size_t size) override { return SSL_read(ssl_, buffer, static_cast<int>(size)); }
  bool write(const std::string& data) override {
    return SSL_write(ssl_, data.data(), static_cast<int>(data.size())) > 0;
  }
  int fd_;
  SSL* ssl_;
};

// Answers every request with `reply`, the way its mode says (over TLS with `tls`).
struct Server {
  explicit Server(Reply r, SSL_CTX* tls = nullptr)
      : reply(std::move(r)),
        http([this](const test::Http_Request&, test::Http_Stream& s) { answer(s); },
             tls == nullptr ? test::Loopback_Http_Server::Stream_Maker()
                            : [tls](int fd) -> std::unique_ptr<test::Http_Stream> {
               auto stream = std::make_unique<Tls_Stream>(fd, tls);
               return SSL_accept(stream->ssl_) > 0 ? std::move(stream) : nullptr;
             }) {}
  void answer(test::Http_Stream& stream) {
    if (reply.mode == Mode::CLOSE) return;
    const size_t extra = reply.mode == Mode::NORMAL ? 0 : 100;  // announced, never sent
    stream.write(test::Loopback_Http_Server::reply_text(reply.status, reply.body, reply.body.size() + extra));
    if (reply.mode == Mode::STALL) http.wait_for_stop(std::chrono::seconds(60));
  }
  const Reply reply;
  test::Loopback_Http_Server http;  // last: its threads end before the reply goes
};

// Keeps the names of the elements it was given.
class Recording_Response : public cloud::API_XML_Response {
 public:
  Recording_Response() : cloud::API_XML_Response("DescribeInstances") {}
  void startElement(const ACEXML_Char*, const ACEXML_Char* name, const ACEXML_Char*, ACEXML_Attributes*) override {
    elements.push_back(name);
  }
  std::vector<std::string> elements;
};

bool send(uint16_t port, Recording_Response& response, const Client_Config& config = Client_Config(),
          bool tls = false, const std::string& locale = "", const char* token = nullptr,
          cloud::aws::AWS_Request request = {"ec2", "2016-11-15", "DescribeInstances"}) {
  return SDK::make_client("127.0.0.1", port, tls, locale,
                          Credentials(ACCESS_KEY, SECRET_KEY, token, 0), config)
      ->send(request, response);
}

const char OK_XML[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<DescribeInstancesResponse xmlns=\"http://ec2.amazonaws.com/doc/2016-11-15/\">"
    "<requestId>r-1</requestId><reservationSet/></DescribeInstancesResponse>";

// Parameters go in order as a signed form; hostile texts cannot add fields. The request
// is signed for its region (or the default one), with the session token when there is one.
TEST(AwsClient, SendsSignedOrderedFormPost) {
  for (const char* locale : {"region-7", ""}) {
    SCOPED_TRACE(locale);
    Server server({200, OK_XML});
    const char* token = *locale ? nullptr : "tok/en+1";
    cloud::aws::AWS_Request request("ec2", "2016-11-15", "DescribeInstances");
    request.set_parameter("Filter.1.Value.1", "i-1 & Action=Terminate");
    request.set_parameter(std::string("Description"), std::string("{\"k\": \"\xE4\xB8\xAD\"}"));
    Recording_Response response;
    ASSERT_TRUE(send(server.http.port(), response, Client_Config(), false, locale, token, request));
    EXPECT_EQ(response.outcome(), API_Response_Base::OUTCOME_OK);
    EXPECT_EQ(response.elements, (std::vector<std::string>{"DescribeInstancesResponse", "requestId", "reservationSet"}));
    const test::Http_Request r = server.http.requests().at(0);
    EXPECT_EQ(r.method + " " + r.target + " " + r.body,
              "POST / Action=DescribeInstances&Version=2016-11-15"
              "&Filter.1.Value.1=i-1%20%26%20Action%3DTerminate"
              "&Description=%7B%22k%22%3A%20%22%E4%B8%AD%22%7D");
    EXPECT_EQ(r.header("content-type"), "application/x-www-form-urlencoded; charset=utf-8");
    EXPECT_EQ(r.header("x-amz-security-token"), token ? token : "");
    // The signature itself is checked by the signer's suite and the simulator.
    const std::string date = r.header("x-amz-date");
    const std::string region = *locale ? locale : cloud::aws::DEFAULT_REGION;
    EXPECT_NE(r.header("authorization").find("Credential=AKIDLOOPBACK/" + date.substr(0, 8) + "/" + region + "/ec2/"),
              std::string::npos);
  }
}

// Each kind of answer and transport failure gets its outcome; nothing secret is logged.
TEST(AwsClient, JudgesEachKindOfAnswer) {
  Client_Config slow, capped;
  slow.low_speed_bytes = 1 << 20;  // a stalled body is far below this rate
  slow.low_speed_seconds = 1;
  capped.max_response_bytes = 50000;
  using R = API_Response_Base;
  // `said`: the cloud's message for the parser, or what the log says.
  const struct { const char* name; Reply reply; Client_Config config; R::Outcome outcome; const char* said; } cases[] = {
      {"xml", {200, OK_XML}, {}, R::OUTCOME_OK, ""},
      {"error document",
       {400, "<Response><Errors><Error><Code>InvalidParameterValue</Code><Message>Value (i-x) is "
             "invalid</Message></Error></Errors></Response>"},
       {}, R::OUTCOME_HTTP_ERROR, "Value (i-x) is invalid"},
      {"not xml", {200, "hello"}, {}, R::OUTCOME_BAD_DOCUMENT, ""},
      {"truncated", {200, "<DescribeInstancesResponse><requestId>", Mode::TRUNCATED}, {}, R::OUTCOME_TRANSPORT_FAILED, ""},
      {"closed without answer", {200, "", Mode::CLOSE}, {}, R::OUTCOME_TRANSPORT_FAILED, ""},
      {"stalled body", {200, "<DescribeInstancesResponse>", Mode::STALL}, slow, R::OUTCOME_TRANSPORT_FAILED,
       "Cloud request DescribeInstances"},
      {"above the cap", {200, "<DescribeInstancesResponse>" + std::string(100000, ' ') + "</DescribeInstancesResponse>"},
       capped, R::OUTCOME_TRANSPORT_FAILED, "larger than the limit"},
      {"nobody listening", {0, "", Mode::NOBODY}, {}, R::OUTCOME_TRANSPORT_FAILED, "Cloud request DescribeInstances"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Server server(c.reply);
    Recording_Response response;
    test::Log_Capture log;
    const bool nobody = c.reply.mode == Mode::NOBODY;
    EXPECT_EQ(send(nobody ? test::Loopback_Http_Server::closed_port() : server.http.port(), response, c.config),
              c.outcome == R::OUTCOME_OK);
    EXPECT_EQ(response.outcome(), c.outcome);
    if (c.outcome == R::OUTCOME_HTTP_ERROR) {
      EXPECT_EQ(response.error_message() + " " + response.error_code(), std::string(c.said) + " InvalidParameterValue");
    } else if (c.outcome == R::OUTCOME_TRANSPORT_FAILED) {
      EXPECT_TRUE(response.elements.empty());
      EXPECT_TRUE(log.contains(c.said, LM_ERROR)) << log.text();
    }
    EXPECT_EQ(server.http.requests().size(), nobody ? 0u : 1u);
    EXPECT_TRUE(!nobody || response.http_status() == 0);
    EXPECT_EQ(log.text().find(SECRET_KEY), std::string::npos);
    EXPECT_EQ(log.text().find("AWS4-HMAC"), std::string::npos);
  }
}

TEST(AwsClient, OneClientServesSeveralThreads) {
  Server server({200, OK_XML});
  auto client = SDK::make_client("127.0.0.1", server.http.port(), false, "",
                                 Credentials(ACCESS_KEY, SECRET_KEY, nullptr, 0), Client_Config());
  std::atomic<int> succeeded{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 5; ++i) {
        cloud::aws::AWS_Request request("ec2", "2016-11-15", "DescribeInstances");
        request.set_parameter("InstanceId.1", ("i-" + std::to_string(t) + "-" + std::to_string(i)).c_str());
        Recording_Response response;
        succeeded += client->send(request, response);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(succeeded.load(), 40);
  std::set<std::string> bodies;
  for (const auto& r : server.http.requests()) bodies.insert(r.body);
  EXPECT_EQ(bodies.size(), 40u);
}

// A self-signed certificate for 127.0.0.1 (tests/data/loopback-tls) is refused unless its
// CA file is given.
TEST(AwsClient, TlsPeerIsVerified) {
  const char* root = std::getenv("QUILLON3_SOURCE_DIR");
  const std::string here = __FILE__;  // <root>/tests/host/cloud/aws_client_test.cpp
  const std::string dir = (root != nullptr && *root != '\0' ? std::string(root) + "/tests"
                                                             : here.substr(0, here.rfind("/host/cloud/"))) +
                          "/data/loopback-tls/";
  const std::unique_ptr<SSL_CTX, void (*)(SSL_CTX*)> ctx(SSL_CTX_new(TLS_server_method()), SSL_CTX_free);
  ASSERT_EQ(SSL_CTX_use_certificate_file(ctx.get(), (dir + "cert.pem").c_str(), SSL_FILETYPE_PEM) +
                SSL_CTX_use_PrivateKey_file(ctx.get(), (dir + "key.pem").c_str(), SSL_FILETYPE_PEM),
            2);
  Server server({200, OK_XML}, ctx.get());
  Client_Config trusted;
  trusted.ca_file = dir + "cert.pem";
  Recording_Response refused, accepted;
  test::Log_Capture log;
  EXPECT_FALSE(send(server.http.port(), refused, Client_Config(), true));
  EXPECT_TRUE(send(server.http.port(), accepted, trusted, true));
  EXPECT_EQ(log.text().find(SECRET_KEY), std::string::npos);
}

TEST(AwsSdk, MakeClientRefusesUnusableAccounts) {
  const std::tuple<std::string, uint16_t, const char*, const char*, bool> cases[] = {
      {"10.0.0.5", 8773, "AK", "SK", true}, {"cloud.example", 443, "AK", "SK", true}, {"::1", 80, "AK", "SK", true},
      {"[::1]", 80, "AK", "SK", true}, {"", 8773, "AK", "SK", false}, {"10.0.0.5", 0, "AK", "SK", false},
      {"a host", 80, "AK", "SK", false}, {"evil/path", 80, "AK", "SK", false}, {"user@host", 80, "AK", "SK", false},
      {"host?x", 80, "AK", "SK", false}, {"[::1", 80, "AK", "SK", false}, {"10.0.0.5", 8773, "", "SK", false},
      {"10.0.0.5", 8773, "AK", nullptr, false}};
  for (const auto& [host, port, access_key, secret_key, ok] : cases)
    EXPECT_EQ(SDK::make_client(host, port, false, "r", Credentials(access_key, secret_key, nullptr, 0)) != nullptr, ok)
        << host << ":" << port;
}

}  // namespace
