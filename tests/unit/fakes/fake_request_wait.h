// Waiting for the connectivity page without a clock: the request is asked a fixed number of
// times whether it is complete; one that is not complete by then has run into its deadline.
#pragma once

#include <vector>

#include "checks/environment_checks.h"

namespace fakes {

class FakeRequestWait : public checks::RequestWait {
 public:
  bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) override {
    limits.push_back(limit);
    for (int poll = 0; poll < pollsBeforeDeadline; ++poll)
      if (done()) return true;
    return false;
  }

  int pollsBeforeDeadline = 3;
  std::vector<std::chrono::milliseconds> limits;
};

}  // namespace fakes
