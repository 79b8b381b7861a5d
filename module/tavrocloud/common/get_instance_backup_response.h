// Parser of the answer to "DescribeInstanceBackups": the instance backups of an instance
// with their disks, which the cloud lists as one JSON text per backup. The backup without
// temporary snapshots waits on it and makes volumes from the disks' snapshots.
#ifndef TAVROCLOUD_COMMON_GET_INSTANCE_BACKUP_RESPONSE_H
#define TAVROCLOUD_COMMON_GET_INSTANCE_BACKUP_RESPONSE_H

#include "tavrocloud/common/default_response.h"
#include "tavrocloud/common/tavrocloud_instance_backup.h"

namespace tavrocloud {

class Get_Instance_Backup_Response : public Default_Response {
 public:
  Get_Instance_Backup_Response();

  const Instance_Backups& instance_backups() const { return instance_backups_; }

  // Decodes one "blockDeviceMapping" text (a JSON array of disks) into the last instance
  // backup. False, logged, when the text is no JSON array or a disk lacks "isRoot" or
  // "snapshotId"; the backup then keeps its list.
  bool parse_block_device_mappings(const char* text, size_t length);

  void characters(const ACEXML_Char* ch, size_t start, size_t length) override;
  void endElement(const ACEXML_Char* namespace_uri, const ACEXML_Char* local_name,
                  const ACEXML_Char* q_name) override;
  void startElement(const ACEXML_Char* namespace_uri, const ACEXML_Char* local_name,
                    const ACEXML_Char* q_name, ACEXML_Attributes* atts) override;

  enum {
    ELEMENT_NONE = 0,
    ELEMENT_ROOT = 1,
    ELEMENT_ITEM = 2,
    ELEMENT_BACKUP_ID = 4,
    ELEMENT_INSTANCE_ID = 8,
    ELEMENT_BACKUP_NAME = 16,
    ELEMENT_BACKUP_SIZE = 32,
    ELEMENT_BACKUP_STATUS = 64,
    ELEMENT_STORAGE_ID = 128,
    ELEMENT_BLOCK_DEVICE_MAPPING = 256,
    ELEMENT_ERROR_ROOT = 512,
    ELEMENT_MESSAGE = 1024,
    STR_ELEMENTS_MASK = 1532
  };

 protected:
  void reset_open_elements() override;

 private:
  Instance_Backups instance_backups_;
  Record_Nesting nesting_;
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_GET_INSTANCE_BACKUP_RESPONSE_H
