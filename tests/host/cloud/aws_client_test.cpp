// The AWS client against a real HTTP server on loopback: what goes on the wire (form
// body, signature, headers), transport failures, TLS verification, and the factory's
// refusals (its test hook serves every module test). Concurrent sends through one
// client are driven by the cloud RESTful client's tests.
#include "cloud/aws_client.h"

#include "cloud/api_xml_response.h"
#include "cloud/aws_signer.h"
#include "support/log_capture.h"
#include "support/loopback_http.h"
#include "support/test_data.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <openssl/ssl.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using namespace std::literals;
using cloud::API_Response_Base;
using cloud::Credentials;
using cloud::aws::Client_Config;
using cloud::aws::SDK;

const char ACCESS_KEY[] = "AKIDLOOPBACK";
const char SECRET_KEY[] = "s3cr3t/K7MDENG+bPxRfiCYLOOPBACK";

// NOBODY: the request goes to a closed port. DRIP: the body goes `piece` bytes at a
// time, one piece every `interval`.
enum class Mode { NORMAL, TRUNCATED, STALL, CLOSE, NOBODY, DRIP };
struct Reply {
  // A constructor, not an aggregate: in a table of aggregate rows the optimiser takes
  // their strings for uninitialised (a false alarm, an error where warnings are errors).
  Reply(int status, std::string body, Mode mode = Mode::NORMAL, size_t piece = 0,
        std::chrono::milliseconds interval = {})
      : status(status), body(std::move(body)), mode(mode), piece(piece), interval(interval) {}
  int status;
  std::string body;
  Mode mode;
  size_t piece;
  std::chrono::milliseconds interval;
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
  long read(char* buffer, size_t size) override {
    return SSL_read(ssl_, buffer, static_cast<int>(size));
  }
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
    if (reply.mode == Mode::DRIP) return drip(stream);
    const size_t extra = reply.mode == Mode::NORMAL ? 0 : 100;  // announced, never sent
    const long length = reply.body.size() + extra;
    stream.write(test::Loopback_Http_Server::reply_text(reply.status, reply.body, length));
    if (reply.mode == Mode::STALL) http.wait_for_stop(std::chrono::seconds(60));
  }
  // Ends when the client hangs up.
  void drip(test::Http_Stream& stream) {
    bool open = stream.write(test::Loopback_Http_Server::reply_text(reply.status, ""s,
                                                                   long(reply.body.size())));
    for (size_t done = 0; open && done < reply.body.size(); done += reply.piece) {
      std::this_thread::sleep_for(reply.interval);
      open = stream.write(reply.body.substr(done, reply.piece));
    }
  }
  const Reply reply;
  test::Loopback_Http_Server http;  // last: its threads end before the reply goes
};

// Keeps the names of the elements it was given.
class Recording_Response : public cloud::API_XML_Response {
 public:
  Recording_Response() : cloud::API_XML_Response("DescribeInstances") {}
  void startElement(const ACEXML_Char*, const ACEXML_Char* name, const ACEXML_Char*,
                    ACEXML_Attributes*) override {
    elements.push_back(name);
  }
  std::vector<std::string> elements;
};

std::unique_ptr<cloud::API_Client> client(uint16_t port, const Client_Config& config = {},
                                          bool tls = false, const std::string& locale = "") {
  return SDK::make_client("127.0.0.1", port, tls, locale,
                          Credentials(ACCESS_KEY, SECRET_KEY, nullptr, 0), config);
}

cloud::aws::AWS_Request describe() { return {"ec2", "2016-11-15", "DescribeInstances"}; }

const char OK_XML[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<DescribeInstancesResponse xmlns=\"http://ec2.amazonaws.com/doc/2016-11-15/\">"
    "<requestId>r-1</requestId><reservationSet/></DescribeInstancesResponse>";

// Parameters go in order as a signed form; hostile texts cannot add fields. The request
// is signed for its region (or the default one).
TEST(AwsClient, SendsSignedOrderedFormPost) {
  for (const char* locale : {"region-7", ""}) {
    SCOPED_TRACE(locale);
    Server server({200, OK_XML});
    cloud::aws::AWS_Request request = describe();
    request.set_parameter("Filter.1.Value.1", "i-1 & Action=Terminate");
    Recording_Response response;
    ASSERT_TRUE(client(server.http.port(), {}, false, locale)->send(request, response));
    EXPECT_EQ(response.elements.size(), 3u);
    const test::Http_Request r = server.http.requests().at(0);
    EXPECT_EQ(r.method + " " + r.target + " " + r.body,
              "POST / Action=DescribeInstances&Version=2016-11-15"
              "&Filter.1.Value.1=i-1%20%26%20Action%3DTerminate");
    EXPECT_EQ(r.header("content-type"), "application/x-www-form-urlencoded; charset=utf-8");
    // The signature itself is checked by the signer's suite and the simulator.
    const std::string day = r.header("x-amz-date").substr(0, 8);
    const std::string region = *locale ? locale : cloud::aws::DEFAULT_REGION;
    const std::string scope = "Credential=AKIDLOOPBACK/" + day + "/" + region + "/ec2/";
    EXPECT_NE(r.header("authorization").find(scope), std::string::npos);
  }
}

// Each transport failure fails the send (the answers themselves are judged by
// deliver_answer) with nothing half parsed, saying why; nothing secret is logged.
TEST(AwsClient, TransportFailuresFailTheSend) {
  Client_Config slow, capped;
  slow.low_speed_seconds = 1;       // production: 60 s
  slow.total_timeout_seconds = 10;  // an answer the watch lets through fails in 10 s, not 60
  capped.max_response_bytes = 50000;
  const std::string open = "<DescribeInstancesResponse>";
  const std::string large = open + std::string(100000, ' ') + "</DescribeInstancesResponse>";
  // 20 bytes a second; were it not cut, it would be read after about 5 s.
  const Reply trickle = {200, open + std::string(40, ' ') + "</DescribeInstancesResponse>",
                         Mode::DRIP, 1, 50ms};
  // `failure`: how the failure() and the log start.
  const struct { const char* name; Reply reply; Client_Config config; const char* failure; }
      cases[] = {
          {"truncated", {200, open + "<requestId>", Mode::TRUNCATED}, {},
           "the cloud's answer broke off: "},
          {"closed without answer", {200, "", Mode::CLOSE}, {}, "the cloud could not be reached"},
          {"stalled body", {200, open, Mode::STALL}, slow,
           "the cloud's answer made no real progress (less than 1024 bytes in 1 s)"},
          {"trickled body", trickle, slow, "the cloud's answer made no real progress"},
          {"body that starts well, then stalls", {200, open + std::string(4096, ' '), Mode::STALL},
           slow, "the cloud's answer made no real progress (less than 1024 bytes in 1 s)"},
          {"above the cap", {200, large}, capped,
           "the cloud's answer was larger than the limit of 50000 bytes"},
          {"nobody listening", {0, "", Mode::NOBODY}, {}, "the cloud could not be reached: "}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Server server(c.reply);
    Recording_Response response;
    test::Log_Capture log;
    const bool nobody = c.reply.mode == Mode::NOBODY;
    const uint16_t port = nobody ? test::Loopback_Http_Server::closed_port() : server.http.port();
    EXPECT_FALSE(client(port, c.config)->send(describe(), response));
    EXPECT_EQ(response.outcome(), API_Response_Base::OUTCOME_TRANSPORT_FAILED);
    EXPECT_EQ(response.failure().rfind(c.failure, 0), 0u) << response.failure();
    EXPECT_TRUE(log.contains("Cloud request DescribeInstances to http://127.0.0.1:" +
                                 std::to_string(port) + "/ failed: " + response.failure() + ".\n",
                             LM_ERROR)) << log.text();
    // The system's own text of the error number.
    EXPECT_TRUE(!nobody || log.contains("(Connection refused)")) << log.text();
    EXPECT_TRUE(response.elements.empty());
    EXPECT_EQ(server.http.requests().size(), nobody ? 0u : 1u);
    EXPECT_TRUE(!nobody || response.http_status() == 0);
    EXPECT_EQ(log.text().find(SECRET_KEY), std::string::npos);
    EXPECT_EQ(log.text().find("AWS4-HMAC"), std::string::npos);
  }
}

// An answer that comes slowly but steadily (2 KiB every quarter second against a window
// of a second) is read to its end.
TEST(AwsClient, SlowButSteadyAnswerIsRead) {
  Client_Config slow;
  slow.low_speed_seconds = 1;
  std::string items;
  for (int i = 0; i < 500; ++i) items += "<item>i-" + std::to_string(i) + "</item>";
  const std::string body = "<DescribeInstancesResponse>" + items + "</DescribeInstancesResponse>";
  Server server({200, body, Mode::DRIP, 2048, 250ms});
  Recording_Response response;
  ASSERT_GT(body.size(), 4u * 2048);  // longer than the window
  EXPECT_TRUE(client(server.http.port(), slow)->send(describe(), response)) << response.failure();
  EXPECT_EQ(response.elements.size(), 501u);
  EXPECT_EQ(response.failure(), "");
}

// A self-signed certificate for 127.0.0.1 (tests/data/loopback-tls) is refused unless its
// CA file is given.
TEST(AwsClient, TlsPeerIsVerified) {
  const std::string dir = test::data_dir() + "/loopback-tls/";
  const std::unique_ptr<SSL_CTX, void (*)(SSL_CTX*)> ctx(SSL_CTX_new(TLS_server_method()),
                                                         SSL_CTX_free);
  const std::string cert = dir + "cert.pem", key = dir + "key.pem";
  ASSERT_EQ(SSL_CTX_use_certificate_file(ctx.get(), cert.c_str(), SSL_FILETYPE_PEM), 1);
  ASSERT_EQ(SSL_CTX_use_PrivateKey_file(ctx.get(), key.c_str(), SSL_FILETYPE_PEM), 1);
  Server server({200, OK_XML}, ctx.get());
  Client_Config trusted;
  trusted.ca_file = cert;
  Recording_Response refused, accepted;
  test::Log_Capture log;
  EXPECT_FALSE(client(server.http.port(), {}, true)->send(describe(), refused));
  EXPECT_TRUE(client(server.http.port(), trusted, true)->send(describe(), accepted));
  EXPECT_EQ(log.text().find(SECRET_KEY), std::string::npos);
}

TEST(AwsSdk, MakeClientRefusesUnusableAccounts) {
  const std::tuple<std::string, uint16_t, bool> cases[] = {
      {"cloud.example", 443, true}, {"[::1]", 80, true}, {"", 8773, false},
      {"10.0.0.5", 0, false}, {"evil/path", 80, false}, {"user@host", 80, false},
      {"[::1", 80, false}};
  const Credentials keys("AK", "SK", nullptr, 0);
  for (const auto& [host, port, ok] : cases)
    EXPECT_EQ(SDK::make_client(host, port, false, "r", keys) != nullptr, ok) << host;
  for (const char* access_key : {"", "AK"}) {
    const Credentials bad(access_key, *access_key ? nullptr : "SK", nullptr, 0);
    EXPECT_FALSE(SDK::make_client("10.0.0.5", 8773, false, "r", bad)) << access_key;
  }
}

}  // namespace
