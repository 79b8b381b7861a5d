// The source half of the backup executor's set-up: every entry of the job's source (the
// cloud, a cluster, a node, a storage or one instance) expanded into the instances it
// selects, less those that are not to be backed up. What the run leaves undone against
// the source's word raises an alert (an entry the cloud cannot list, an instance an entry
// names that is skipped by rule) with a log line that says why; what the job itself asked
// to leave out, and an entry that selects nothing, are logged as warnings. Nothing is
// skipped without a line.
#include "tavrocloud/job/backup_executor.h"

#include "json/json_dump.h"
#include "json_spirit/extract.h"
#include "json_spirit/json_pointer.h"
#include "yolt/check.h"

#include <ace/Log_Msg.h>

#include <algorithm>
#include <iterator>
#include <set>
#include <utility>

namespace tavrocloud {

namespace {

const char* const ENTRY_TYPES[] = {"Cloud", "Cluster", "Node", "Storage", "Instance"};

// Asks the cloud for the object `id` of the entry type `type` (one of ENTRY_TYPES but
// "Instance", whose listing is that question): whether it has it, or why it could not say.
// The cloud itself is always there.
Lookup ask_for_entry(RESTful_Client& client, const std::string& type, const std::string& id) {
  Lookup lookup;
  lookup.answer = Lookup::FOUND;
  if (type == "Cluster") {
    Cluster cluster;
    client.query_cluster(id, cluster, &lookup);
  } else if (type == "Node") {
    Node node;
    client.query_node(id, node, &lookup);
  } else if (type == "Storage") {
    Storage storage;
    client.query_storage(id, storage, &lookup);
  }
  return lookup;
}

json_spirit::Value string_args(std::initializer_list<std::string> args) {
  json_spirit::Array a;
  for (const std::string& s : args) a.emplace_back(s);
  return json_spirit::Value(std::move(a));
}

// Why an instance found for the source is never backed up; null when it may be.
const char* skip_reason(const Instance& inst, const std::string& agent_instance_id) {
  if (inst.name.empty()) return "it has no name";
  if (inst.id == agent_instance_id) return "it is the backup agent's own instance";
  if (inst.status == TERMINATED) return "it is terminated";
  return nullptr;
}

// "N <what>" joined into `text` with ", ".
void count_into(std::string& text, size_t n, const char* what) {
  if (n == 0) return;
  text += (text.empty() ? "" : ", ") + std::to_string(n) + " " + what;
}

}  // namespace

bool Backup_Executor::resolve_entries() {
  const json_spirit::Array* entries = nullptr;
  json_spirit::pextract(src_->value())("/entries", entries);
  YOLT_CHECK_NULL_OR_EMPTY(entries, false);

  const json_spirit::Array* exclusion = nullptr;
  if (opts_->value().type() == json_spirit::obj_type)
    json_spirit::extract(opts_->value().get_obj())("exclusion", exclusion);
  if (exclusion != nullptr && !exclusion->empty()) {
    for (const json_spirit::Value& v : *exclusion)
      if (v.type() == json_spirit::str_type) excluded_vm_.add_pattern(v.get_str());
    ACE_DEBUG((LM_INFO, "Tavrocloud VM exclusion list: %s\n",
               JSON_Dump(json_spirit::Value(*exclusion)).c_str()));
  }

  Instances found;
  for (const json_spirit::Value& entry : *entries) {
    if (entry.type() != json_spirit::obj_type) continue;
    if (!resolve_entry(entry.get_obj(), found)) return false;
  }
  select_instances(found);
  total_instances_ = backup_instances_.size();
  ACE_DEBUG((LM_DEBUG, "There are %d tavro instance ready for backup.\n",
             static_cast<int>(total_instances_)));
  if (total_instances_ > 0) return true;
  report_nothing_to_back_up();
  return false;
}

void Backup_Executor::report_nothing_to_back_up() {
  std::string counts;
  count_into(counts, excluded_instances_, "excluded by the job's exclusion patterns");
  count_into(counts, passed_over_instances_,
             "skipped (terminated, without a name or the backup agent's own)");
  count_into(counts, unlisted_entries_, "source entry(ies) not found or not listed");
  const std::string why = "No tavrocloud instance to back up: " +
                          (counts.empty() ? std::string("the source selects none") : counts);
  ACE_ERROR((LM_ERROR, "%s.\n", why.c_str()));
  set_failure_message(why);
}

bool Backup_Executor::resolve_entry(const json_spirit::Object& entry, Instances& found) {
  const std::string* id = nullptr;
  const std::string* name = nullptr;
  const std::string* type = nullptr;
  const json_spirit::Array* volumes = nullptr;
  json_spirit::extract(entry)("id", id)("name", name)("type", type)("volumes", volumes);
  YOLT_CHECK_NULL_OR_EMPTY(id, false);
  YOLT_CHECK_NULL(name, false);
  YOLT_CHECK_NULL_OR_EMPTY(type, false);

  if (volumes != nullptr) {
    for (const json_spirit::Value& v : *volumes) {
      const std::string* vol_id = nullptr;
      if (v.type() == json_spirit::obj_type) json_spirit::extract(v.get_obj())("vol_id", vol_id);
      if (vol_id != nullptr) volume_selections_[*id].push_back(*vol_id);
    }
  }
  if (std::find(std::begin(ENTRY_TYPES), std::end(ENTRY_TYPES), *type) == std::end(ENTRY_TYPES)) {
    ACE_ERROR((LM_ERROR,
               "Unknown tavro entry type '%s' in backup source, entry id: %s, job_uuid: %s, "
               "name: %s.\n",
               type->c_str(), id->c_str(), def_.id().c_str(), def_.name().c_str()));
    ++unlisted_entries_;
    return true;
  }
  if (*type == "Instance") named_instances_.insert(*id);

  Instances listed;
  std::string reason;
  const bool listed_ok = list_entry(*type, *id, listed, reason);
  if (listed_ok && !listed.empty()) {
    std::move(listed.begin(), listed.end(), std::back_inserter(found));
    return true;
  }
  // An entry that lists nothing is a misspelt one, a cloud that failed, or one that
  // holds no instance now: only the cloud's answer for the object itself tells which
  // (for an Instance entry, its listing was that answer).
  Lookup asked;
  if (*type == "Instance")
    asked.answer = listed_ok ? Lookup::NOT_FOUND : Lookup::FAILED;
  else
    asked = ask_for_entry(*client_, *type, *id);
  if (asked.answer == Lookup::NOT_FOUND) {
    entry_not_listed(*id, *name, *type, "");
  } else if (!listed_ok || asked.answer == Lookup::FAILED) {
    const std::string& why = !listed_ok && !reason.empty() ? reason : asked.reason;
    entry_not_listed(*id, *name, *type, why.empty() ? "the cloud gave no reason" : why);
  } else {
    ACE_DEBUG((LM_WARNING, "Tavrocloud source entry %s (type %s, id %s) selects no instance.\n",
               name->c_str(), type->c_str(), id->c_str()));
  }
  return true;
}

bool Backup_Executor::list_entry(const std::string& type, const std::string& id,
                                 Instances& listed, std::string& reason) {
  if (type == "Cloud") return client_->query_instances(listed, &reason);
  if (type == "Cluster") return client_->query_cluster_instances(id, listed, &reason);
  if (type == "Node") return client_->query_node_instances(id, listed, &reason);
  if (type == "Storage") return client_->query_storage_instances(id, listed, &reason);
  // One instance: one the cloud does not have lists nothing; a failed query keeps the
  // cloud's reason.
  Instance one;
  Lookup lookup;
  if (client_->query_instance(id, one, &lookup)) listed.push_back(std::move(one));
  reason = lookup.reason;
  return lookup.answer != Lookup::FAILED;
}

void Backup_Executor::entry_not_listed(const std::string& id, const std::string& name,
                                       const std::string& type, const std::string& reason) {
  ++unlisted_entries_;
  alert(ALERT_ENTRY_NOT_LISTED, string_args({id, name, type}));
  if (reason.empty())
    ACE_ERROR((LM_ERROR, "Tavrocloud has no %s %s: source entry %s was skipped.\n",
               type.c_str(), id.c_str(), name.c_str()));
  else
    ACE_ERROR((LM_ERROR, "Failed to list the instances of tavrocloud %s %s: %s; source entry "
                         "%s was skipped.\n",
               type.c_str(), id.c_str(), reason.c_str(), name.c_str()));
  ACE_ERROR((LM_ERROR, "Failed to query tavro instance by entry id %s.\n", id.c_str()));
}

void Backup_Executor::select_instances(const Instances& found) {
  std::set<std::string> selected;
  for (const Instance& inst : found) {
    if (const char* why = skip_reason(inst, agent_instance_id_)) {
      pass_over(inst, why);
      continue;
    }
    if (excluded_vm_.match(inst.name)) {
      ACE_DEBUG((LM_WARNING, "Instance (id=%s, name=%s) is excluded from backup.\n",
                 inst.id.c_str(), inst.name.c_str()));
      ++excluded_instances_;
      continue;
    }
    // Two entries may reach one instance (its node and its storage, say): backing it up
    // twice in one run would race two handlers over the same volumes.
    if (!selected.insert(inst.id).second) {
      ACE_DEBUG((LM_DEBUG, "Tavrocloud instance %s is named by several source entries, "
                           "backed up once.\n", inst.id.c_str()));
      continue;
    }
    Instance_Backup_Info info;
    info.instance_id = inst.id;
    info.instance_name = inst.name;
    info.storage_id = inst.storage_id;
    info.host_address = inst.host_address;
    info.status = inst.status;
    info.availability_zone = inst.availability_zone;
    auto selection = volume_selections_.find(inst.id);
    if (selection != volume_selections_.end() && !selection->second.empty())
      info.backup_vol_ids = std::move(selection->second);
    backup_instances_.push_back(std::move(info));
  }
}

void Backup_Executor::pass_over(const Instance& inst, const char* why) {
  ACE_DEBUG((LM_DEBUG, "Skip backup tavro instance %s, name %s, status %d.\n", inst.id.c_str(),
             inst.name.c_str(), static_cast<int>(inst.status)));
  ++passed_over_instances_;
  if (inst.name.empty()) alert(ALERT_NAMELESS_SKIPPED, string_args({inst.id}));
  // The agent and terminated instances a whole cloud, cluster, node or storage holds are
  // passed over quietly; one the source names is work the run leaves undone. Said once.
  if (named_instances_.erase(inst.id) != 0)
    alert(ALERT_INSTANCE_SKIPPED, string_args({inst.id, inst.name, why}));
}

}  // namespace tavrocloud
