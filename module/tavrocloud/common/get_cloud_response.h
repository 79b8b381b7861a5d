// Parser of the answer to "DescribeCloud": the cloud's own id, name and state, shown by
// the console.
#ifndef TAVROCLOUD_COMMON_GET_CLOUD_RESPONSE_H
#define TAVROCLOUD_COMMON_GET_CLOUD_RESPONSE_H

#include "tavrocloud/common/flat_response.h"
#include "tavrocloud/common/tavrocloud_cloud.h"

namespace tavrocloud {

class Get_Cloud_Response : public Flat_Response {
 public:
  Get_Cloud_Response();

  const Cloud& cloud() const { return cloud_; }

  enum {
    ELEMENT_NONE = 0,
    ELEMENT_ROOT = 1,
    ELEMENT_CLOUD_NAME = 2,
    ELEMENT_CLOUD_ID = 4,
    ELEMENT_STATUS = 8,
    ELEMENT_ERROR_ROOT = 16,
    ELEMENT_MESSAGE = 32,
    STR_ELEMENTS_MASK = 46
  };

 private:
  void reset_results() override { cloud_ = Cloud(); }
  void take_text(unsigned int element, const char* text, size_t length) override;

  Cloud cloud_;
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_GET_CLOUD_RESPONSE_H
