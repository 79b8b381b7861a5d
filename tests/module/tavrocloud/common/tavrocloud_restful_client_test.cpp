// The cloud client over real HTTP on loopback: signed requests in order, the login and
// what a failed one keeps, and one client shared by several threads.
#include "tavrocloud/common/tavrocloud_restful_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cloud/aws_client.h"
#include "cloud/percent_encoding.h"
#include "scripted_cloud.h"
#include "support/log_capture.h"
#include "support/loopback_http.h"
#include "tavrocloud/common/get_instance_response.h"

namespace tc = tavrocloud;
using test::Loopback_Http_Server;

namespace {

const char SECRET[] = "wJalrXUtnFEMI/K7MDENG+bPxRfiCYEXAMPLEKEY";
using Form = tc::RESTful_Client::Params;
using test::Answer;

tc::Login account(uint16_t port, const char* host = "127.0.0.1") {
  return tc::Login(host, port, false, "region-1", secure_string("AKIDEXAMPLE"),
                   secure_string(SECRET));
}

// A request's form parameters, decoded, in order.
Form form(const std::string& body) {
  Form out;
  std::istringstream in(body);
  for (std::string pair; std::getline(in, pair, '&');) {
    const size_t eq = pair.find('=');
    out.emplace_back(cloud::percent_decode(pair.substr(0, eq)),
                     eq == std::string::npos ? "" : cloud::percent_decode(pair.substr(eq + 1)));
  }
  return out;
}
std::string param(const Form& f, const std::string& name) {
  for (const auto& p : f) if (p.first == name) return p.second;
  return "";
}
Loopback_Http_Server::Handler serve(std::function<Answer(const Form&)> answer) {
  return [answer](const test::Http_Request& r, test::Http_Stream& stream) {
    const Answer reply = answer(form(r.body));
    stream.write(Loopback_Http_Server::reply_text(reply.status, reply.body));
  };
}
Loopback_Http_Server::Handler fixed(const Answer& reply) {
  return serve([reply](const Form&) { return reply; });
}

// A cloud that answers the version query with `version` and DescribeInstances with one
// instance named after the request's filter value (or `name` when there is none).
Loopback_Http_Server::Handler cloud_named(const std::string& version, const std::string& name) {
  return serve([version, name](const Form& f) {
    const std::string action = param(f, "Action"), filter = param(f, "Filter.1.Value.1");
    const std::string id = "<![CDATA[" + (filter.empty() ? name : filter) + "]]>";
    if (action == "GetCloudVersion") {
      return test::ok(action, "<getCloudVersionResult>" + test::fields({{"version", version}}) +
                                  "</getCloudVersionResult>");
    }
    if (action != "DescribeInstances") return test::refused("unknown action " + action);
    return test::instances({test::item(test::fields({{"instanceId", id}}))});
  });
}

// The id of the one instance `client` lists; "" when the request fails.
std::string listed(tc::RESTful_Client& client, const tc::RESTful_Client::Params& params = {}) {
  tc::Get_Instance_Response rsp;
  const bool ok = client.send_request("DescribeInstances", params, rsp);
  return ok && rsp.instances().size() == 1 ? rsp.instances()[0].id : "";
}

}  // namespace

TEST(RESTful_Client, SignedRequestsInOrderAndTheKeysNeverLogged) {
  Loopback_Http_Server cloud(cloud_named("V9.8.1", "i-1"));
  test::Log_Capture log;
  tc::RESTful_Client client;
  ASSERT_TRUE(client.login(account(cloud.port())) && client.version() == "V9.8.1");
  const Form filter = {
      {"Filter.1.Name", "instance-id"}, {"Filter.1.Value.1", "i-7 & ='x'"}, {"Filter.1.Name", "2"}};
  EXPECT_EQ("i-7 & ='x'", listed(client, filter));
  const std::vector<test::Http_Request> requests = cloud.requests();
  ASSERT_EQ(2u, requests.size());
  EXPECT_EQ("POST Action=GetCloudVersion&Version=2016-11-15",
            requests[0].method + " " + requests[0].body);
  Form expected = {{"Action", "DescribeInstances"}, {"Version", "2016-11-15"}};
  expected.insert(expected.end(), filter.begin(), filter.end());
  EXPECT_EQ(expected, form(requests[1].body));
  // Signed with the account's keys for its locale (the signing itself is the host's).
  const std::string auth = requests[1].header("authorization");
  EXPECT_TRUE(std::regex_search(auth, std::regex("Credential=AKIDEXAMPLE/\\d{8}/region-1/ec2/")));
  EXPECT_FALSE(log.contains(SECRET) || log.contains("AKIDEXAMPLE")) << log.text();
}

// The cloud answers but not the version: the login stands; a version read earlier stays.
TEST(RESTful_Client, VersionErrorsDoNotFailTheLogin) {
  const std::pair<Answer, std::string> cases[] = {
      {test::refused("no such action"), "no such action"},
      {test::refused("later", 200), "later"},
      {{200, "{\"version\": 1}"},
       "the cloud's answer is not acceptable XML: not well-formed (invalid token) at line 1, "
       "column 0"},
      {{502, "Bad Gateway"}, "the cloud answered HTTP 502"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first.body);
    Loopback_Http_Server broken(fixed(c.first));
    Loopback_Http_Server good(cloud_named("V10.1", "i-1"));
    test::Log_Capture log;
    tc::RESTful_Client client;
    ASSERT_TRUE(client.login(account(broken.port())));
    EXPECT_EQ("", client.version());
    EXPECT_EQ(1u, log.count("Failed to query cloud version, msg: " + c.second + ".\n"));
    ASSERT_TRUE(client.login(account(good.port())));
    ASSERT_TRUE(client.login(account(broken.port())));
    EXPECT_EQ("V10.1", client.version());
  }
}

// No client, an unreachable cloud, an answer above the limit or refused keys fail the
// login, saying which, and the login before stays in force; a good login switches clouds.
TEST(RESTful_Client, FailedLoginKeepsTheEarlierOne) {
  Loopback_Http_Server huge(fixed(test::ok("GetCloudVersion", std::string(2000, ' '))));
  cloud::aws::SDK::Hook_Guard cap_for_huge([&huge](const std::string& host, uint16_t port,
                                                   bool ssl, const std::string& locale,
                                                   const cloud::Credentials& keys) {
    cloud::aws::Client_Config config;
    if (port == huge.port()) config.max_response_bytes = 1000;
    return cloud::aws::SDK::make_client(host, port, ssl, locale, keys, config);
  });
  test::Log_Capture log;
  tc::RESTful_Client client;
  EXPECT_EQ("", listed(client));
  EXPECT_EQ(1u, log.count("Failed to send DescribeInstances: the cloud client is not logged in."));
  EXPECT_FALSE(client.query_cloud_version());

  Loopback_Http_Server first(cloud_named("V9.8", "i-first"));
  Loopback_Http_Server refusing(fixed(test::refused("AuthFailure", 401)));
  Loopback_Http_Server forbidding(fixed(test::refused("no match", 403)));
  const std::pair<tc::Login, const char*> cases[] = {
      {account(first.port(), ""), "Failed to make aws client.\n"},
      {account(0), "Failed to make aws client.\n"},
      {account(Loopback_Http_Server::closed_port()), ", the cloud could not be reached: "},
      {account(huge.port()), ", the cloud's answer was larger than the limit of 1000 bytes.\n"},
      {account(refusing.port()), "it refused the keys (HTTP 401), msg: AuthFailure"},
      {account(forbidding.port()), "(HTTP 403), msg: no match"},
  };
  ASSERT_TRUE(client.login(account(first.port())));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.second);
    log.clear();
    EXPECT_FALSE(client.login(c.first));
    EXPECT_EQ(1u, log.count(c.second)) << log.text();
    EXPECT_EQ("V9.8 i-first", client.version() + " " + listed(client));
  }
  EXPECT_EQ(1u, refusing.requests().size());
  EXPECT_EQ(1u, forbidding.requests().size());

  Loopback_Http_Server second(cloud_named("V9.9", "i-second"));
  ASSERT_TRUE(client.login(account(second.port())));
  EXPECT_EQ("V9.9 i-second", client.version() + " " + listed(client));
  EXPECT_EQ(1 + std::size(cases), first.requests().size());
}

// One logged-in client serves several threads at once; each gets its own answer.
TEST(RESTful_Client, ConcurrentRequestsShareOneClient) {
  Loopback_Http_Server cloud(cloud_named("V9.8", "unused"));
  tc::RESTful_Client client;
  ASSERT_TRUE(client.login(account(cloud.port())));
  std::atomic<int> good{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&client, &good, t] {
      for (int n = 0; n < 5; ++n) {
        const std::string id = "i-" + std::to_string(t) + "-" + std::to_string(n);
        good += listed(client, {{"Filter.1.Name", "instance-id"}, {"Filter.1.Value.1", id}}) == id;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(40, good.load());
}
