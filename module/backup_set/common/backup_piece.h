// One piece of a backup set: the stored image of one volume, where it lies in the pool
// and how it was cut into blocks. The backup handler builds one per volume and adds it
// to the set (Backup_Set::add_piece); the restore reads them back from the catalog to
// find the images of a volume. Constructors, JSON form and printing are the host
// catalog's (catalog/backup_set.cpp).
#ifndef BACKUP_SET_COMMON_BACKUP_PIECE_H
#define BACKUP_SET_COMMON_BACKUP_PIECE_H

#include "json/json_generator.h"
#include "json/value.h"
#include "models/database/sql/printers/query_result_token_printer.h"

#include <cstdint>
#include <string>

class Backup_Piece : public JSON_Generator, public database::sql::Query_Result_Token_Printer {
 public:
  // An empty piece: no path, no object, size 0, no attributes.
  Backup_Piece();
  // Reads the piece's JSON form; the members "path", "object" (strings), "size"
  // (unsigned 64-bit) and "extended_attrs" (object) are all required. Throws
  // json_spirit::Error when one is missing or of another type.
  explicit Backup_Piece(const json_spirit::Object& obj);
  Backup_Piece(const Backup_Piece&) = default;
  Backup_Piece& operator=(const Backup_Piece&) = default;
  ~Backup_Piece() override;

  // The piece as a JSON object with the four members above.
  json_spirit::Object to_object() const;
  yajl_gen_status generate(yajl_gen gen) const override;

  // Tokens: "path", "object", "size", "block_set_size".
  bool token_value(const std::string& token, std::string& out) const override;

  std::string path;                     // "path": the image's path inside the pool
  std::string object;                   // "object": what the image holds (the volume id)
  uint64_t size = 0;                    // "size": bytes of the source (the device)
  json_spirit::Object extended_attrs;   // "extended_attrs": {"Quillon3": {"block_set_size": n}}
};

#endif  // BACKUP_SET_COMMON_BACKUP_PIECE_H
