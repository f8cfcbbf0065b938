// Waiting for the connectivity page with a clock of its own: the request is asked a fixed number
// of times whether it is complete; one that is not complete by then has run into its deadline,
// and the clock has moved on by the whole limit. Each question that finds it not complete yet
// takes `pollTakes`.
#pragma once

#include <algorithm>
#include <vector>

#include "checks/environment_checks.h"

namespace fakes {

class FakeRequestWait : public checks::RequestWait {
 public:
  bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) override {
    limits.push_back(limit);
    const auto begin = clock;
    for (int poll = 0; poll < pollsBeforeDeadline; ++poll) {
      if (done()) return true;
      clock = std::min(clock + pollTakes, begin + limit);
    }
    clock = begin + limit;
    return false;
  }
  std::chrono::steady_clock::time_point now() override { return clock; }

  int pollsBeforeDeadline = 3;
  std::chrono::milliseconds pollTakes{0};
  std::chrono::steady_clock::time_point clock{};
  std::vector<std::chrono::milliseconds> limits;
};

}  // namespace fakes
