// GoogleTest 1.12 builds its Notification on std::mutex, which this compiler's win32 thread
// model does not have. Only GoogleTest's own thread helpers use it, so a flag it spins on will
// do; the build force-includes this header with GTEST_HAS_NOTIFICATION_ set.
#pragma once

#ifdef __cplusplus
#include <atomic>

namespace testing::internal {

class Notification {
 public:
  Notification() = default;
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;

  void Notify() { notified_.store(true); }
  void WaitForNotification() {
    while (!notified_.load()) {
    }
  }

 private:
  std::atomic<bool> notified_{false};
};

}  // namespace testing::internal
#endif
