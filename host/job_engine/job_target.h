// Where a job writes to or reads from: the storage pool named by a job definition. The
// executors take the pool's identifier, name and device identifier from it.
#ifndef HOST_JOB_ENGINE_JOB_TARGET_H
#define HOST_JOB_ENGINE_JOB_TARGET_H

#include <string>
#include <utility>

class Job_Target {
 public:
  Job_Target() = default;
  Job_Target(std::string id, std::string name, std::string device_id)
      : id_(std::move(id)), name_(std::move(name)), device_id_(std::move(device_id)) {}

  const std::string& id() const { return id_; }
  const std::string& name() const { return name_; }
  const std::string& device_id() const { return device_id_; }
  void set_id(const std::string& v) { id_ = v; }
  void set_name(const std::string& v) { name_ = v; }
  void set_device_id(const std::string& v) { device_id_ = v; }

 private:
  std::string id_;
  std::string name_;
  std::string device_id_;
};

#endif  // HOST_JOB_ENGINE_JOB_TARGET_H
