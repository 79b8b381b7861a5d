// Parser of the answer to "GetCloudVersion": the cloud's version text, read at login.
// The jobs decide from it whether temporary snapshots exist; the console shows it.
#ifndef TAVROCLOUD_COMMON_GET_CLOUD_VERSION_RESPONSE_H
#define TAVROCLOUD_COMMON_GET_CLOUD_VERSION_RESPONSE_H

#include <string>

#include "tavrocloud/common/flat_response.h"

namespace tavrocloud {

class Get_Cloud_Version_Response : public Flat_Response {
 public:
  Get_Cloud_Version_Response();

  const std::string& version() const { return version_; }

  // The root is the result element itself, so it is found inside any wrapper the cloud
  // puts around it.
  enum {
    ELEMENT_NONE = 0,
    ELEMENT_ROOT = 1,
    ELEMENT_VERSION = 2,
    ELEMENT_ERROR_ROOT = 4,
    ELEMENT_MESSAGE = 8,
    STR_ELEMENTS_MASK = ELEMENT_VERSION | ELEMENT_MESSAGE
  };

 private:
  void reset_results() override { version_.clear(); }
  void take_text(unsigned int, const char* text, size_t length) override {
    version_.assign(text, length);
  }

  std::string version_;
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_GET_CLOUD_VERSION_RESPONSE_H
