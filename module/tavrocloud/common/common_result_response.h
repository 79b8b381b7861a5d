// Parser of the answers that carry only a "return" flag: deleting and converting volumes,
// deleting snapshots, attaching, detaching and deleting temporary snapshots, moving a
// volume to another storage and deleting a network interface. Its verdict is the flag.
#ifndef TAVROCLOUD_COMMON_COMMON_RESULT_RESPONSE_H
#define TAVROCLOUD_COMMON_COMMON_RESULT_RESPONSE_H

#include "tavrocloud/common/flat_response.h"

namespace tavrocloud {

class Common_Result_Response : public Flat_Response {
 public:
  // `action`: "DeleteVolume", "ConvertVolume", "DeleteSnapshot", "AttachTmpSnapshot",
  // "DetachTmpSnapshot", "DeleteTmpSnapshots", "ModifyVolumeStorage" or
  // "DeleteNetworkInterface". Any of their answers is read, whichever was named.
  explicit Common_Result_Response(const char* action);

  // True exactly when the last answer's "return" was "true".
  bool success() const override { return result_; }

  enum {
    ELEMENT_NONE = 0,
    ELEMENT_ERROR_ROOT = 1,
    ELEMENT_MESSAGE = 2,
    ELEMENT_RETURN = 4,
    ELEMENT_DELETE_VOLUME_ROOT = 8,
    ELEMENT_CONVERT_VOLUME_ROOT = 16,
    ELEMENT_DELETE_SNAPSHOT_ROOT = 32,
    ELEMENT_ATTACH_TMP_SNAPSHOT_ROOT = 64,
    ELEMENT_DETACH_TMP_SNAPSHOT_ROOT = 128,
    ELEMENT_DELETE_TMP_SNAPSHOT_ROOT = 256,
    ELEMENT_MODIFY_VOLUME_STORAGE_ROOT = 512,
    ELEMENT_DELETE_NETWORK_INTERFACE_ROOT = 1024,
    STR_ELEMENTS_MASK = ELEMENT_MESSAGE | ELEMENT_RETURN,
    ROOT_ELEM = 0x7f9
  };

 private:
  void reset_results() override { result_ = false; }
  void take_text(unsigned int, const char* text, size_t length) override {
    result_ = text_to_bool(text, length);
  }

  bool result_;
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_COMMON_RESULT_RESPONSE_H
