#include "tavrocloud/common/tavrocloud_restful_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "cloud/aws_client.h"
#include "loopback_cloud.h"
#include "support/log_capture.h"
#include "tavrocloud/common/get_instance_response.h"
#include "tavrocloud/common/get_volume_response.h"
#include "xml_answer.h"

namespace tc = tavrocloud;
using test::Cloud_Reply;
using test::Cloud_Request;
using test::Loopback_Cloud;

namespace {

const char SECRET[] = "wJalrXUtnFEMI/K7MDENG+bPxRfiCYEXAMPLEKEY";

tc::Login account(uint16_t port, const char* host = "127.0.0.1") {
  return tc::Login(host, port, false, "region-1", secure_string("AKIDEXAMPLE"),
                   secure_string(SECRET));
}

std::string version_answer(const std::string& version) {
  return "<GetCloudVersionResponse><getCloudVersionResult><version>" + version +
         "</version></getCloudVersionResult></GetCloudVersionResponse>";
}

std::string xml_escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '&') {
      out += "&amp;";
    } else if (c == '<') {
      out += "&lt;";
    } else {
      out += c;
    }
  }
  return out;
}

std::string instances_answer(const std::string& id) {
  return "<DescribeInstancesResponse><reservationSet><item><instancesSet><item><instanceId>" +
         xml_escaped(id) +
         "</instanceId></item></instancesSet></item></reservationSet></DescribeInstancesResponse>";
}

// A cloud that answers the version query with `version` and DescribeInstances with one
// instance named after the request's filter value (or `name` when there is none).
Loopback_Cloud::Handler cloud_named(const std::string& version, const std::string& name) {
  return [version, name](const Cloud_Request& r) -> Cloud_Reply {
    const std::string action = r.param("Action");
    if (action == "GetCloudVersion") return {200, version_answer(version)};
    if (action == "DescribeInstances") {
      const std::string filter = r.param("Filter.1.Value.1");
      return {200, instances_answer(filter.empty() ? name : filter)};
    }
    return {400, test::error_document("unknown action " + action)};
  };
}

size_t count_action(const Loopback_Cloud& cloud, const std::string& action) {
  size_t n = 0;
  for (const Cloud_Request& r : cloud.requests()) n += r.param("Action") == action ? 1 : 0;
  return n;
}

}  // namespace

TEST(RESTful_Client, LoginReadsTheVersionWithSignedRequests) {
  Loopback_Cloud cloud(cloud_named("V9.8.1", "i-1"));
  test::Log_Capture log;
  tc::RESTful_Client client;
  EXPECT_EQ("", client.version());
  ASSERT_TRUE(client.login(account(cloud.port())));
  EXPECT_EQ("V9.8.1", client.version());

  const std::vector<Cloud_Request> requests = cloud.requests();
  ASSERT_EQ(1u, requests.size());
  const Cloud_Request& r = requests[0];
  EXPECT_EQ("POST", r.method);
  EXPECT_EQ("Action=GetCloudVersion&Version=2016-11-15", r.body);
  const std::string auth = r.header("authorization");
  EXPECT_NE(std::string::npos, auth.find("Credential=AKIDEXAMPLE/")) << auth;
  EXPECT_NE(std::string::npos, auth.find("/region-1/ec2/aws4_request")) << auth;
  // The secret key never travels and is never logged.
  for (const auto& h : r.headers) EXPECT_EQ(std::string::npos, h.second.find(SECRET));
  EXPECT_EQ(std::string::npos, r.body.find(SECRET));
  EXPECT_EQ(std::string::npos, log.text().find(SECRET));
  EXPECT_EQ(std::string::npos, log.text().find("AKIDEXAMPLE"));
}

TEST(RESTful_Client, ParametersGoOutInOrderAndAnswersReachTheParser) {
  Loopback_Cloud cloud(cloud_named("V9.8", "i-any"));
  tc::RESTful_Client client;
  ASSERT_TRUE(client.login(account(cloud.port())));
  tc::Get_Instance_Response rsp;
  ASSERT_TRUE(client.send_request("DescribeInstances",
                                  {{"Filter.1.Name", "instance-id"},
                                   {"Filter.1.Value.1", "i-7 & ='x'"},
                                   {"Filter.1.Name", "2"}},
                                  rsp));
  ASSERT_EQ(1u, rsp.instances().size());
  EXPECT_EQ("i-7 & ='x'", rsp.instances()[0].id);
  const Cloud_Request last = cloud.requests().back();
  ASSERT_EQ(5u, last.params.size());
  EXPECT_EQ("Filter.1.Name", last.params[2].first);
  EXPECT_EQ("instance-id", last.params[2].second);
  EXPECT_EQ("Filter.1.Value.1", last.params[3].first);
  EXPECT_EQ("Filter.1.Name", last.params[4].first);
  EXPECT_EQ("2", last.params[4].second);

  // The cloud's refusal is the send's verdict, and its message reaches the parser.
  tc::Get_Volume_Response volumes;
  EXPECT_FALSE(client.send_request("DescribeVolumes", {}, volumes));
  EXPECT_EQ("unknown action DescribeVolumes", volumes.message());
}

// The cloud answers but not the version: the login stands with an empty version; a later
// login that gets the version sets it.
TEST(RESTful_Client, VersionErrorsDoNotFailTheLogin) {
  const struct {
    const char* name;
    Cloud_Reply reply;
    const char* message;
  } cases[] = {
      {"error document", {400, test::error_document("no such action")}, "no such action"},
      {"error document with 200", {200, test::error_document("later")}, "later"},
      {"server error", {500, "oops"}, ""},
      {"not XML", {200, "{\"version\": 1}"}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Cloud_Reply reply = c.reply;
    Loopback_Cloud broken([reply](const Cloud_Request&) { return reply; });
    test::Log_Capture log;
    tc::RESTful_Client client;
    ASSERT_TRUE(client.login(account(broken.port())));
    EXPECT_EQ("", client.version());
    EXPECT_TRUE(log.contains(
        std::string("Failed to query cloud version, msg: ") + c.message + ".\n", LM_ERROR))
        << log.text();

    Loopback_Cloud good(cloud_named("V10.1", "i-1"));
    ASSERT_TRUE(client.login(account(good.port())));
    EXPECT_EQ("V10.1", client.version());
    // A version query that fails later keeps the version.
    ASSERT_TRUE(client.login(account(broken.port())));
    EXPECT_EQ("V10.1", client.version());
  }
}

// No client, an unreachable cloud or refused keys fail the login, and an earlier login
// stays in force.
TEST(RESTful_Client, FailedLoginKeepsTheEarlierOne) {
  Loopback_Cloud first(cloud_named("V9.8", "i-first"));
  Loopback_Cloud refusing([](const Cloud_Request&) {
    return Cloud_Reply{401, test::error_document("AuthFailure")};
  });
  Loopback_Cloud forbidding([](const Cloud_Request&) {
    return Cloud_Reply{403, test::error_document("signature does not match")};
  });
  const struct {
    const char* name;
    tc::Login login;
    const char* logged;
    const Loopback_Cloud* contacted;
  } cases[] = {
      {"empty host", account(first.port(), ""), "Failed to make aws client.\n", nullptr},
      {"port 0", account(0), "Failed to make aws client.\n", nullptr},
      {"nothing listens", account(Loopback_Cloud::closed_port()), "it could not be reached",
       nullptr},
      {"401", account(refusing.port()), "it refused the keys (HTTP 401), msg: AuthFailure",
       &refusing},
      {"403", account(forbidding.port()), "(HTTP 403), msg: signature does not match", &forbidding},
  };
  tc::RESTful_Client client;
  ASSERT_TRUE(client.login(account(first.port())));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const size_t first_requests = first.requests().size();
    const size_t contacted_before = c.contacted != nullptr ? c.contacted->requests().size() : 0;
    test::Log_Capture log;
    EXPECT_FALSE(client.login(c.login));
    EXPECT_EQ(1u, log.count(c.logged)) << log.text();
    EXPECT_EQ(first_requests, first.requests().size());
    if (c.contacted != nullptr) {
      EXPECT_EQ(contacted_before + 1, c.contacted->requests().size());
    }
    EXPECT_EQ("V9.8", client.version());

    tc::Get_Instance_Response rsp;
    ASSERT_TRUE(client.send_request("DescribeInstances", {}, rsp));
    ASSERT_EQ(1u, rsp.instances().size());
    EXPECT_EQ("i-first", rsp.instances()[0].id);
  }
}

TEST(RESTful_Client, SecondLoginSwitchesClouds) {
  Loopback_Cloud a(cloud_named("V9.8", "i-a"));
  Loopback_Cloud b(cloud_named("V9.9", "i-b"));
  tc::RESTful_Client client;
  ASSERT_TRUE(client.login(account(a.port())));
  ASSERT_TRUE(client.login(account(b.port())));
  EXPECT_EQ("V9.9", client.version());
  tc::Get_Instance_Response rsp;
  ASSERT_TRUE(client.send_request("DescribeInstances", {}, rsp));
  EXPECT_EQ("i-b", rsp.instances().at(0).id);
  EXPECT_EQ(0u, count_action(a, "DescribeInstances"));
  EXPECT_EQ(1u, count_action(b, "DescribeInstances"));
}

TEST(RESTful_Client, RequestsBeforeLoginFailWithAMessage) {
  test::Log_Capture log;
  tc::RESTful_Client client;
  tc::Get_Instance_Response rsp;
  EXPECT_FALSE(client.send_request("DescribeInstances", {}, rsp));
  EXPECT_TRUE(log.contains("Failed to send DescribeInstances: the cloud client is not logged in.",
                           LM_ERROR))
      << log.text();
  EXPECT_FALSE(client.query_cloud_version());
  EXPECT_TRUE(log.contains("Failed to query cloud version, msg: .\n", LM_ERROR));
  EXPECT_EQ("", client.version());
}

TEST(RESTful_Client, QueryCloudVersionRefreshesTheVersion) {
  std::atomic<int> calls{0};
  Loopback_Cloud cloud([&calls](const Cloud_Request&) {
    return Cloud_Reply{200, version_answer(++calls == 1 ? "V9.7" : "V9.8")};
  });
  tc::RESTful_Client client;
  ASSERT_TRUE(client.login(account(cloud.port())));
  EXPECT_EQ("V9.7", client.version());
  ASSERT_TRUE(client.query_cloud_version());
  EXPECT_EQ("V9.8", client.version());
}

// One logged-in client serves several threads at once; each gets its own answer.
TEST(RESTful_Client, ConcurrentRequestsShareOneClient) {
  Loopback_Cloud cloud(cloud_named("V9.8", "unused"));
  tc::RESTful_Client client;
  ASSERT_TRUE(client.login(account(cloud.port())));
  constexpr int THREADS = 8;
  constexpr int REQUESTS = 5;
  std::atomic<int> good{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < THREADS; ++t) {
    threads.emplace_back([&client, &good, t] {
      for (int n = 0; n < REQUESTS; ++n) {
        const std::string id = "i-" + std::to_string(t) + "-" + std::to_string(n);
        tc::Get_Instance_Response rsp;
        if (client.send_request("DescribeInstances",
                                {{"Filter.1.Name", "instance-id"}, {"Filter.1.Value.1", id}},
                                rsp) &&
            rsp.instances().size() == 1 && rsp.instances()[0].id == id) {
          ++good;
        }
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(THREADS * REQUESTS, good.load());
}
