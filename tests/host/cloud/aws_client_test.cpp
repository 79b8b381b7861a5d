// The AWS client against a real HTTP server on loopback: what goes on the wire (form
// body, signature, headers), how each kind of answer is judged, transport failures,
// concurrent sends through one client, TLS verification, and the factory with its hook.
#include "cloud/aws_client.h"

#include "cloud/api_xml_response.h"
#include "cloud/aws_signer.h"
#include "cloud/percent_encoding.h"
#include "support/log_capture.h"
#include "support/loopback_http.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
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

// ---- the server: the shared loopback server, plain or TLS ------------------------------------

using Received = test::Http_Request;

enum class Reply_Mode { NORMAL, TRUNCATED, STALL, CLOSE };

struct Reply {
  int status = 200;
  std::string body;
  Reply_Mode mode = Reply_Mode::NORMAL;
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
  bool handshake() { return SSL_accept(ssl_) > 0; }
  long read(char* buffer, size_t size) override {
    return SSL_read(ssl_, buffer, static_cast<int>(size));
  }
  bool write(const std::string& data) override {
    return SSL_write(ssl_, data.data(), static_cast<int>(data.size())) > 0;
  }

 private:
  int fd_;
  SSL* ssl_;
};

test::Loopback_Http_Server::Stream_Maker tls_streams(SSL_CTX* tls) {
  if (tls == nullptr) return nullptr;
  return [tls](int fd) -> std::unique_ptr<test::Http_Stream> {
    auto stream = std::make_unique<Tls_Stream>(fd, tls);
    if (!stream->handshake()) return nullptr;
    return stream;
  };
}

// Answers every request with the reply set last, the way its mode says.
class Loopback_Server {
 public:
  explicit Loopback_Server(SSL_CTX* tls = nullptr)
      : http_([this](const Received&, test::Http_Stream& stream) { answer(stream); },
              tls_streams(tls)) {}

  uint16_t port() const { return http_.port(); }

  void set_reply(Reply reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    reply_ = std::move(reply);
  }

  std::vector<Received> received() const { return http_.requests(); }

 private:
  void answer(test::Http_Stream& stream) {
    Reply reply;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      reply = reply_;
    }
    if (reply.mode == Reply_Mode::CLOSE) return;
    const size_t announced =
        reply.mode == Reply_Mode::NORMAL ? reply.body.size() : reply.body.size() + 100;
    stream.write(test::Loopback_Http_Server::reply_text(reply.status, reply.body, announced));
    // Keeps the connection open, sending nothing, until the server stops (the client
    // gives up long before).
    if (reply.mode == Reply_Mode::STALL) http_.wait_for_stop(std::chrono::seconds(60));
  }

  std::mutex mutex_;
  Reply reply_;
  test::Loopback_Http_Server http_;  // last: its threads end before the reply goes
};

// ---- a parser that keeps what it was given ------------------------------------------------

class Recording_Response : public cloud::API_XML_Response {
 public:
  explicit Recording_Response(const char* action = "DescribeInstances")
      : cloud::API_XML_Response(action) {}
  void startElement(const ACEXML_Char*, const ACEXML_Char* local_name, const ACEXML_Char*,
                    ACEXML_Attributes*) override {
    elements.push_back(local_name);
    if (std::string(local_name) == "Message") in_message_ = true;
  }
  void characters(const ACEXML_Char* ch, size_t start, size_t length) override {
    if (in_message_) message.assign(ch + start, length);
  }
  void endElement(const ACEXML_Char*, const ACEXML_Char*, const ACEXML_Char*) override {
    in_message_ = false;
  }
  std::vector<std::string> elements;
  std::string message;

 private:
  bool in_message_ = false;
};

std::unique_ptr<cloud::API_Client> client_for(uint16_t port, const std::string& locale = "",
                                              Client_Config config = Client_Config()) {
  return SDK::make_client("127.0.0.1", port, false, locale,
                          Credentials(ACCESS_KEY, SECRET_KEY, nullptr, 0), config);
}

const char OK_XML[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<DescribeInstancesResponse xmlns=\"http://ec2.amazonaws.com/doc/2016-11-15/\">"
    "<requestId>r-1</requestId><reservationSet/></DescribeInstancesResponse>";
const char ERROR_XML[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<Response><Errors><Error><Code>InvalidParameterValue</Code>"
    "<Message>Value (i-x) for parameter instanceId is invalid</Message></Error></Errors>"
    "<RequestID>r-2</RequestID></Response>";

// ---- wire format ----------------------------------------------------------------------------

TEST(AwsClient, SendsSignedOrderedFormPost) {
  Loopback_Server server;
  server.set_reply({200, OK_XML});
  auto client = client_for(server.port(), "region-7");
  ASSERT_NE(client, nullptr);

  cloud::aws::AWS_Request request("ec2", "2016-11-15", "DescribeInstances");
  request.set_parameter("Filter.1.Name", "instance-id");
  request.set_parameter("Filter.1.Value.1", "i-1 & Action=Terminate");
  request.set_parameter(std::string("Description"), std::string("{\"k\": \"\xE4\xB8\xAD\"}"));
  Recording_Response response;
  ASSERT_TRUE(client->send(request, response));
  EXPECT_EQ(response.outcome(), API_Response_Base::OUTCOME_OK);
  EXPECT_EQ(response.http_status(), 200);
  EXPECT_EQ(response.elements,
            (std::vector<std::string>{"DescribeInstancesResponse", "requestId", "reservationSet"}));

  const auto received = server.received();
  ASSERT_EQ(received.size(), 1u);
  const Received& r = received[0];
  EXPECT_EQ(r.method, "POST");
  EXPECT_EQ(r.target, "/");
  EXPECT_EQ(r.body,
            "Action=DescribeInstances&Version=2016-11-15&Filter.1.Name=instance-id"
            "&Filter.1.Value.1=i-1%20%26%20Action%3DTerminate"
            "&Description=%7B%22k%22%3A%20%22%E4%B8%AD%22%7D");
  EXPECT_EQ(r.header("content-type"), "application/x-www-form-urlencoded; charset=utf-8");
  EXPECT_EQ(r.header("host"), "127.0.0.1:" + std::to_string(server.port()));

  // The server's view: recompute the signature from what arrived.
  const std::string auth = r.header("authorization");
  const std::string date = r.header("x-amz-date");
  ASSERT_EQ(date.size(), 16u);
  EXPECT_NE(
      auth.find("Credential=AKIDLOOPBACK/" + date.substr(0, 8) + "/region-7/ec2/aws4_request"),
      std::string::npos)
      << auth;
  cloud::aws::Signable_Request signable;
  signable.method = r.method;
  signable.headers = {
      {"content-type", r.header("content-type")}, {"host", r.header("host")}, {"x-amz-date", date}};
  signable.payload_hash = cloud::aws::sha256_hex(r.body.data(), r.body.size());
  const auto expected = cloud::aws::sign_v4(
      signable, Credentials(ACCESS_KEY, SECRET_KEY, nullptr, 0), "region-7", "ec2", date);
  EXPECT_EQ(auth, expected.authorization);
}

TEST(AwsClient, EmptyLocaleSignsForDefaultRegionAndTokenIsSigned) {
  Loopback_Server server;
  server.set_reply({200, OK_XML});
  auto client =
      SDK::make_client("127.0.0.1", server.port(), false, "",
                       Credentials(ACCESS_KEY, SECRET_KEY, "tok/en+1", 0), Client_Config());
  cloud::aws::AWS_Request request("ec2", "2016-11-15", "DescribeInstances");
  Recording_Response response;
  ASSERT_TRUE(client->send(request, response));
  const Received r = server.received().at(0);
  EXPECT_EQ(r.body, "Action=DescribeInstances&Version=2016-11-15");
  EXPECT_NE(r.header("authorization").find(std::string("/") + cloud::aws::DEFAULT_REGION + "/ec2/"),
            std::string::npos);
  EXPECT_NE(r.header("authorization")
                .find("SignedHeaders=content-type;host;x-amz-date;"
                      "x-amz-security-token,"),
            std::string::npos);
  EXPECT_EQ(r.header("x-amz-security-token"), "tok/en+1");
}

// ---- answers --------------------------------------------------------------------------------

TEST(AwsClient, JudgesEachKindOfAnswer) {
  struct Answer_Case {
    const char* name;
    Reply reply;
    bool result;
    API_Response_Base::Outcome outcome;
    std::string message;  // what the parser saw of the cloud's text
  } cases[] = {
      {"xml", {200, OK_XML}, true, API_Response_Base::OUTCOME_OK, ""},
      {"error document",
       {400, ERROR_XML},
       false,
       API_Response_Base::OUTCOME_HTTP_ERROR,
       "Value (i-x) for parameter instanceId is invalid"},
      {"not xml", {200, "hello"}, false, API_Response_Base::OUTCOME_BAD_DOCUMENT, ""},
      {"truncated",
       {200, "<DescribeInstancesResponse><requestId>", Reply_Mode::TRUNCATED},
       false,
       API_Response_Base::OUTCOME_TRANSPORT_FAILED,
       ""},
      {"closed without answer",
       {200, "", Reply_Mode::CLOSE},
       false,
       API_Response_Base::OUTCOME_TRANSPORT_FAILED,
       ""},
  };
  for (const auto& c : cases) {
    Loopback_Server server;
    server.set_reply(c.reply);
    auto client = client_for(server.port());
    cloud::aws::AWS_Request request("ec2", "2016-11-15", "DescribeInstances");
    Recording_Response response;
    test::Log_Capture log;
    EXPECT_EQ(client->send(request, response), c.result) << c.name;
    EXPECT_EQ(response.outcome(), c.outcome) << c.name;
    EXPECT_EQ(response.message, c.message) << c.name;
    if (!c.message.empty()) {
      EXPECT_EQ(response.error_code(), "InvalidParameterValue") << c.name;
    }
    EXPECT_EQ(server.received().size(), 1u) << c.name;
    EXPECT_EQ(log.text().find(SECRET_KEY), std::string::npos) << c.name;
    EXPECT_EQ(log.text().find("AWS4-HMAC"), std::string::npos) << c.name;
  }
}

TEST(AwsClient, SlowBodyTimesOut) {
  Loopback_Server server;
  server.set_reply({200, "<DescribeInstancesResponse>", Reply_Mode::STALL});
  Client_Config config;
  config.low_speed_bytes = 1 << 20;  // a stalled body is far below this rate
  config.low_speed_seconds = 1;
  auto client = client_for(server.port(), "", config);
  cloud::aws::AWS_Request request("ec2", "2016-11-15", "DescribeInstances");
  Recording_Response response;
  test::Log_Capture log;
  EXPECT_FALSE(client->send(request, response));
  EXPECT_EQ(response.outcome(), API_Response_Base::OUTCOME_TRANSPORT_FAILED);
  EXPECT_TRUE(response.elements.empty());
  EXPECT_TRUE(log.contains("Cloud request DescribeInstances", LM_ERROR));
}

TEST(AwsClient, AnswerAboveTheCapFails) {
  Loopback_Server server;
  std::string big =
      "<DescribeInstancesResponse>" + std::string(100000, ' ') + "</DescribeInstancesResponse>";
  server.set_reply({200, big});
  Client_Config config;
  config.max_response_bytes = 50000;
  auto client = client_for(server.port(), "", config);
  cloud::aws::AWS_Request request("ec2", "2016-11-15", "DescribeInstances");
  Recording_Response response;
  test::Log_Capture log;
  EXPECT_FALSE(client->send(request, response));
  EXPECT_EQ(response.outcome(), API_Response_Base::OUTCOME_TRANSPORT_FAILED);
  EXPECT_TRUE(response.elements.empty());
  EXPECT_TRUE(log.contains("larger than the limit", LM_ERROR));
}

TEST(AwsClient, RefusedConnectionFails) {
  // A port that was just bound and released: nothing listens there.
  const uint16_t port = test::Loopback_Http_Server::closed_port();
  ASSERT_NE(port, 0);

  auto client = client_for(port);
  cloud::aws::AWS_Request request("ec2", "2016-11-15", "GetCloudVersion");
  Recording_Response response("GetCloudVersion");
  test::Log_Capture log;
  EXPECT_FALSE(client->send(request, response));
  EXPECT_EQ(response.outcome(), API_Response_Base::OUTCOME_TRANSPORT_FAILED);
  EXPECT_EQ(response.http_status(), 0);
  EXPECT_TRUE(log.contains("Cloud request GetCloudVersion", LM_ERROR));
  EXPECT_EQ(log.text().find(SECRET_KEY), std::string::npos);
}

TEST(AwsClient, OneClientServesSeveralThreads) {
  Loopback_Server server;
  server.set_reply({200, OK_XML});
  auto client = client_for(server.port());
  const int THREADS = 8, PER_THREAD = 5;
  std::atomic<int> succeeded{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < THREADS; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < PER_THREAD; ++i) {
        cloud::aws::AWS_Request request("ec2", "2016-11-15", "DescribeInstances");
        request.set_parameter("InstanceId.1",
                              ("i-" + std::to_string(t) + "-" + std::to_string(i)).c_str());
        Recording_Response response;
        if (client->send(request, response)) ++succeeded;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(succeeded.load(), THREADS * PER_THREAD);
  std::map<std::string, int> bodies;
  for (const auto& r : server.received()) ++bodies[r.body];
  EXPECT_EQ(bodies.size(), static_cast<size_t>(THREADS * PER_THREAD));
}

// ---- TLS ----------------------------------------------------------------------------------

// A self-signed certificate for 127.0.0.1 and a server context that uses it.
struct Tls_Fixture {
  Tls_Fixture() {
    EVP_PKEY* key = EVP_RSA_gen(2048);
    X509* cert = X509_new();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), -60);
    X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
    X509_set_issuer_name(cert, name);
    X509V3_CTX v3;
    X509V3_set_ctx(&v3, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION* san = X509V3_EXT_conf_nid(nullptr, &v3, NID_subject_alt_name, "IP:127.0.0.1");
    X509_add_ext(cert, san, -1);
    X509_EXTENSION_free(san);
    X509_sign(cert, key, EVP_sha256());

    ctx = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate(ctx, cert);
    SSL_CTX_use_PrivateKey(ctx, key);

    char path[] = "/tmp/cloud_tls_ca_XXXXXX";
    int fd = ::mkstemp(path);
    FILE* f = ::fdopen(fd, "w");
    PEM_write_X509(f, cert);
    std::fclose(f);
    ca_file = path;
    X509_free(cert);
    EVP_PKEY_free(key);
  }
  ~Tls_Fixture() {
    SSL_CTX_free(ctx);
    std::remove(ca_file.c_str());
  }
  SSL_CTX* ctx = nullptr;
  std::string ca_file;
};

TEST(AwsClient, TlsPeerIsVerified) {
  Tls_Fixture tls;
  Loopback_Server server(tls.ctx);
  server.set_reply({200, OK_XML});
  auto send_with = [&](const Client_Config& config) {
    auto client = SDK::make_client("127.0.0.1", server.port(), true, "",
                                   Credentials(ACCESS_KEY, SECRET_KEY, nullptr, 0), config);
    cloud::aws::AWS_Request request("ec2", "2016-11-15", "DescribeInstances");
    Recording_Response response;
    return client->send(request, response);
  };
  test::Log_Capture log;
  EXPECT_FALSE(send_with(Client_Config()));  // self-signed: refused by default
  Client_Config trusted;
  trusted.ca_file = tls.ca_file;
  EXPECT_TRUE(send_with(trusted));
  EXPECT_EQ(log.text().find(SECRET_KEY), std::string::npos);
}

// ---- factory ------------------------------------------------------------------------------

TEST(AwsSdk, MakeClientRefusesUnusableAccounts) {
  struct Make_Case {
    std::string host;
    uint16_t port;
    const char* access;
    const char* secret;
    bool made;
  } cases[] = {
      {"10.0.0.5", 8773, "AK", "SK", true},
      {"cloud.example", 443, "AK", "SK", true},
      {"::1", 80, "AK", "SK", true},
      {"[::1]", 80, "AK", "SK", true},
      {"", 8773, "AK", "SK", false},
      {"10.0.0.5", 0, "AK", "SK", false},
      {"a host", 80, "AK", "SK", false},
      {"evil/path", 80, "AK", "SK", false},
      {"user@host", 80, "AK", "SK", false},
      {"host?x", 80, "AK", "SK", false},
      {"[::1", 80, "AK", "SK", false},
      {"10.0.0.5", 8773, "", "SK", false},
      {"10.0.0.5", 8773, "AK", nullptr, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(SDK::make_client(c.host, c.port, false, "r",
                               Credentials(c.access, c.secret, nullptr, 0)) != nullptr,
              c.made)
        << c.host << ":" << c.port;
}

TEST(AwsSdk, HookReplacesFactoryUntilGuardEnds) {
  struct Fake : cloud::API_Client {
    bool send(const cloud::API_Request_Base&, API_Response_Base& rsp) override {
      return cloud::deliver_answer(rsp, 200, "<GetCloudVersionResponse/>");
    }
  };
  std::string seen;
  {
    SDK::Hook_Guard guard([&](const std::string& host, uint16_t port, bool ssl,
                              const std::string& locale, const Credentials& credentials) {
      seen = host + ":" + std::to_string(port) + ":" + (ssl ? "tls" : "plain") + ":" + locale +
             ":" + credentials.access_key().c_str();
      return std::unique_ptr<cloud::API_Client>(new Fake);
    });
    auto client = SDK::make_client("", 0, true, "loc", Credentials("AK", "SK", nullptr, 0));
    ASSERT_NE(client, nullptr);
    cloud::aws::AWS_Request request("ec2", "2016-11-15", "GetCloudVersion");
    Recording_Response response("GetCloudVersion");
    EXPECT_TRUE(client->send(request, response));
    EXPECT_EQ(response.elements, std::vector<std::string>{"GetCloudVersionResponse"});
  }
  EXPECT_EQ(seen, ":0:tls:loc:AK");
  EXPECT_EQ(SDK::make_client("", 0, true, "loc", Credentials("AK", "SK", nullptr, 0)), nullptr);
}

}  // namespace
