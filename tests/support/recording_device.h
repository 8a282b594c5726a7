// A null sound device that keeps every byte the play cursor passed, for tests that check what
// was heard.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "audio/output/null_device.h"

namespace djkivo::test {

/// The null device (clocked, or manual when `manual_clock`) with a record of what it played,
/// volume applied, in order. `Played` may be called from any thread.
class RecordingDevice : public NullDevice {
 public:
  explicit RecordingDevice(bool manual_clock = true, int devices = 1)
      : NullDevice(devices, manual_clock) {}

  std::vector<std::uint8_t> Played() {
    std::lock_guard lock(region_mutex_);
    return played_;
  }

 protected:
  void Consumed(const std::uint8_t* data, std::uint32_t bytes) override {
    played_.insert(played_.end(), data, data + bytes);  // under region_mutex_
  }

 private:
  std::vector<std::uint8_t> played_;
};

}  // namespace djkivo::test
