// Temporary snapshots: creation with recovery from a snapshot left behind by an earlier
// run, and clearing by repeated deletion. The backup's temporary-snapshot path calls both.
#include "tavrocloud/common/tavrocloud_restful_client.h"

#include "tavrocloud/common/create_tmp_snapshot_response.h"
#include "tavrocloud/common/tavrocloud_restful_client_waits.h"
#include "yolt/countdown.h"

#include <ace/Log_Msg.h>

namespace tavrocloud {
namespace {

// Every temporary snapshot id begins so; the cloud names a residue by it in its refusal.
const char RESIDUE_MARKER[] = "tmpsnap-";

}  // namespace

bool RESTful_Client::create_tmp_snapshot(const std::string& volume_id,
                                         Tmp_Snapshot& tmp_snapshot) {
  Create_Tmp_Snapshot_Response rsp;
  const Params params = {{"VolumeId.1", volume_id}};
  for (int attempt = 0; attempt < MAX_RETRY; ++attempt) {
    if (send_request("CreateTmpSnapshots", params, rsp)) break;
    const std::string& message = rsp.message();
    ACE_ERROR((LM_ERROR, "Failed to create tmp snapshot for volume %s, try count %d, msg: %s.\n",
               volume_id.c_str(), attempt + 1, message.c_str()));

    const std::string::size_type marker = message.find(RESIDUE_MARKER);
    if (marker == std::string::npos) {
      ACE_ERROR((LM_ERROR,
                 "Failed to create tmp snapshot for volume %s, rsp don't contain tmpsnap info, "
                 "exit.\n",
                 volume_id.c_str()));
      return false;
    }
    const std::string::size_type comma = message.find(',', marker);
    if (comma == std::string::npos) {
      ACE_ERROR((LM_ERROR, "Failed to parse tmp snapshot id from error msg, exit.\n"));
      return false;
    }
    const std::string residue_id = message.substr(marker, comma - marker);

    Tmp_Snapshot residue;
    if (!query_tmp_snapshot(residue_id, residue)) {
      ACE_ERROR((LM_ERROR,
                 "Failed to create tmp snapshot for volume %s due to non-residual tmp snapshot "
                 "issue, exit.\n",
                 volume_id.c_str()));
      return false;
    }
    // The id comes from free text: never detach or delete what belongs to another volume.
    if (residue.volume_id != volume_id) {
      ACE_ERROR((LM_ERROR,
                 "Failed to create tmp snapshot for volume %s, the tmp snapshot %s named by the "
                 "cloud belongs to volume %s, exit.\n",
                 volume_id.c_str(), residue_id.c_str(), residue.volume_id.c_str()));
      return false;
    }
    if (residue.status == ATTACHED && !detach_tmp_snapshot(residue_id)) {
      ACE_ERROR((LM_ERROR, "Failed to detach residual tmp snapshot %s for volume %s, exit.\n",
                 residue_id.c_str(), volume_id.c_str()));
      return false;
    }
    // A residue still there makes the next attempt fail the same way and be handled again.
    clear_tmp_snapshot(residue_id);
  }

  const std::vector<std::string>& ids = rsp.tmp_snapshot_ids();
  if (ids.size() != 1) {
    ACE_ERROR((LM_ERROR,
               "Failed to create tmp snapshot for volume %s, tmp snapshot size not 1, size is %d.\n",
               volume_id.c_str(), static_cast<int>(ids.size())));
    return false;
  }
  const std::string id = ids.front();
  tmp_snapshot.id = id;
  Listing_Grace grace;
  auto query = [this, &id, &grace](Tmp_Snapshot& polled) {
    return query_tmp_snapshot(id, polled, &grace);
  };
  return query_resource(query, tmp_snapshot, PENDING, AVAILABLE, WAIT_CREATE_TIMEOUT, &grace);
}

bool RESTful_Client::clear_tmp_snapshot(const std::string& tmp_snapshot_id) {
  for (const Countdown_Iterator::Tick& tick :
       countdown(CLEAR_TMP_SNAPSHOT_TIMEOUT, 1, CLEAR_TMP_SNAPSHOT_INTERVAL, false)) {
    (void)tick;
    Tmp_Snapshot tmp_snapshot;
    if (!query_tmp_snapshot(tmp_snapshot_id, tmp_snapshot)) {
      ACE_DEBUG((LM_DEBUG, "The tmp snapshot %s did not exist and has been cleared successfully.\n",
                 tmp_snapshot_id.c_str()));
      return true;
    }
    // A refused deletion is simply tried again on the next pass.
    delete_tmp_snapshot(tmp_snapshot_id);
  }
  ACE_ERROR((LM_ERROR, "Clear tmp snapshot %s timeout.\n", tmp_snapshot_id.c_str()));
  return false;
}

}  // namespace tavrocloud
