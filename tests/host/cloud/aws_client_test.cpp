// The AWS client against a real HTTP server on loopback: what goes on the wire (form
// body, signature, headers), how each kind of answer is judged, transport failures,
// concurrent sends through one client, TLS verification, and the factory with its hook.
#include "cloud/aws_client.h"

#include "cloud/api_xml_response.h"
#include "cloud/aws_signer.h"
#include "cloud/percent_encoding.h"
#include "support/log_capture.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
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

// ---- a small HTTP server on 127.0.0.1 ----------------------------------------------------

struct Received {
  std::string method, target, body;
  std::vector<std::pair<std::string, std::string>> headers;  // names lower-case

  std::string header(const std::string& name) const {
    for (const auto& h : headers)
      if (h.first == name) return h.second;
    return std::string();
  }
};

enum class Reply_Mode { NORMAL, TRUNCATED, STALL, CLOSE };

struct Reply {
  int status = 200;
  std::string body;
  Reply_Mode mode = Reply_Mode::NORMAL;
};

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Plain sockets or, with a TLS context, TLS on top of them.
class Connection {
 public:
  Connection(int fd, SSL_CTX* tls) : fd_(fd) {
    if (tls != nullptr) {
      ssl_ = SSL_new(tls);
      SSL_set_fd(ssl_, fd_);
      if (SSL_accept(ssl_) <= 0) ok_ = false;
    }
  }
  ~Connection() {
    if (ssl_ != nullptr) {
      SSL_shutdown(ssl_);
      SSL_free(ssl_);
    }
    ::close(fd_);
  }
  bool ok() const { return ok_; }
  long read(char* buf, size_t n) {
    return ssl_ != nullptr ? SSL_read(ssl_, buf, static_cast<int>(n)) : ::recv(fd_, buf, n, 0);
  }
  void write(const std::string& s) {
    if (ssl_ != nullptr)
      SSL_write(ssl_, s.data(), static_cast<int>(s.size()));
    else
      (void)::send(fd_, s.data(), s.size(), MSG_NOSIGNAL);
  }

 private:
  int fd_;
  SSL* ssl_ = nullptr;
  bool ok_ = true;
};

class Loopback_Server {
 public:
  explicit Loopback_Server(SSL_CTX* tls = nullptr) : tls_(tls) {
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int one = 1;
    ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listen_fd_, 64) != 0)
      std::abort();
    socklen_t len = sizeof addr;
    ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    acceptor_ = std::thread([this] { accept_loop(); });
  }

  ~Loopback_Server() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    ::shutdown(listen_fd_, SHUT_RDWR);
    ::close(listen_fd_);
    acceptor_.join();
    for (auto& t : workers_) t.join();
  }

  uint16_t port() const { return port_; }

  void set_reply(Reply reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    reply_ = std::move(reply);
  }

  std::vector<Received> received() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
  }

 private:
  void accept_loop() {
    for (;;) {
      int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) return;
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) {
        ::close(fd);
        return;
      }
      workers_.emplace_back([this, fd] { serve(fd); });
    }
  }

  static bool read_request(Connection& conn, Received& out) {
    std::string data;
    char buf[4096];
    size_t header_end;
    while ((header_end = data.find("\r\n\r\n")) == std::string::npos) {
      long n = conn.read(buf, sizeof buf);
      if (n <= 0) return false;
      data.append(buf, static_cast<size_t>(n));
    }
    std::istringstream head(data.substr(0, header_end));
    std::string line;
    std::getline(head, line);
    std::istringstream first(line);
    first >> out.method >> out.target;
    size_t content_length = 0;
    while (std::getline(head, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      const size_t colon = line.find(':');
      if (colon == std::string::npos) continue;
      std::string value = line.substr(colon + 1);
      value.erase(0, value.find_first_not_of(' '));
      out.headers.emplace_back(lower(line.substr(0, colon)), value);
      if (lower(line.substr(0, colon)) == "content-length") content_length = std::stoul(value);
    }
    out.body = data.substr(header_end + 4);
    while (out.body.size() < content_length) {
      long n = conn.read(buf, sizeof buf);
      if (n <= 0) return false;
      out.body.append(buf, static_cast<size_t>(n));
    }
    return true;
  }

  void serve(int fd) {
    Connection conn(fd, tls_);
    Received request;
    if (!conn.ok() || !read_request(conn, request)) return;
    Reply reply;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      received_.push_back(request);
      reply = reply_;
    }
    if (reply.mode == Reply_Mode::CLOSE) return;
    const size_t announced =
        reply.mode == Reply_Mode::NORMAL ? reply.body.size() : reply.body.size() + 100;
    conn.write("HTTP/1.1 " + std::to_string(reply.status) +
               " X\r\nContent-Type: text/xml\r\n"
               "Connection: close\r\nContent-Length: " +
               std::to_string(announced) + "\r\n\r\n" + reply.body);
    if (reply.mode == Reply_Mode::STALL) {
      // Keeps the connection open, sending nothing, until the server stops (the client
      // gives up long before).
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait_for(lock, std::chrono::seconds(60), [this] { return stopping_; });
    }
  }

  SSL_CTX* tls_;
  int listen_fd_ = -1;
  uint16_t port_ = 0;
  std::thread acceptor_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool stopping_ = false;
  std::vector<std::thread> workers_;
  std::vector<Received> received_;
  Reply reply_;
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
      {"error document with 200",
       {200, ERROR_XML},
       false,
       API_Response_Base::OUTCOME_ERROR_DOCUMENT,
       "Value (i-x) for parameter instanceId is invalid"},
      {"http 500",
       {500, "Internal Server Error"},
       false,
       API_Response_Base::OUTCOME_HTTP_ERROR,
       ""},
      {"doctype",
       {200, "<?xml version=\"1.0\"?><!DOCTYPE x [<!ENTITY a \"b\">]><x>&a;</x>"},
       false,
       API_Response_Base::OUTCOME_BAD_DOCUMENT,
       ""},
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
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(fd);

  auto client = client_for(ntohs(addr.sin_port));
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
