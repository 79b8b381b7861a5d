// Parser of the answer to "DescribeNodes": the compute nodes of the cloud, of a cluster or
// the one asked for.
#ifndef TAVROCLOUD_COMMON_GET_NODE_RESPONSE_H
#define TAVROCLOUD_COMMON_GET_NODE_RESPONSE_H

#include "tavrocloud/common/flat_response.h"
#include "tavrocloud/common/tavrocloud_node.h"

namespace tavrocloud {

class Get_Node_Response : public Flat_Response {
 public:
  Get_Node_Response();

  const Nodes& nodes() const { return nodes_; }

  enum {
    ELEMENT_NONE = 0,
    ELEMENT_ROOT = 1,
    ELEMENT_ITEM = 2,
    ELEMENT_NODE_ID = 4,
    ELEMENT_NODE_NAME = 8,
    ELEMENT_HOST_ID = 16,
    ELEMENT_CLUSTER_ID = 32,
    ELEMENT_STATUS = 64,
    ELEMENT_CPU_CORES = 128,
    ELEMENT_CPU_SOCKETS = 256,
    ELEMENT_CPU_MAX = 512,
    ELEMENT_CPU_USED = 1024,
    ELEMENT_MEMORY_MAX = 2048,
    ELEMENT_MEMORY_USED = 4096,
    ELEMENT_IP = 8192,
    ELEMENT_MAC = 16384,
    ELEMENT_ERROR_ROOT = 32768,
    ELEMENT_MESSAGE = 65536,
    STR_ELEMENTS_MASK = 98300
  };

 private:
  void reset_results() override { nodes_.clear(); }
  void open_item() override { nodes_.emplace_back(); }
  void take_text(unsigned int element, const char* text, size_t length) override;

  Nodes nodes_;
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_GET_NODE_RESPONSE_H
