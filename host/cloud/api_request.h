// One request to a cloud query API: the service, the API version, the action and the
// ordered list of name/value parameters. The cloud client builds one per call on its
// stack and hands it to `API_Client::send`, which signs and sends it.
#ifndef HOST_CLOUD_API_REQUEST_H
#define HOST_CLOUD_API_REQUEST_H

#include <string>
#include <utility>
#include <vector>

namespace cloud {

class API_Request_Base {
 public:
  using Parameter = std::pair<std::string, std::string>;
  using Parameters = std::vector<Parameter>;

  virtual ~API_Request_Base() = default;

  // Appends one parameter; the order of calls is the order on the wire. A null pointer
  // is taken as "". Names and values are sent percent-encoded, so any text is safe.
  // A name given twice is sent twice.
  void set_parameter(const char* name, const char* value);
  void set_parameter(const std::string& name, const std::string& value);

  const std::string& service() const { return service_; }
  const std::string& version() const { return version_; }
  const std::string& action() const { return action_; }
  // The caller's parameters in call order (without Action and Version).
  const Parameters& parameters() const { return parameters_; }

 protected:
  API_Request_Base(const char* service, const char* version, const char* action);

 private:
  std::string service_;
  std::string version_;
  std::string action_;
  Parameters parameters_;
};

namespace aws {

// A request of an EC2-style query API. On the wire its form body starts with
// "Action=<action>&Version=<version>", followed by the parameters in call order.
class AWS_Request : public API_Request_Base {
 public:
  AWS_Request(const char* service, const char* version, const char* action);
};

}  // namespace aws
}  // namespace cloud

#endif  // HOST_CLOUD_API_REQUEST_H
