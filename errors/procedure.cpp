#include "errors/procedure.h"

#include <stdexcept>
#include <string>
#include <utility>

namespace errors {

Statement::Statement(int line, std::function<void()> action, Target successor)
    : line_(line),
      choose_([action = std::move(action)] {
        action();
        return size_t{0};
      }),
      targets_{successor} {}

Statement::Statement(int line, If test)
    : line_(line),
      choose_([condition = std::move(test.condition)] { return condition() ? size_t{1} : size_t{2}; }),
      targets_{test.onFailure, test.whenTrue, test.whenFalse} {}

Statement::Statement(int line, Select select) : line_(line), targets_{select.cases.front().target} {
  for (const Select::Case& c : select.cases) targets_.push_back(c.target);
  targets_.push_back(select.otherwise);
  choose_ = [subject = std::move(select.subject), cases = std::move(select.cases)] {
    const int64_t value = subject();
    size_t i = 0;
    while (i < cases.size() && cases[i].value != value) ++i;
    return i + 1;
  };
}

Statement::Statement(int line, OnErrorGoTo recovery)
    : line_(line),
      choose_([] { return size_t{0}; }),
      targets_{nextStatement, goTo(recovery.line)},
      armsRecovery_(true) {}

Body::Body(std::vector<Statement> statements) : statements_(std::move(statements)) {
  for (size_t at = 0; at < statements_.size(); ++at)
    for (Target& target : statements_[at].targets_) target.index_ = indexOf(at, target);
}

size_t Body::indexOf(size_t from, const Target& target) const {
  if (target.kind_ == Target::kNext) return from + 1;
  if (target.kind_ == Target::kExit) return statements_.size();
  for (size_t i = 0; i < statements_.size(); ++i)
    if (statements_[i].line() == target.line_) return i;
  throw std::invalid_argument("statement " + std::to_string(statements_[from].line()) + " goes to " +
                              std::to_string(target.line_) + ", which no statement carries");
}

Procedure::Procedure(Protocol protocol, Module& module, rt::TextView name, Lister parameters, Lister locals)
    : protocol_(protocol),
      module_(module),
      name_(name),
      parameters_(std::move(parameters)),
      locals_(std::move(locals)) {}

void Procedure::run(const Body& body) {
  ErrorState& state = protocol_.state;
  state.clear();
  const Target* recovery = nullptr;
  bool inRecovery = false;

  size_t at = 0;
  while (at < body.size()) {
    const Statement& statement = body[at];
    currentLine_ = statement.line();
    const Target* next = nullptr;
    try {
      next = &statement.run();
      if (statement.recovery()) recovery = statement.recovery();
    } catch (...) {
      const rt::RuntimeError failure = rt::currentFailure();
      if (inRecovery) throw failure;  // not handled here: the caller gets it
      state.record = failure.record();
      state.failureLine = currentLine_;

      if (recovery) {
        inRecovery = true;
        at = recovery->index();
        continue;
      }

      // A failure from here to the switch is the handler's own: it leaves this procedure.
      const int32_t action = handle();
      switch (action) {
        case kPassOn:
          throw rt::RuntimeError(state.record);
        case kRetry:
          state.clear();
          continue;
        case kSkip:
          state.clear();
          next = &statement.onSkip();
          break;
        default:
          state.clear();
          return;
      }
    }
    at = next->index();
  }
  // Ending normally, also from a recovery stretch, leaves no failure pending.
  state.clear();
}

int32_t Procedure::handle() {
  ErrorContext& context = protocol_.state.context;
  context.parameters = parameters_();
  context.locals = locals_();
  module_.SetModuleVariables();
  return protocol_.reporter.HandleError(rt::Text(module_.moduleName()), name_);
}

void runSkippingFailures(ErrorState& state, const Body& body) {
  state.clear();
  size_t at = 0;
  while (at < body.size()) {
    const Statement& statement = body[at];
    try {
      at = statement.run().index();
    } catch (...) {
      state.record = rt::currentFailure().record();
      state.failureLine = 0;
      at = statement.onSkip().index();
    }
  }
}

}  // namespace errors
