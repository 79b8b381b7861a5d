// Parser of the answer to "DescribeClusters": the clusters (availability zones) of the
// cloud or the one asked for.
#ifndef TAVROCLOUD_COMMON_GET_CLUSTER_RESPONSE_H
#define TAVROCLOUD_COMMON_GET_CLUSTER_RESPONSE_H

#include "tavrocloud/common/default_response.h"
#include "tavrocloud/common/tavrocloud_cluster.h"

namespace tavrocloud {

class Get_Cluster_Response : public Default_Response {
 public:
  Get_Cluster_Response();

  const Clusters& clusters() const { return clusters_; }

  void characters(const ACEXML_Char* ch, size_t start, size_t length) override;
  void endElement(const ACEXML_Char* namespace_uri, const ACEXML_Char* local_name,
                  const ACEXML_Char* q_name) override;
  void startElement(const ACEXML_Char* namespace_uri, const ACEXML_Char* local_name,
                    const ACEXML_Char* q_name, ACEXML_Attributes* atts) override;

  enum {
    ELEMENT_NONE = 0,
    ELEMENT_ROOT = 1,
    ELEMENT_CLUSTER_SET = 2,
    ELEMENT_ITEM = 4,
    ELEMENT_CLUSTER_ID = 8,
    ELEMENT_CLUSTER_NAME = 16,
    ELEMENT_STATUS = 32,
    ELEMENT_CLUSTER_CONTROLLER_SET = 64,
    ELEMENT_ERROR_ROOT = 128,
    ELEMENT_MESSAGE = 256,
    STR_ELEMENTS_MASK = 312
  };

 protected:
  void reset_open_elements() override;

 private:
  enum State { PARSE_ROOT = 0, PARSE_CLUSTER = 1, PARSE_CLUSTER_CONTROLLER = 2 };

  Clusters clusters_;
  State state_;
  Record_Nesting nesting_;
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_GET_CLUSTER_RESPONSE_H
