// The catalog record of one backup: what was backed up, by which job, when, and where
// its images lie (storages and pieces). A module derives its own record from it
// (Tavro_Backup_Set) and commits it through the catalog client
// (catalog/restful_catalog_operator.h); the restore reads it back through a catalog
// view. Constructors, JSON form and printing are the host catalog's
// (catalog/backup_set.cpp); the copies are inline so that the module can keep records
// in vectors.
#ifndef BACKUP_SET_COMMON_BACKUP_SET_H
#define BACKUP_SET_COMMON_BACKUP_SET_H

#include "backup_set/common/backup_piece.h"
#include "backup_set/common/backup_set_storage.h"
#include "json/json_generator.h"
#include "json/value.h"
#include "models/database/sql/printers/query_result_token_printer.h"

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

class Backup_Set : public JSON_Generator, public database::sql::Query_Result_Token_Printer {
 public:
  // Every text empty, every number and time 0, no storages, no pieces.
  Backup_Set();
  Backup_Set(const Backup_Set&) = default;
  Backup_Set& operator=(const Backup_Set&) = default;
  ~Backup_Set() override;

  // The word under which the catalog files the sets of one module ("tavro"); empty for
  // a set of no module, which the catalog refuses.
  virtual const char* module() const;

  // Appends a storage: the pool, the bytes it stored for the set, the writer's extra
  // details.
  void add_storage(const std::string& pool_uuid, uint64_t size, const json_spirit::Object& extra);
  // Appends a copy of `piece`.
  void add_piece(const Backup_Piece& piece);
  // Copies of the pieces whose "object" is `object` (a volume id), in the set's order;
  // empty when there are none.
  std::vector<Backup_Piece> get_pieces(const std::string& object) const;

  // The set's time point: its start time in UTC as "%Y%m%d%H%M%S" (14 digits), the
  // stamp the backup also puts into its image names. The restore view finds sets by it.
  std::string timepoint() const;

  // The set as one JSON object: every member below under its key, the storages and
  // pieces always as arrays (empty ones included).
  json_spirit::Object to_object() const;
  yajl_gen_status generate(yajl_gen gen) const override;

  // Replaces the set's contents with those of its JSON form. Required (json_spirit::Error
  // when missing or of another type): "uuid", "incarnation", "name", "type", "uid",
  // "uri", "instance_version" (strings), "size", "source_size" (signed 64-bit), and the
  // arrays "storages" and "pieces", whose object elements are read as storages and
  // pieces (other elements are skipped). The other members are read when present with
  // their type. On a throw the set is left partly filled; callers discard it.
  virtual void load(const json_spirit::Object& obj);

  // Tokens: "module", "uuid", "name", "type", "uri", "timepoint", "start_time",
  // "end_time" (UTC "YYYY-MM-DD HH:MM:SS"), "size", "source_size", "resource_uuid",
  // "host_name", "pool_uuid" (of the first storage), "storages", "pieces" (counts).
  bool token_value(const std::string& token, std::string& out) const override;

  // Identity and origin.
  std::string uuid;               // "uuid": the set
  std::string incarnation;        // "incarnation"
  std::string name;               // "name": the job definition's name
  std::string type;               // "type": "full", ...
  std::string uid;                // "uid": the job run
  std::string uri;                // "uri": "<host id>/<definition id>"
  std::string instance_version;   // "instance_version"
  std::string job_id;             // "job_id"
  std::string def_id;             // "def_id"
  std::string host_id;            // "host_id"
  std::string resource_uuid;      // "resource_uuid": the protected resource (job source)
  std::string minor_resource_id;  // "minor_resource_id": see compute_minor_resource_id
  std::string resource_name;      // "resource_name": the protected item's name
  std::string agent;              // "agent"
  std::string host_name;          // "host_name": the backup host
  // Sizes in bytes.
  int64_t size = 0;          // "size"
  int64_t source_size = 0;   // "source_size"
  // Seconds since the epoch.
  time_t start_time = 0;     // "start_time"
  time_t end_time = 0;       // "end_time"
  std::vector<Backup_Set_Storage> storages;  // "storages"
  std::vector<Backup_Piece> pieces;          // "pieces"

 protected:
  // Adds the members of a derived record to the object to_object() builds.
  virtual void write_members(json_spirit::Object& obj) const;
};

#endif  // BACKUP_SET_COMMON_BACKUP_SET_H
