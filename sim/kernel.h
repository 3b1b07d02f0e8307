// The real-time kernel's state: binary semaphores and the start-up calls' traces.
#pragma once

#include <cstdint>
#include <deque>
#include <stdexcept>

#include "platform/kernel.h"

namespace vestra {
struct SemaphoreRec {
  bool full = false;
};
}  // namespace vestra

namespace sim {

// A wait that can never end: the module runs on one task, so no one else could give the semaphore.
class Deadlock : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

constexpr std::int32_t kWaitForever = -1;

class Kernel {
 public:
  vestra::SEM_ID CreateBinary(std::int32_t initialState);
  bool Owns(vestra::SEM_ID semaphore) const;

  int wbflushCount = 0;
  int cmInitCalls = 0;
  int lensValue = -1;
  int intLockCalls = 0;

 private:
  std::deque<vestra::SemaphoreRec> semaphores_;  // stable addresses
};

}  // namespace sim
