// Shared fixtures of the job tests: jobs made from JSON documents, and a storage pool in a
// temporary directory registered in the test binary's pool registry, into which images
// are written from test data as the backup writes them.
#ifndef TESTS_MODULE_TAVROCLOUD_JOB_FIXTURES_H
#define TESTS_MODULE_TAVROCLOUD_JOB_FIXTURES_H

#include "client_io/image_block_writer.h"
#include "job_engine/job.h"
#include "json/json_load.h"
#include "pool/client_io.h"
#include "pool/pool_registry.h"
#include "support/temp_home.h"
#include "tavrocloud/job/job_parameters.h"

#include <ace/Refcounted_Auto_Ptr.h>
#include <ace/Thread_Mutex.h>
#include <gtest/gtest.h>

#include <string>

namespace test {

// A job `id` of `type`, with the source and options documents when given.
inline Job_var make_job(const std::string& id, Job_Definition_Type type,
                        const std::string& source = "", const std::string& options = "",
                        Job_Definition_Subtype subtype = JOB_DEFINITION_SUBTYPE_VM) {
  Job_Definition_var def(new Job_Definition);
  def->set_id(id);
  def->set_type(type);
  def->set_subtype(subtype);
  def->set_host_id("cloud-1");
  def->set_target(Job_Target("pool-1", "Pool One", ""));
  const auto document = [](const std::string& text) {
    using Parameters = tavrocloud::Job_Parameters;
    ACE_Refcounted_Auto_Ptr<Parameters, ACE_Thread_Mutex> doc(new Parameters);
    doc->value() = json_spirit::JSON_Load(text);
    doc->set_id("res-1");
    return doc;
  };
  if (!source.empty()) def->set_source(document(source));
  if (!options.empty()) def->set_options(document(options));
  return Job_var(new Job(def));
}

class Test_Pool {
 public:
  explicit Test_Pool(const std::string& uuid) : dir_("restore-pool-") {
    Pool_Record rec;
    rec.uuid = rec.name = uuid;
    rec.url = url();
    EXPECT_TRUE(Pool_Registry().add(rec));
  }
  std::string url() const { return "file://" + dir_.path(); }
  std::string path(const std::string& name) const { return dir_.path() + "/" + name; }

  // Writes `data` as the image `name` with `block` bytes per block.
  void write_image(const std::string& name, const std::string& data, size_t block) {
    Client_IO_Base::Options opts;
    opts.compression_method = COMPR_ZSTD;
    Client_IO_Ex io;
    ASSERT_TRUE(io.connect(url(), opts));
    ASSERT_TRUE(io.open(name, Client_IO_Base::MODE_WRITE, 0, 0));
    Image_Block_Writer writer(&io);
    ASSERT_TRUE(writer.init(512, block, 1, 0));
    const std::string set(16, 'S'), image(16, 'I');
    ASSERT_TRUE(writer.write_superblock(set, image, 0, nullptr, 0));
    writer.add_block(0, data.size());
    ASSERT_TRUE(writer.write_blocks(nullptr, [&](const char*& p, ssize_t n, ACE_OFF_T off) {
      p = data.data() + off;
      return n;
    }));
    ASSERT_TRUE(io.close());
  }

 private:
  Temp_Dir dir_;
};

}  // namespace test

#endif  // TESTS_MODULE_TAVROCLOUD_JOB_FIXTURES_H
