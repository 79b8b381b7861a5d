#include "tavrocloud/websvcs_agent/tavrocloud_list_handler.h"

#include <ace/Log_Msg.h>

#include <cerrno>
#include <exception>
#include <new>
#include <string>

#include "json_spirit/extract.h"
#include "tavrocloud/common/tavrocloud_list.h"
#include "tavrocloud/common/tavrocloud_login.h"
#include "tavrocloud/common/tavrocloud_restful_client.h"
#include "tavrocloud/common/utils.h"
#include "yolt/check.h"
#include "yolt/string_sprintf.h"

namespace tavrocloud {

JSON_RPC_Tavrocloud_List_Handler::JSON_RPC_Tavrocloud_List_Handler() {}

JSON_RPC_Tavrocloud_List_Handler::~JSON_RPC_Tavrocloud_List_Handler() {}

int JSON_RPC_Tavrocloud_List_Handler::handle_object_i(JSON_RPC_Channel_ptr channel,
                                                      JSON_RPC_Object_ptr obj) {
  YOLT_CHECK_NULL(obj.get(), -1);
  YOLT_CHECK_JSON_RPC_REQUEST(obj, -1);
  JSON_RPC_Request* const request = static_cast<JSON_RPC_Request*>(obj.get());
  const json_spirit::Value& id = request->id();
  const json_spirit::Value& none = json_spirit::Value::null;
  if (request->params.type() != json_spirit::obj_type)
    return channel->send_error(JSON_RPC_E_INVALID_PARAMS, id,
                               "Invalid params: params type must be object.", none);

  const json_spirit::Object& params = request->params.get_obj();
  const std::string* uuid = nullptr;
  const std::string* moid = nullptr;
  const std::string* subtype = nullptr;
  const std::string* view = nullptr;
  const std::string* type = nullptr;
  std::string search_type;
  std::string name;
  try {
    json_spirit::extract_or_throw(params)("uuid", uuid)("moid", moid)("subtype", subtype)(
        "view", view)("type", type);
    json_spirit::extract(params)("search_type", search_type)("name", name);
  } catch (const std::exception& e) {
    ACE_ERROR((LM_ERROR, "Failed to parse params : %s\n", e.what()));
    return channel->send_error(JSON_RPC_E_INVALID_PARAMS, id, "Invalid params", none);
  }

  Login account;
  if (!get_login_info(*uuid, account))
    return channel->send_error(JSON_RPC_E_INTERNAL_ERROR, id, "Failed to get login info", none);
  RESTful_Client client;
  if (!client.login(account))
    return channel->send_error(JSON_RPC_E_INTERNAL_ERROR, id, "Failed to login tavrocloud", none);

  JSON_RPC_Response* const response = new (std::nothrow) JSON_RPC_Response(request);
  if (response == nullptr) {
    errno = ENOMEM;
    return channel->send_error(JSON_RPC_E_INTERNAL_ERROR, id, "Internal error, out of memory.",
                               none);
  }
  JSON_RPC_Object_ptr reply(response);
  response->result = json_spirit::Array();
  json_spirit::Array& items = response->result.get_array();
  Lister lister(*type, *view, *moid, search_type, name, client);
  switch (name_to_sub_type(*subtype)) {
    case SUB_TYPE_INVENTORY:
      if (!lister.list(items))
        return channel->send_error(JSON_RPC_E_INTERNAL_ERROR, id, "Failed to list items", none);
      break;
    case SUB_TYPE_SEARCH:
      if (!lister.search(items))
        return channel->send_error(JSON_RPC_E_INTERNAL_ERROR, id, "Failed to search items", none);
      break;
    default: {
      const snprintf_t<64, char> message("Invalid subtype %s", subtype->c_str());
      return channel->send_error(JSON_RPC_E_INVALID_PARAMS, id, message.c_str(), none);
    }
  }
  return channel->send(reply);
}

}  // namespace tavrocloud
