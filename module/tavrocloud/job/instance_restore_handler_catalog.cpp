// The instance restore handler's reading of the catalog: the backup sets of the
// instance at the entry's time point, the instance description of the newest set, and
// per volume the pieces to write, one list per set.
#include "tavrocloud/job/instance_restore_handler.h"

#include "catalog/restful_catalog_operator.h"
#include "pool/pool_info.h"
#include "tavrocloud/job/backup_set_record.h"
#include "yolt/check.h"

#include <ace/Log_Msg.h>

#include <climits>
#include <map>

namespace tavrocloud {

namespace {

// `value` when it is not empty, else `fallback`.
std::string or_default(const std::string& value, const char* fallback) {
  return value.empty() ? std::string(fallback) : value;
}

// The block size the backup recorded for a piece: its "Quillon3" attribute's
// "block_set_size" (0 when the attribute lacks it), or the piece's own size when the
// piece has no such attribute. The volume restore checks it against the image itself.
size_t recorded_block_size(const Backup_Piece& piece) {
  const json_spirit::Object* attrs = json_spirit::object_get_object(piece.extended_attrs, "Quillon3");
  if (attrs == nullptr) return static_cast<size_t>(piece.size);
  unsigned long size = 0;
  json_spirit::object_get(*attrs, "block_set_size", size);
  return static_cast<size_t>(size);
}

}  // namespace

bool get_restore_view(RESTful_Catalog_Operator& catalog, const Base_Params& base,
                      const Restore_Source_Entry& entry, const char* failed,
                      json_spirit::Value& val) {
  const std::map<std::string, std::string> keys = {{"resource_uuid", base.resource_uuid},
                                                   {"instance_id", entry.instance_src_id},
                                                   {"timepoint", entry.backup_start_time}};
  if (!catalog.get_view("tavro", "restore", keys, val)) {
    ACE_ERROR((LM_ERROR, failed, base.resource_uuid.c_str(), entry.instance_src_id.c_str(),
               entry.backup_start_time.c_str()));
    return false;
  }
  YOLT_CHECK_JSON_ARRAY(val, false);
  const bool found = [&val] {
    YOLT_CHECK_JSON_NONEMPTY(val.get_array(), false);
    return true;
  }();
  // The check's text alone does not tell the user which of the three keys missed.
  if (!found)
    ACE_ERROR((LM_ERROR, "The catalog holds no backup set of tavrocloud instance %s at time "
                         "point %s under the source id %s; 'quillon3 catalog list' shows the "
                         "sets it holds (INSTANCE, TIMEPOINT, RESOURCE).\n",
               entry.instance_src_id.c_str(), entry.backup_start_time.c_str(),
               base.resource_uuid.c_str()));
  return found;
}

bool Instance_Restore_Handler::load_catalog(std::vector<Tavro_Backup_Set>& sets) {
  const Base_Params& base = params_.base;
  const Restore_Source_Entry& entry = params_.entry;
  RESTful_Catalog_Operator catalog(base.backupd_host, base.backupd_port, base.backupd_ssl,
                                   base.access_key, -1, base.max_seconds_retry);
  json_spirit::Value val;
  if (!get_restore_view(catalog, base, entry,
                        "Failed to retrieve backup sets of tavrocloud resource_uuid=%s "
                        "instance id=%s start_time=%s.\n",
                        val)) {
    return false;
  }
  sets.clear();
  for (const json_spirit::Value& cat : val.get_array()) {
    YOLT_CHECK_JSON_OBJECT(cat, false);
    Tavro_Backup_Set set;
    if (!load_backup_set(cat.get_obj(), set)) return false;
    sets.push_back(std::move(set));
  }
  return !sets.empty();
}

bool Instance_Restore_Handler::parse_source_instance(const std::vector<Tavro_Backup_Set>& sets) {
  if (sets.empty()) return false;
  const Tavro_Backup_Set& last = sets.back();
  Restore_Source_Entry& entry = params_.entry;
  entry.storage_id = last.instance_info.storage_id;
  entry.platform = last.instance_info.platform;
  entry.architecture = or_default(last.image_info.architecture, "x86_64");
  entry.image_type = "vm";
  entry.attach_diskbus = "virtio";
  entry.diskbus = or_default(last.image_info.disk_bus, "virtio");
  entry.boot_loader = or_default(last.image_info.boot_loader, "mbr");
  entry.content_mode = or_default(last.image_info.content_mode, "qemu_raw");
  entry.schedule_tag = last.instance_info.schedule_tag;
  entry.storage_schedule_tag = last.instance_info.storage_schedule_tag;

  restore_volumes_.clear();
  bool has_root = false;
  for (const Restore_Source_Entry::Volume& src : entry.volumes) {
    auto vol = std::make_shared<Volume_Restore_Info>();
    vol->is_root = src.id == last.instance_info.root_volume_id;
    has_root = has_root || vol->is_root;
    vol->src_vol_id = src.id;
    vol->src_vol_name = src.name;
    if (src.size == 0 || src.size > static_cast<uint64_t>(INT_MAX)) {
      ACE_ERROR((LM_ERROR, "Invalid size %Q GiB of volume %s.\n",
                 static_cast<unsigned long long>(src.size), src.id.c_str()));
      return false;
    }
    vol->size = static_cast<int>(src.size);
    vol->storage_id = src.storage_id;
    vol->storage_type = src.storage_type;
    const Tavro_Backup_Set::Volume* backed = nullptr;
    for (const Tavro_Backup_Set::Volume& v : last.volumes)
      if (v.id == src.id) backed = &v;
    if (backed == nullptr) {
      ACE_ERROR((LM_ERROR, "Failed to get volume %s info from bset %s.\n", src.id.c_str(),
                 last.uri.c_str()));
      return false;
    }
    vol->src_dev_name = backed->device_name;
    if (!add_piece_lists(sets, src.id, *vol)) return false;
    restore_volumes_.push_back(std::move(vol));
  }
  // Without its root volume a VM restore could build no instance, and its data volumes
  // would be attached to whatever the entry names.
  if (params_.restore_vm && !has_root) {
    ACE_ERROR((LM_ERROR, "The restore of instance %s lacks its root volume %s.\n",
               entry.instance_src_id.c_str(), last.instance_info.root_volume_id.c_str()));
    return false;
  }
  return true;
}

bool Instance_Restore_Handler::add_piece_lists(const std::vector<Tavro_Backup_Set>& sets,
                                               const std::string& vol_id,
                                               Volume_Restore_Info& vol) {
  for (auto set = sets.rbegin(); set != sets.rend(); ++set) {
    std::string pool_uuid = params_.base.pool_uuid;
    if (pool_uuid.empty() && !set->storages.empty()) pool_uuid = set->storages.front().pool_uuid;
    if (pool_uuid.empty()) {
      ACE_ERROR((LM_ERROR, "Failed to get storage pool for bset %s.\n", set->uri.c_str()));
      return false;
    }
    Volume_Restore_Info::Storage_Pool pool;
    if (!get_pool(pool_uuid, set->uri, pool)) return false;
    const std::vector<Backup_Piece> pieces = set->get_pieces(vol_id);
    if (pieces.empty()) {
      ACE_ERROR((LM_ERROR, "Failed to get pieces for bset %s and volume %s.\n", set->uri.c_str(),
                 vol_id.c_str()));
      return false;
    }
    Volume_Restore_Info::Pieces list;
    for (const Backup_Piece& p : pieces) {
      Volume_Restore_Info::Piece piece;
      piece.pool = pool;
      piece.remote_path = p.path;
      piece.block_size = recorded_block_size(p);
      list.push_back(std::move(piece));
    }
    vol.timepoint_piece_list.push_back(std::move(list));
  }
  return true;
}

bool Instance_Restore_Handler::get_pool(const std::string& pool_uuid, const std::string& uri,
                                        Volume_Restore_Info::Storage_Pool& pool) {
  const Base_Params& base = params_.base;
  Pool_Info info;
  if (!get_pool_info(rest_client_, pool_uuid.c_str(), nullptr, info, false, nullptr,
                     base.max_seconds_retry, -1, true, nullptr, nullptr, false)) {
    ACE_ERROR((LM_ERROR, "Failed to get details of storage pool %s.\n", pool_uuid.c_str()));
    // The definition's target_pool plays no part in where a restore reads, which a user
    // who registered only that pool cannot know.
    if (base.pool_uuid.empty())
      ACE_ERROR((LM_ERROR, "Storage pool %s is where backup set %s was written: a restore reads "
                           "its images there, or from the pool the source's pool_uuid names, "
                           "never from the definition's target_pool.\n",
                 pool_uuid.c_str(), uri.c_str()));
    else
      ACE_ERROR((LM_ERROR, "Storage pool %s is the one the source's pool_uuid names: a restore "
                           "reads its images there, never from the definition's target_pool.\n",
                 pool_uuid.c_str()));
    return false;
  }
  pool.io_opts = base.io_opts;
  if (!set_options_by_pool(pool.io_opts, info)) return false;
  pool.url = info.url + "/" + uri;
  return true;
}

}  // namespace tavrocloud
