// The attachment lock file: jobs of one host run in processes of their own, so an
// attachment (of a volume, or of a temporary snapshot, which the cloud names by the next
// free device as well) waits while another holder has the instance's lock file, a stop
// ends that wait, and a lock file that cannot be had fails the attachment before any
// request.
#include "tavrocloud/common/tavrocloud_restful_client.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "scripted_cloud.h"
#include "support/sleep_recorder.h"
#include "support/temp_home.h"
#include "yolt/lock_file.h"

TEST_TEMP_HOME();

namespace {

using namespace test;
using tavrocloud::RESTful_Client;

const Script ATTACHED = {volume("vol-1", "in-use", "i-agent", "/dev/vda", "attached"),
                         ok("AttachVolume"),
                         volume("vol-new", "in-use", "i-agent", "/dev/vdb", "attached")};
const Script TMP_ATTACHED = {result("AttachTmpSnapshot"),
                             tmp_snapshot("tmpsnap-1", "attached", "vol-1", "i-agent")};

TEST_F(Scripted_Client_Test, Attachment_Waits_For_The_Lock_File_Of_Other_Jobs) {
  const struct {
    std::string name;
    bool tmp;          // a temporary snapshot is attached, not a volume
    bool held;         // another holder has i-agent's lock file at the start
    size_t let_go_at;  // the wait at which the holder lets go (0: never)
    int stop_at;       // the question about a stop answered yes first (0: never)
    bool no_home;      // the home's lock folder is a plain file
    std::string want;  // verdict, device and the waits
    std::string logged;
  } rows[] = {
      {"free: attached at once", false, false, 0, 0, false, "ok /dev/vdb", ""},
      {"held, let go at the second wait", false, true, 2, 0, false, "ok /dev/vdb slept 1 1", ""},
      {"held, stopped at the third question", false, true, 0, 3, false, "failed - slept 1 1",
       "Stopped while another job of this host was attaching a volume to instance i-agent; "
       "nothing attached.\n"},
      {"lock file cannot be had", false, false, 0, 0, true, "failed -",
       "Failed to lock the attachments to instance i-agent, which keeps other jobs of this "
       "host from choosing the same device name; nothing attached.\n"},
      {"snapshot, held, let go at the second wait", true, true, 2, 0, false, "ok - slept 1 1", ""},
      {"snapshot, held, stopped at the third question", true, true, 0, 3, false,
       "failed - slept 1 1",
       "Stopped while another job of this host was attaching a volume to instance i-agent; "
       "nothing attached.\n"},
      {"snapshot, lock file cannot be had", true, false, 0, 0, true, "failed -",
       "Failed to lock the attachments to instance i-agent, which keeps other jobs of this "
       "host from choosing the same device name; nothing attached.\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Temp_Dir unusable("quillon3-no-lock-");
    std::ofstream(unusable.path() + "/lock") << "not a folder";
    std::unique_ptr<Scoped_Env> root;
    if (row.no_home) root = std::make_unique<Scoped_Env>("QUILLON3_ROOT", unusable.path().c_str());
    yolt::Lock_File holder(RESTful_Client::attachment_lock_kind());
    if (row.held) {
      ASSERT_EQ(yolt::Lock_File::TAKEN, holder.try_lock("i-agent"));
    }
    Sleep_Recorder sleeps([&](size_t n) {
      if (n == row.let_go_at) holder.release();
    });
    const bool goes_on = !row.no_home && (!row.held || row.let_go_at != 0);
    if (goes_on) cloud.expect_all(row.tmp ? TMP_ATTACHED : ATTACHED);
    int asked = 0;
    const auto stopped = [&] { return ++asked == row.stop_at; };
    std::string device = "-";
    const bool ok = row.tmp ? client.attach_tmp_snapshot("tmpsnap-1", "i-agent", stopped)
                            : client.attach_volume_to_agent("i-agent", "vol-new", device,
                                                            nullptr, stopped);
    std::string shown = (ok ? "ok " : "failed ") + device;
    for (size_t i = 0; i < sleeps.waits().size(); ++i)
      shown += (i == 0 ? " slept " : " ") + std::to_string(sleeps.waits()[i]);
    EXPECT_EQ(row.want, shown);
    EXPECT_TRUE(row.logged.empty() || log.contains(row.logged, LM_ERROR)) << log.text();
    EXPECT_EQ(goes_on, !cloud.sent_text().empty());
    cloud.forget_sent();
    log.clear();
  }
}

}  // namespace
