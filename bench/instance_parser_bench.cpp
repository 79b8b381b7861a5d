// Speed of reading a large instance listing: a DescribeInstances answer of 5,000
// instances (two volumes, two network interfaces, tags and groups each, pretty-printed
// as a cloud sends it) through the path the client uses, bytes -> XML feeding -> parser
// -> records, against the bare XML parser (expat reading the same text with no handler
// at all) and the client's XML feeding with a handler that does nothing.
// Goals: a median of at most 100 ms, and at most twice the bare parser.
// Also one element of 5,000 attributes against an answer of 5,000 elements of the same
// size through the client's XML feeding: attributes cost time linear in their number,
// so the two stay within a small multiple of each other.
// bench-component: mod_tc_common
#include <benchmark/benchmark.h>

#include <expat.h>

#include <algorithm>
#include <string>

#include "cloud/api_xml_response.h"
#include "tavrocloud/common/get_instance_response.h"

namespace {

const int INSTANCES = 5000;

std::string instance_item(int n) {
  const std::string id = "i-" + std::to_string(100000 + n);
  const std::string ip = "10.10." + std::to_string(n / 250) + "." + std::to_string(n % 250);
  std::string x = "        <item>\n          <instanceId>" + id + "</instanceId>\n";
  x += "          <instanceName>vm-" + std::to_string(n) + "</instanceName>\n";
  x += "          <imageId>img-centos7-x64</imageId>\n";
  x += "          <instanceState><code>16</code><name>running</name></instanceState>\n";
  x += "          <ipAddress>" + ip + "</ipAddress>\n";
  x += "          <instanceType>ts.medium</instanceType><vmtype_cpu>2</vmtype_cpu>"
       "<vmtype_mem>4096</vmtype_mem>\n";
  x += "          <mainNetifMac>52:54:00:00:" + std::to_string(10 + n % 80) + ":01</mainNetifMac>\n";
  x += "          <placement><availabilityZone>cluster-a</availabilityZone></placement>\n";
  x += "          <hostAddress>node-a1</hostAddress><subnetId>subnet-prod-a</subnetId>"
       "<vpcId>vpc-prod</vpcId><storageId>st-ceph-01</storageId>\n";
  x += "          <blockDeviceMapping>\n";
  for (int v = 0; v < 2; ++v) {
    x += "            <item><deviceName>/dev/vd" + std::string(1, static_cast<char>('a' + v)) +
         "</deviceName><ebs><volumeId>vol-" + std::to_string(n) + "-" + std::to_string(v) +
         "</volumeId><status>attached</status><size>" + std::to_string(20 + v) +
         "</size><deleteOnTermination>false</deleteOnTermination></ebs></item>\n";
  }
  x += "          </blockDeviceMapping>\n";
  x += "          <groupSet><item><groupId>sg-web</groupId><groupName>web</groupName></item>"
       "<item><groupId>sg-db</groupId><groupName>db</groupName></item></groupSet>\n";
  x += "          <tagSet><item><key>Name</key><value>vm-" + std::to_string(n) +
       "</value></item><item><key>tier</key><value>web</value></item></tagSet>\n";
  x += "          <nifInfo>{\"nifInfo\": [{\"netifId\": \"eni-" + std::to_string(n) +
       "-0\", \"netifType\": \"main\", \"privateip\": \"" + ip +
       "\", \"publicip\": \"\", \"priSubnetId\": \"subnet-prod-a\"}, {\"netifId\": \"eni-" +
       std::to_string(n) + "-1\", \"netifType\": \"extend\", \"privateip\": \"192.168.100." +
       std::to_string(n % 250) + "\", \"publicip\": \"\", \"priSubnetId\": \"subnet-public\"}]}"
       "</nifInfo>\n";
  return x + "        </item>\n";
}

const std::string& listing() {
  static const std::string xml = [] {
    std::string x =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<DescribeInstancesResponse "
        "xmlns=\"http://ec2.amazonaws.com/doc/2016-11-15/\">\n  <requestId>r-1</requestId>\n"
        "  <reservationSet>\n";
    for (int r = 0; r < INSTANCES / 10; ++r) {
      x += "    <item>\n      <reservationId>r-" + std::to_string(r) +
           "</reservationId><ownerId>owner-1</ownerId>\n      <groupSet><item><groupId>sg-web"
           "</groupId><groupName>web</groupName></item></groupSet>\n      <instancesSet>\n";
      for (int i = 0; i < 10; ++i) x += instance_item(r * 10 + i);
      x += "      </instancesSet>\n    </item>\n";
    }
    return x + "  </reservationSet>\n</DescribeInstancesResponse>\n";
  }();
  return xml;
}

// The XML parser alone, set up as the client sets it up (namespaces, the same slices).
void BM_Bare_XML_Parser(benchmark::State& state) {
  const std::string& xml = listing();
  const size_t slice = size_t(1) << 20;
  for (auto _ : state) {
    XML_Parser parser = XML_ParserCreateNS(nullptr, '\x01');
    XML_SetReturnNSTriplet(parser, 1);
    bool ok = true;
    for (size_t done = 0; ok && done < xml.size();) {
      const size_t n = std::min(slice, xml.size() - done);
      ok = XML_Parse(parser, xml.data() + done, static_cast<int>(n), done + n == xml.size()) ==
           XML_STATUS_OK;
      done += n;
    }
    XML_ParserFree(parser);
    if (!ok) state.SkipWithError("the listing did not parse");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * xml.size()));
}

void BM_Bare_XML_Feeding(benchmark::State& state) {
  const std::string& xml = listing();
  for (auto _ : state) {
    cloud::API_XML_Response bare("DescribeInstances");
    if (!bare.handle_body(xml)) state.SkipWithError("the listing did not parse");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * xml.size()));
}

void BM_Instance_Parser(benchmark::State& state) {
  const std::string& xml = listing();
  for (auto _ : state) {
    tavrocloud::Get_Instance_Response rsp;
    if (!rsp.handle_body(xml.data(), xml.size()) || rsp.instances().size() != INSTANCES ||
        rsp.instances().back().volumes.size() != 2 ||
        rsp.instances().back().network_interfaces.size() != 2) {
      state.SkipWithError("the listing did not give its records");
    }
    benchmark::DoNotOptimize(rsp.instances().data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * xml.size()));
}

const int ATTRIBUTES = 5000;

// ATTRIBUTES elements <a0>value-100000</a0>... below the root.
const std::string& many_elements() {
  static const std::string xml = [] {
    std::string x = "<DescribeInstancesResponse>";
    for (int i = 0; i < ATTRIBUTES; ++i) {
      const std::string name = "a" + std::to_string(i);
      x += "<" + name + ">value-" + std::to_string(100000 + i) + "</" + name + ">";
    }
    return x + "</DescribeInstancesResponse>";
  }();
  return xml;
}

// One element with ATTRIBUTES attributes of the same names and values, padded with white
// space between them to the same size.
const std::string& many_attributes() {
  static const std::string xml = [] {
    const size_t size = many_elements().size();
    std::string x = "<DescribeInstancesResponse";
    for (int i = 0; i < ATTRIBUTES; ++i) {
      x += " a" + std::to_string(i) + "=\"value-" + std::to_string(100000 + i) + "\"";
      while (x.size() * ATTRIBUTES < size * (i + 1)) x += ' ';
    }
    return x + "/>";
  }();
  return xml;
}

void feed(benchmark::State& state, const std::string& xml) {
  for (auto _ : state) {
    cloud::API_XML_Response bare("DescribeInstances");
    if (!bare.handle_body(xml)) state.SkipWithError("the answer did not parse");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * xml.size()));
  state.counters["bytes"] = static_cast<double>(xml.size());
}

void BM_Element_Of_5000_Attributes(benchmark::State& state) { feed(state, many_attributes()); }
void BM_Answer_Of_5000_Elements(benchmark::State& state) { feed(state, many_elements()); }

BENCHMARK(BM_Element_Of_5000_Attributes)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(11)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_Answer_Of_5000_Elements)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(11)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_Bare_XML_Parser)->Unit(benchmark::kMillisecond)->Repetitions(11)->ReportAggregatesOnly(true);
BENCHMARK(BM_Bare_XML_Feeding)->Unit(benchmark::kMillisecond)->Repetitions(11)->ReportAggregatesOnly(true);
BENCHMARK(BM_Instance_Parser)->Unit(benchmark::kMillisecond)->Repetitions(11)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
