#include "errors/procedure.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>

namespace errors {

Statement::Statement(int line, Select select) : line_(line), targets_{select.cases.front().target} {
  size_t count = 1;
  for (const Select::Case& c : select.cases) targets_.at(count++) = c.target;
  targets_.at(count) = select.otherwise;
  choose_ = [subject = std::move(select.subject), cases = std::move(select.cases)] {
    return static_cast<int>(std::ranges::find(cases, subject(), &Select::Case::value) - cases.begin()) + 1;
  };
}

Statement::Statement(int line, OnErrorGoTo recovery)
    : line_(line), choose_([] { return 0; }), targets_{nextStatement, goTo(recovery.line)}, armsRecovery_(true) {}

Body::Body(std::vector<Statement> statements) : statements_(std::move(statements)) {
  for (size_t at = 0; at < statements_.size(); ++at) {
    for (Target& target : statements_[at].targets_) {
      if (target.kind == Target::kNext) target.index = at + 1;
      if (target.kind == Target::kExit) target.index = statements_.size();
      if (target.kind != Target::kLine) continue;
      const auto found = std::ranges::find(statements_, target.line, &Statement::line);
      if (found == statements_.end())
        throw std::invalid_argument("statement " + std::to_string(statements_[at].line()) + " goes to " +
                                    std::to_string(target.line) + ", which no statement carries");
      target.index = static_cast<size_t>(found - statements_.begin());
    }
  }
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
    const Target* next = nullptr;
    try {
      next = &statement.run();
      if (statement.recovery()) recovery = statement.recovery();
    } catch (...) {
      const rt::RuntimeError failure = rt::currentFailure();
      if (inRecovery) throw failure;  // not handled here: the caller gets it
      state.record = failure.record();
      state.failureLine = statement.line();

      if (recovery) {
        inRecovery = true;
        at = recovery->index;
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
    at = next->index;
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
      at = statement.run().index;
    } catch (...) {
      state.record = rt::currentFailure().record();
      state.failureLine = 0;
      at = statement.onSkip().index;
    }
  }
}

}  // namespace errors
