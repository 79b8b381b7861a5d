#include "tavrocloud/common/flat_response.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tavrocloud/common/get_image_response.h"
#include "tavrocloud/common/get_instance_type_response.h"
#include "tavrocloud/common/get_node_response.h"
#include "tavrocloud/common/get_snapshot_response.h"
#include "tavrocloud/common/get_subnet_response.h"
#include "tavrocloud/common/get_tmp_snapshot_response.h"
#include "tavrocloud/common/get_vpc_response.h"
#include "xml_answer.h"

namespace tc = tavrocloud;
using test::answer;

namespace {

// Each list parser, one answer after the other: the ids of its records.
struct List_Parser {
  const char* root;
  const char* id;  // the element of a record's id
  std::function<std::unique_ptr<tc::Flat_Response>()> make;
  std::function<std::vector<std::string>(const tc::Flat_Response&)> ids;
};

template <typename Response, typename Records>
List_Parser list_parser(const char* root, const char* id, const Records& (Response::*records)()
                                                              const,
                        std::string (*id_of)(const typename Records::value_type&)) {
  return {root, id, [] { return std::unique_ptr<tc::Flat_Response>(new Response); },
          [records, id_of](const tc::Flat_Response& rsp) {
            std::vector<std::string> out;
            for (const auto& r : (static_cast<const Response&>(rsp).*records)()) {
              out.push_back(id_of(r));
            }
            return out;
          }};
}

template <typename Record>
std::string id_field(const Record& r) {
  return r.id;
}
std::string type_field(const tc::Instance_Type& t) { return t.type; }

std::string xml(const List_Parser& p, const std::string& inner) {
  return std::string("<") + p.root + ">" + inner + "</" + p.root + ">";
}
std::string item(const List_Parser& p, const std::string& id) {
  return "<item><" + std::string(p.id) + ">" + id + "</" + p.id + "></item>";
}

// What every parser of a flat list shares: one record per item, in order; a field outside
// any item is dropped; each root starts the list afresh; an error answer keeps the list
// and carries its message; text where two text elements are open is dropped.
TEST(Flat_Response, ListParsersShareTheEventPattern) {
  const List_Parser parsers[] = {
      list_parser("DescribeImagesResponse", "imageId", &tc::Get_Image_Response::images,
                  &id_field<tc::Image>),
      list_parser("DescribeInstanceTypesResponse", "instanceType",
                  &tc::Get_Instance_Type_Response::instance_types, &type_field),
      list_parser("DescribeNodesResponse", "nodeId", &tc::Get_Node_Response::nodes,
                  &id_field<tc::Node>),
      list_parser("DescribeSnapshotsResponse", "snapshotId", &tc::Get_Snapshot_Response::snapshots,
                  &id_field<tc::Snapshot>),
      list_parser("DescribeTmpSnapshotsResponse", "tmpSnapshotId",
                  &tc::Get_Tmp_Snapshot_Response::tmp_snapshots, &id_field<tc::Tmp_Snapshot>),
      list_parser("DescribeSubnetsResponse", "subnetId", &tc::Get_Subnet_Response::subnets,
                  &id_field<tc::Subnet>),
      list_parser("DescribeVpcsResponse", "vpcId", &tc::Get_Vpc_Response::vpcs,
                  &id_field<tc::Vpc>),
  };
  for (const List_Parser& p : parsers) {
    SCOPED_TRACE(p.root);
    const std::unique_ptr<tc::Flat_Response> rsp = p.make();
    const std::string stray = "<" + std::string(p.id) + ">stray</" + p.id + ">";

    EXPECT_TRUE(answer(*rsp, xml(p, stray + item(p, "a") + "<item/>" + item(p, "c"))));
    EXPECT_EQ((std::vector<std::string>{"a", "", "c"}), p.ids(*rsp));

    EXPECT_FALSE(answer(*rsp, test::error_document("no such thing"), 400));
    EXPECT_EQ("no such thing", rsp->message());
    EXPECT_EQ((std::vector<std::string>{"a", "", "c"}), p.ids(*rsp));

    const std::string nested_message = "<item><" + std::string(p.id) + ">d<Message>m</Message></" +
                                       p.id + "></item>";
    EXPECT_TRUE(answer(*rsp, xml(p, nested_message)));
    EXPECT_EQ((std::vector<std::string>{"d"}), p.ids(*rsp));
    EXPECT_EQ("no such thing", rsp->message());

    EXPECT_TRUE(answer(*rsp, xml(p, "")));
    EXPECT_TRUE(p.ids(*rsp).empty());
  }
}

}  // namespace
