// Waiting for the connectivity page's asynchronous request on the user-interface thread.
#pragma once

#include "checks/environment_checks.h"

namespace win32 {

// The request's progress reaches the thread as posted and sent messages (and timers), which are
// dispatched while waiting. Input is not: a click or a key stays in the queue until the run
// has ended, as it would during a blocking call, and the window's guard against a second run
// still holds for anything that is dispatched.
class MessageDispatchingWait final : public checks::RequestWait {
 public:
  bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) override;
  std::chrono::steady_clock::time_point now() override;
};

}  // namespace win32
