// Procedures written as their numbered statements.
//
// A procedure lists its statements in source order, each with the line number that a report
// gives for it, and hands the list to a Procedure (handler protocol) or to runSkippingFailures
// (skip-on-failure mode). The runner sets the current line, runs the statement, follows the
// target it yields, and on a failure does what the mode says: the handler snapshots the
// procedure, asks HandleError, then passes the failure on (3), runs the statement again (4),
// continues at the statement's skip target (5) or leaves (anything else).
#pragma once

#include <array>
#include <concepts>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "errors/error_state.h"
#include "runtime/variant.h"

namespace errors {

// Where execution goes after a statement: the next one written, the one numbered `line`, or out.
struct Target {
  enum Kind : uint8_t { kNext, kLine, kExit } kind;
  int line = 0;
  size_t index = 0;  // the statement it leads to, the body's size to leave; set when the body is built
};

// The statement written after this one.
inline const Target nextStatement{Target::kNext};
// The statement numbered `line`.
inline Target goTo(int line) { return {Target::kLine, line}; }
// Leave the procedure; a function returns what its result holds.
inline const Target leave{Target::kExit};

// A conditional statement. When evaluating the condition fails and the failure is skipped,
// execution continues at `onFailure`: the branch written first unless the procedure says otherwise.
template <class Condition>
struct If {
  Condition condition;
  Target whenTrue, whenFalse;
  std::optional<Target> onFailure = {};  // whenTrue when not given
};

// A Select Case of up to three cases: the first whose value equals the subject's, else `otherwise`.
// When evaluating the subject fails and the failure is skipped, execution continues at the first case.
struct Select {
  struct Case { int64_t value; Target target; };
  std::function<int64_t()> subject;
  std::vector<Case> cases;
  Target otherwise;
};

// From here on a failure goes to the statement numbered `line`, not the handler, and stays pending;
// a failure from there on passes to the caller. Only a Procedure honours it.
struct OnErrorGoTo { int line; };

class Statement {
 public:
  // An action; afterwards, and when it fails and is skipped, execution goes on at `successor`.
  template <std::invocable Action>
  Statement(int line, Action action, Target successor = nextStatement)
      : line_(line), choose_([action = std::move(action)]() mutable { action(); return 0; }), targets_{successor} {}
  template <class Condition>
  Statement(int line, If<Condition> test)
      : line_(line), choose_([condition = std::move(test.condition)] { return condition() ? 1 : 2; }),
        targets_{test.onFailure.value_or(test.whenTrue), test.whenTrue, test.whenFalse} {}
  Statement(int line, Select select);
  Statement(int line, OnErrorGoTo recovery);

  int line() const { return line_; }
  // Runs the statement and says where to go next.
  const Target& run() const { return targets_[choose_()]; }
  // Where execution continues when the statement fails and the failure is skipped.
  const Target& onSkip() const { return targets_[0]; }
  // Where failures go from here on, when the statement is an OnErrorGoTo.
  const Target* recovery() const { return armsRecovery_ ? &targets_[1] : nullptr; }

 private:
  friend class Body;
  int line_;
  std::function<int()> choose_;      // the index in targets_ of where to go next
  std::array<Target, 4> targets_{};  // [0] is where a skipped failure goes; unused ones lead on
  bool armsRecovery_ = false;
};

// A procedure's statements in source order. Building it looks up every line that a statement can
// go to, so a mistyped label fails at once, named in a std::invalid_argument.
class Body {
 public:
  Body(std::initializer_list<Statement> statements) : Body(std::vector<Statement>(statements)) {}
  explicit Body(std::vector<Statement> statements);
  size_t size() const { return statements_.size(); }
  const Statement& operator[](size_t index) const { return statements_[index]; }

 private:
  std::vector<Statement> statements_;
};

// One call of a procedure of the handler protocol.
class Procedure {
 public:
  using Lister = std::function<rt::Variant()>;

  // `parameters` and `locals` build the snapshot lists (rt::nameValueList, rt::emptyList).
  Procedure(Protocol protocol, Module& module, rt::TextView name, Lister parameters, Lister locals);

  // Installs the handler (clearing the record) and runs `body` from its first statement.
  // Returns normally when the body ends or the handler leaves; throws rt::RuntimeError when the
  // failure is passed on (action 3) or when the handler itself fails.
  void run(const Body& body);

 private:
  int32_t handle();

  Protocol protocol_;
  Module& module_;
  rt::Text name_;
  Lister parameters_;
  Lister locals_;
};

// Runs `body` in skip-on-failure mode: entering clears the record; a statement that fails is
// abandoned, its failure stays in the record, and execution continues at the statement's skip
// target. Nothing is reported.
void runSkippingFailures(ErrorState& state, const Body& body);

}  // namespace errors
