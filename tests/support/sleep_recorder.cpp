#include "support/sleep_recorder.h"

#include "yolt/sleep.h"

#include <mutex>
#include <utility>

namespace test {

namespace {

// The hook is a plain function, so what it records lives here, shared by all recorders.
std::mutex recorder_mutex;
std::vector<unsigned int> recorded_waits;
std::function<void(size_t)> recorder_action;

void record(unsigned int secs) {
  std::function<void(size_t)> action;
  size_t count;
  {
    std::lock_guard<std::mutex> lock(recorder_mutex);
    recorded_waits.push_back(secs);
    count = recorded_waits.size();
    action = recorder_action;
  }
  if (action) action(count);
}

// Forgets what was recorded, takes `on_sleep` as the action and returns the recording
// hook.
Sleep_Hook start_recording(std::function<void(size_t)> on_sleep) {
  std::lock_guard<std::mutex> lock(recorder_mutex);
  recorded_waits.clear();
  recorder_action = std::move(on_sleep);
  return &record;
}

}  // namespace

Sleep_Override::Sleep_Override(Sleep_Hook hook)
    : module_previous_(set_sleep_hook(hook)), host_previous_(set_runtime_sleep_hook(hook)) {}

Sleep_Override::~Sleep_Override() {
  set_runtime_sleep_hook(host_previous_);
  set_sleep_hook(module_previous_);
}

Sleep_Recorder::Sleep_Recorder(std::function<void(size_t)> on_sleep)
    : override_(start_recording(std::move(on_sleep))) {}

Sleep_Recorder::~Sleep_Recorder() {
  std::lock_guard<std::mutex> lock(recorder_mutex);
  recorder_action = nullptr;
}

std::vector<unsigned int> Sleep_Recorder::waits() const {
  std::lock_guard<std::mutex> lock(recorder_mutex);
  return recorded_waits;
}

}  // namespace test
