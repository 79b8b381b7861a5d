// A scripted cloud for the cloud client's tests, installed through the host's factory
// hook: every client made while it lives sends to it. It records each request and answers
// from a script of expected actions, or from a responder once the script is used up.
// Also: builders of the cloud's XML answers, and a fixture of a client logged in to it.
#ifndef TESTS_MODULE_TAVROCLOUD_COMMON_SCRIPTED_CLOUD_H
#define TESTS_MODULE_TAVROCLOUD_COMMON_SCRIPTED_CLOUD_H

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "cloud/api_response.h"
#include "cloud/aws_client.h"
#include "support/log_capture.h"
#include "tavrocloud/common/tavrocloud_restful_client.h"

namespace test {

using Params = tavrocloud::RESTful_Client::Params;

struct Sent {
  std::string action;
  Params params;
};

struct Answer {
  long status = 200;
  std::string body;
  bool transport_failure = false;
  std::string action = "";  // the request it answers, where known
};

// A success document of `action` holding `inner`.
inline Answer ok(const std::string& action, const std::string& inner = "") {
  const std::string root = action + "Response>";
  const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><";
  return {200, head + root + inner + "</" + root, false, action};
}
// `answer` as the answer to `action`.
inline Answer as(const std::string& action, Answer answer) {
  answer.action = action;
  return answer;
}
// The cloud's error document carrying `message`.
inline std::string error_document(const std::string& message) {
  return "<Response><Errors><Error><Code>InvalidParameterValue</Code><Message>" + message +
         "</Message></Error></Errors><RequestID>r-1</RequestID></Response>";
}
inline Answer refused(const std::string& message, long status = 400) {
  return {status, error_document(message)};
}
inline Answer unreachable() { return {0, "", true}; }

// "<name>text</name>" for each pair, in order.
inline std::string fields(const std::vector<std::pair<std::string, std::string>>& f) {
  std::string out;
  for (const auto& p : f) out += "<" + p.first + ">" + p.second + "</" + p.first + ">";
  return out;
}
inline std::string item(const std::string& inner) { return "<item>" + inner + "</item>"; }
// The answer of `action` listing `items` (each an item()) in the set `set`.
inline Answer listing(const std::string& action, const std::string& set,
                      const std::vector<std::string>& items) {
  std::string out;
  for (const auto& i : items) out += i;
  return ok(action, "<" + set + ">" + out + "</" + set + ">");
}
// A volume (`att_status` given: with its attachment) and an instance, as listing items.
inline std::string volume_item(const std::string& id, const std::string& status,
                               const std::string& att_instance = "", const std::string& device = "",
                               const std::string& att_status = "", const std::string& node = "") {
  const std::string attachment = fields(
      {{"volumeId", id}, {"instanceId", att_instance}, {"device", device}, {"status", att_status}});
  const std::string attachments =
      att_status.empty() ? "" : "<attachmentSet>" + item(attachment) + "</attachmentSet>";
  return item(fields({{"volumeId", id}, {"status", status}}) + attachments +
              fields({{"nodeId", node}}));
}
inline std::string instance_item(const std::string& id, const std::string& status,
                                 const std::string& storage = "") {
  return item(fields({{"instanceId", id}}) + "<instanceState><name>" + status +
              "</name></instanceState>" + fields({{"storageId", storage}}));
}
inline Answer volumes(const std::vector<std::string>& items) {
  return listing("DescribeVolumes", "volumeSet", items);
}
template <typename... Args>
Answer volume(const Args&... args) {
  return volumes({volume_item(args...)});
}
inline Answer instances(const std::vector<std::string>& items, const std::string& next_token = "") {
  std::string out = "<reservationSet><item><instancesSet>";
  for (const auto& i : items) out += i;
  out += "</instancesSet></item></reservationSet>";
  if (!next_token.empty()) out += fields({{"nextToken", next_token}});
  return ok("DescribeInstances", out);
}
inline Answer instance(const std::string& id, const std::string& status) {
  return instances({instance_item(id, status)});
}
inline Answer tmp_snapshot(const std::string& id, const std::string& status,
                           const std::string& volume_id = "vol-1",
                           const std::string& attached_to = "") {
  return listing("DescribeTmpSnapshots", "tmpSnapshotSet",
                 {item(fields({{"tmpSnapshotId", id}, {"volumeId", volume_id}, {"status", status},
                               {"attachInstanceId", attached_to}}))});
}
inline Answer result(const std::string& action, bool value = true) {
  return ok(action, fields({{"return", value ? "true" : "false"}}));
}

// Expected requests in order, each answer naming its action.
using Script = std::vector<Answer>;

class Scripted_Cloud {
 public:
  using Responder = std::function<Answer(const Sent&)>;

  Scripted_Cloud()
      : state_(std::make_shared<State>()),
        guard_([state = state_](const std::string&, uint16_t, bool, const std::string&,
                                const cloud::Credentials&) {
          return std::unique_ptr<cloud::API_Client>(new Client(state));
        }) {}
  // Fails the test when a scripted answer went unused or a request was not the one scripted.
  ~Scripted_Cloud() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    EXPECT_TRUE(state_->script.empty()) << state_->script.size() << " scripted answers unused";
    EXPECT_TRUE(state_->mismatches.empty()) << state_->mismatches.front();
  }
  Scripted_Cloud(const Scripted_Cloud&) = delete;
  Scripted_Cloud& operator=(const Scripted_Cloud&) = delete;

  // The next request must be `action`; it is answered with `answer`.
  Scripted_Cloud& expect(const std::string& action, Answer answer) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->script.emplace_back(action, std::move(answer));
    return *this;
  }
  void expect_all(const Script& script) {
    for (const Answer& step : script) expect(step.action, step);
  }
  // Answers the requests past the script (none answered: an unscripted request fails the test).
  void respond(Responder responder) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->responder = std::move(responder);
  }
  std::vector<Sent> sent() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->sent;
  }
  // The requests as "Action(name=value name=value) ...".
  std::string sent_text() const {
    std::string out;
    for (const Sent& s : sent()) {
      out += (out.empty() ? "" : " ") + s.action + "(";
      for (const auto& p : s.params) {
        out += (out.back() == '(' ? "" : " ") + p.first + "=" + p.second;
      }
      out += ")";
    }
    return out;
  }
  void forget_sent() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->sent.clear();
  }

  // Logs `client` in (its version query answered "V9.8") and forgets that request.
  void login(tavrocloud::RESTful_Client& client) {
    expect("GetCloudVersion", ok("GetCloudVersion", "<getCloudVersionResult><version>V9.8"
                                                    "</version></getCloudVersionResult>"));
    ASSERT_TRUE(client.login(tavrocloud::Login("cloud.test", 8773, false, "", secure_string("AK"),
                                               secure_string("SK"))));
    forget_sent();
  }

 private:
  struct State {
    std::mutex mutex;
    std::deque<std::pair<std::string, Answer>> script;
    Responder responder;
    std::vector<Sent> sent;
    std::vector<std::string> mismatches;
  };

  class Client : public cloud::API_Client {
   public:
    explicit Client(std::shared_ptr<State> state) : state_(std::move(state)) {}
    bool send(const cloud::API_Request_Base& request, cloud::API_Response_Base& response) override {
      const Sent sent{request.action(), request.parameters()};
      Answer answer = unreachable();
      Responder responder;
      {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->sent.push_back(sent);
        if (!state_->script.empty()) {
          auto next = std::move(state_->script.front());
          state_->script.pop_front();
          if (next.first != sent.action) {
            state_->mismatches.push_back("expected " + next.first + ", got " + sent.action);
          }
          answer = std::move(next.second);
        } else if (state_->responder) {
          responder = state_->responder;
        } else {
          state_->mismatches.push_back("unscripted request " + sent.action);
        }
      }
      if (responder) answer = responder(sent);
      if (answer.transport_failure) return cloud::deliver_transport_failure(response);
      return cloud::deliver_answer(response, answer.status, answer.body);
    }

   private:
    std::shared_ptr<State> state_;
  };

  std::shared_ptr<State> state_;
  cloud::aws::SDK::Hook_Guard guard_;
};

// A client logged in to a scripted cloud, with the log captured.
class Scripted_Client_Test : public ::testing::Test {
 protected:
  void SetUp() override { cloud.login(client); }

  Scripted_Cloud cloud;
  tavrocloud::RESTful_Client client;
  Log_Capture log;
};

}  // namespace test

#endif  // TESTS_MODULE_TAVROCLOUD_COMMON_SCRIPTED_CLOUD_H
