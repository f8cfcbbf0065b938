// The user's proxy settings and how each proxy script answers, as a test sets them; by default
// the settings cannot be read, so no proxy is used.
#pragma once

#include <memory>
#include <vector>

#include "checks/environment_checks.h"

namespace fakes {

class FakeProxyLookup : public checks::ProxyLookup {
 public:
  // How a script answers: with `answer`, at the `answersAtPoll`th time it is asked whether it
  // has (never when that is 0).
  struct Script {
    checks::ScriptAnswer answer;
    int answersAtPoll = 1;
  };

  std::optional<checks::UserProxySettings> userSettings() override { return settings; }
  std::unique_ptr<checks::PendingAnswer> ask(const checks::ScriptQuestion& question) override {
    asked.push_back(question);
    const Script& script = question.source == checks::ScriptSource::Discovery ? discovery
                           : question.logOnIfChallenged                      ? configuredLoggedOn
                                                                             : configured;
    return std::make_unique<Pending>(script);
  }

  std::optional<checks::UserProxySettings> settings;
  Script discovery;           // by default: no script found
  Script configured;          // the configured address, asked without the user's logon
  Script configuredLoggedOn;  // and with it
  std::vector<checks::ScriptQuestion> asked;

 private:
  class Pending : public checks::PendingAnswer {
   public:
    explicit Pending(Script script) : script_(std::move(script)) {}
    std::optional<checks::ScriptAnswer> answer() override {
      if (script_.answersAtPoll == 0 || ++polls_ < script_.answersAtPoll) return std::nullopt;
      return script_.answer;
    }

   private:
    Script script_;
    int polls_ = 0;
  };
};

}  // namespace fakes
