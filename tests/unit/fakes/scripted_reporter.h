// A central handler that answers from a script and remembers what each report saw.
#pragma once

#include <deque>
#include <functional>
#include <vector>

#include "errors/error_state.h"

namespace fakes {

struct Report {
  rt::Text moduleName;
  rt::Text procedureName;
  rt::ErrorRecord record;
  int32_t line;
  errors::ErrorContext context;
};

class ScriptedReporter : public errors::ErrorReporter {
 public:
  explicit ScriptedReporter(errors::ErrorState& state) : state_(state) {}

  // Answers in turn; once the script is used up, every report is answered with `fallback`.
  void answer(std::initializer_list<int32_t> actions) { actions_.insert(actions_.end(), actions); }
  int32_t fallback = 0;
  // Runs inside HandleError, after the report was recorded (to fail there, say).
  std::function<void()> during;

  int32_t HandleError(const rt::Text& moduleName, const rt::Text& procedureName) override {
    reports.push_back({moduleName, procedureName, state_.record, state_.failureLine, state_.context});
    if (during) during();
    if (actions_.empty()) return fallback;
    const int32_t action = actions_.front();
    actions_.pop_front();
    return action;
  }

  std::vector<Report> reports;

 private:
  errors::ErrorState& state_;
  std::deque<int32_t> actions_;
};

// A module whose SetModuleVariables lists one counter, to see that it ran.
class TestModule : public errors::Module {
 public:
  TestModule(errors::ErrorState& state, rt::Text name) : state_(state), name_(std::move(name)) {}
  rt::TextView moduleName() const override { return name_; }
  void SetModuleVariables() override {
    ++calls;
    if (fail) fail();
    state_.context.moduleVariables = rt::nameValueList({{u"calls", calls}});
  }
  int32_t calls = 0;
  std::function<void()> fail;

 private:
  errors::ErrorState& state_;
  rt::Text name_;
};

}  // namespace fakes
