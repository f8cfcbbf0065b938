#include "errors/procedure.h"

#include <stdexcept>
#include <string>
#include <utility>

namespace errors {

namespace {

size_t indexOfLine(const Body& body, int line) {
  for (size_t i = 0; i < body.size(); ++i)
    if (body[i].line() == line) return i;
  throw std::logic_error("no statement numbered " + std::to_string(line));
}

// Index of the statement `target` names, seen from statement `from`; body.size() to leave.
size_t resolve(const Body& body, size_t from, const Target& target) {
  if (target.isExit()) return body.size();
  if (target.isNext()) return from + 1;
  return indexOfLine(body, target.lineNumber());
}

}  // namespace

Statement::Statement(int line, std::function<void()> action, Target successor)
    : line_(line),
      body_([action = std::move(action), successor] {
        action();
        return successor;
      }),
      onSkip_(successor) {}

Statement::Statement(int line, If test)
    : line_(line),
      body_([condition = std::move(test.condition), whenTrue = test.whenTrue, whenFalse = test.whenFalse] {
        return condition() ? whenTrue : whenFalse;
      }),
      onSkip_(test.onFailure) {}

Statement::Statement(int line, Select select)
    : line_(line), body_(std::move(select.choose)), onSkip_(select.onFailure) {}

Target Statement::run() const { return body_(); }

Procedure::Procedure(Protocol protocol, Module& module, rt::TextView name, Lister parameters, Lister locals)
    : protocol_(protocol),
      module_(module),
      name_(name),
      parameters_(std::move(parameters)),
      locals_(std::move(locals)) {}

void Procedure::run(const Body& body) {
  ErrorState& state = protocol_.state;
  state.clear();
  bool inRecovery = false;

  size_t at = 0;
  while (at < body.size()) {
    const Statement& statement = body[at];
    currentLine_ = statement.line();
    Target next = nextStatement;
    try {
      next = statement.run();
    } catch (...) {
      const rt::RuntimeError failure = rt::currentFailure();
      if (inRecovery) throw failure;  // not handled here: the caller gets it
      state.record = failure.record();
      state.failureLine = currentLine_;

      if (recoveryLine_ != 0) {
        inRecovery = true;
        at = indexOfLine(body, recoveryLine_);
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
          next = statement.onSkip();
          break;
        default:
          state.clear();
          return;
      }
    }
    at = resolve(body, at, next);
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
    Target next = nextStatement;
    try {
      next = statement.run();
    } catch (...) {
      state.record = rt::currentFailure().record();
      state.failureLine = 0;
      next = statement.onSkip();
    }
    at = resolve(body, at, next);
  }
}

}  // namespace errors
