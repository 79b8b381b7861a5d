// One storage of a backup set: the pool that holds the set's images and how many bytes
// the pool stored for them. The backup adds it with Backup_Set::add_storage; the
// restore reads the pool identifier back to know where to read. Constructors, JSON form
// and printing are the host catalog's (catalog/backup_set.cpp).
#ifndef BACKUP_SET_COMMON_BACKUP_SET_STORAGE_H
#define BACKUP_SET_COMMON_BACKUP_SET_STORAGE_H

#include "json/json_generator.h"
#include "json/value.h"
#include "models/database/sql/printers/query_result_token_printer.h"

#include <cstdint>
#include <string>

class Backup_Set_Storage : public JSON_Generator,
                           public database::sql::Query_Result_Token_Printer {
 public:
  // No pool, size 0, no extra members.
  Backup_Set_Storage();
  Backup_Set_Storage(std::string pool_uuid, uint64_t size, json_spirit::Object extra);
  // Reads the storage's JSON form: "pool_uuid" (string) is required and throws
  // json_spirit::Error when missing or of another type; "size" (unsigned 64-bit) and
  // "extra" (object) are read when present with that type.
  explicit Backup_Set_Storage(const json_spirit::Object& obj);
  Backup_Set_Storage(const Backup_Set_Storage&) = default;
  Backup_Set_Storage& operator=(const Backup_Set_Storage&) = default;
  ~Backup_Set_Storage() override;

  // The storage as a JSON object: "pool_uuid", "size", "extra".
  json_spirit::Object to_object() const;
  yajl_gen_status generate(yajl_gen gen) const override;

  // Tokens: "pool_uuid", "size".
  bool token_value(const std::string& token, std::string& out) const override;

  std::string pool_uuid;      // "pool_uuid": the storage pool
  uint64_t size = 0;          // "size": bytes the pool stored for all images of the set
  json_spirit::Object extra;  // "extra": the writer's own details ({"code_name": ...})
};

#endif  // BACKUP_SET_COMMON_BACKUP_SET_STORAGE_H
