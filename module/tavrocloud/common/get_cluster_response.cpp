#include "tavrocloud/common/get_cluster_response.h"

namespace tavrocloud {

namespace {

using R = Get_Cluster_Response;

const Key2_Value_T<unsigned int> ELEMENT_TABLE[] = {
    TAVROCLOUD_ELEMENT_ROW("DescribeClustersResponse", R::ELEMENT_ROOT),
    TAVROCLOUD_ELEMENT_ROW("clusterSet", R::ELEMENT_CLUSTER_SET),
    TAVROCLOUD_ELEMENT_ROW("item", R::ELEMENT_ITEM),
    TAVROCLOUD_ELEMENT_ROW("clusterId", R::ELEMENT_CLUSTER_ID),
    TAVROCLOUD_ELEMENT_ROW("clusterName", R::ELEMENT_CLUSTER_NAME),
    TAVROCLOUD_ELEMENT_ROW("status", R::ELEMENT_STATUS),
    TAVROCLOUD_ELEMENT_ROW("clusterControllerSet", R::ELEMENT_CLUSTER_CONTROLLER_SET),
    TAVROCLOUD_ELEMENT_ROW("Error", R::ELEMENT_ERROR_ROOT),
    TAVROCLOUD_ELEMENT_ROW("Message", R::ELEMENT_MESSAGE),
    {nullptr, 0, R::ELEMENT_NONE}};

}  // namespace

Get_Cluster_Response::Get_Cluster_Response()
    : Default_Response("DescribeClusters"), state_(PARSE_ROOT) {}

void Get_Cluster_Response::reset_open_elements() {
  Default_Response::reset_open_elements();
  state_ = PARSE_ROOT;
  nesting_.reset();
}

void Get_Cluster_Response::startElement(const ACEXML_Char*, const ACEXML_Char* local_name,
                                        const ACEXML_Char*, ACEXML_Attributes*) {
  nesting_.enter();
  const unsigned int bit =
      open_element(ELEMENT_TABLE, local_name, element_, ELEMENT_ROOT | ELEMENT_ERROR_ROOT);
  switch (bit) {
    case ELEMENT_ROOT: clusters_.clear(); break;
    case ELEMENT_CLUSTER_SET: state_ = PARSE_CLUSTER; break;
    case ELEMENT_ITEM:
      if (nesting_.enter_item(state_ == PARSE_CLUSTER)) clusters_.emplace_back();
      break;
    case ELEMENT_CLUSTER_CONTROLLER_SET: state_ = PARSE_CLUSTER_CONTROLLER; break;
    case ELEMENT_ERROR_ROOT: message_.clear(); break;
    default: break;
  }
  element_ |= bit;
}

void Get_Cluster_Response::characters(const ACEXML_Char* ch, size_t start, size_t length) {
  const char* const text = value_text(ch, start, length);
  if (text == nullptr) return;
  const unsigned int bit = single_text_element(element_, STR_ELEMENTS_MASK);
  if (bit == ELEMENT_MESSAGE) {
    message_.assign(text, length);
    return;
  }
  // The controllers' texts describe the controllers, not the cluster.
  if (clusters_.empty() || nesting_.in_nested_item()) return;
  Cluster& cluster = clusters_.back();
  switch (bit) {
    case ELEMENT_CLUSTER_ID: cluster.id.assign(text, length); break;
    case ELEMENT_CLUSTER_NAME: cluster.name.assign(text, length); break;
    case ELEMENT_STATUS: cluster.status = text_to_status(text, length); break;
    default: break;
  }
}

void Get_Cluster_Response::endElement(const ACEXML_Char*, const ACEXML_Char* local_name,
                                      const ACEXML_Char*) {
  const unsigned int bit = element_bit(ELEMENT_TABLE, local_name);
  if (bit == ELEMENT_CLUSTER_SET) state_ = PARSE_ROOT;
  if (bit == ELEMENT_CLUSTER_CONTROLLER_SET) state_ = PARSE_CLUSTER;
  element_ &= ~bit;
  nesting_.leave();
}

}  // namespace tavrocloud
