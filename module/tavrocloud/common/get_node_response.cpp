#include "tavrocloud/common/get_node_response.h"

namespace tavrocloud {

namespace {

using R = Get_Node_Response;

const Key2_Value_T<unsigned int> ELEMENT_TABLE[] = {
    TAVROCLOUD_ELEMENT_ROW("DescribeNodesResponse", R::ELEMENT_ROOT),
    TAVROCLOUD_ELEMENT_ROW("item", R::ELEMENT_ITEM),
    TAVROCLOUD_ELEMENT_ROW("nodeId", R::ELEMENT_NODE_ID),
    TAVROCLOUD_ELEMENT_ROW("nodeName", R::ELEMENT_NODE_NAME),
    TAVROCLOUD_ELEMENT_ROW("hostId", R::ELEMENT_HOST_ID),
    TAVROCLOUD_ELEMENT_ROW("clusterId", R::ELEMENT_CLUSTER_ID),
    TAVROCLOUD_ELEMENT_ROW("status", R::ELEMENT_STATUS),
    TAVROCLOUD_ELEMENT_ROW("cpuCores", R::ELEMENT_CPU_CORES),
    TAVROCLOUD_ELEMENT_ROW("cpuSockets", R::ELEMENT_CPU_SOCKETS),
    TAVROCLOUD_ELEMENT_ROW("cpuMax", R::ELEMENT_CPU_MAX),
    TAVROCLOUD_ELEMENT_ROW("cpuUsed", R::ELEMENT_CPU_USED),
    TAVROCLOUD_ELEMENT_ROW("memoryMax", R::ELEMENT_MEMORY_MAX),
    TAVROCLOUD_ELEMENT_ROW("memoryUsed", R::ELEMENT_MEMORY_USED),
    TAVROCLOUD_ELEMENT_ROW("ip", R::ELEMENT_IP),
    TAVROCLOUD_ELEMENT_ROW("mac", R::ELEMENT_MAC),
    TAVROCLOUD_ELEMENT_ROW("Error", R::ELEMENT_ERROR_ROOT),
    TAVROCLOUD_ELEMENT_ROW("Message", R::ELEMENT_MESSAGE),
    {nullptr, 0, R::ELEMENT_NONE}};

void set_field(Node& record, unsigned int element, const char* text, size_t length) {
  switch (element) {
    case R::ELEMENT_NODE_ID: record.id.assign(text, length); break;
    case R::ELEMENT_NODE_NAME: record.name.assign(text, length); break;
    case R::ELEMENT_HOST_ID: record.host_id.assign(text, length); break;
    case R::ELEMENT_CLUSTER_ID: record.cluster_id.assign(text, length); break;
    case R::ELEMENT_STATUS: record.status = text_to_status(text, length); break;
    case R::ELEMENT_CPU_CORES: record.cpu_cores = text_to_int(text, length); break;
    case R::ELEMENT_CPU_SOCKETS: record.cpu_sockets = text_to_int(text, length); break;
    case R::ELEMENT_CPU_MAX: record.cpu_max = text_to_int(text, length); break;
    case R::ELEMENT_CPU_USED: record.cpu_used = text_to_int(text, length); break;
    case R::ELEMENT_MEMORY_MAX: record.memory_max = text_to_int(text, length); break;
    case R::ELEMENT_MEMORY_USED: record.memory_used = text_to_int(text, length); break;
    case R::ELEMENT_IP: record.ip.assign(text, length); break;
    case R::ELEMENT_MAC: record.mac.assign(text, length); break;
    default: break;
  }
}

const Flat_Response_Elements ELEMENTS = {ELEMENT_TABLE, R::ELEMENT_ROOT, R::STR_ELEMENTS_MASK,
                                         R::ELEMENT_ERROR_ROOT, R::ELEMENT_MESSAGE,
                                         R::ELEMENT_ITEM};

}  // namespace

Get_Node_Response::Get_Node_Response() : Flat_Response("DescribeNodes", ELEMENTS) {}

// A field outside any item has no record to go to and is dropped.
void Get_Node_Response::take_text(unsigned int element, const char* text, size_t length) {
  if (!nodes_.empty()) set_field(nodes_.back(), element, text, length);
}

}  // namespace tavrocloud
