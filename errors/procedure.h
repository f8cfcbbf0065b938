// Procedures written as their numbered statements.
//
// A procedure lists its statements in source order, each with the line number that a report
// gives for it, and hands the list to a Procedure (handler protocol) or to runSkippingFailures
// (skip-on-failure mode). The runner sets the current line, runs the statement, follows the
// target it yields, and on a failure does what the mode says: the handler snapshots the
// procedure, asks HandleError, then passes the failure on (3), runs the statement again (4),
// continues at the statement's skip target (5) or leaves (anything else).
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <vector>

#include "errors/error_state.h"
#include "runtime/variant.h"

namespace errors {

// Where execution goes after a statement.
class Target {
 public:
  static Target next() { return Target(kNext, 0); }
  static Target line(int number) { return Target(kLine, number); }
  static Target exit() { return Target(kExit, 0); }

  // The statement it leads to, as an index into the body; the body's size to leave. Set when the
  // body is built.
  size_t index() const { return index_; }

 private:
  friend class Body;
  enum KindOfTarget { kNext, kLine, kExit };
  Target(KindOfTarget kind, int line) : kind_(kind), line_(line) {}
  KindOfTarget kind_;
  int line_;
  size_t index_ = 0;
};

// The statement written after this one.
inline const Target nextStatement = Target::next();
// The statement numbered `line`.
inline Target goTo(int line) { return Target::line(line); }
// Leave the procedure; a function returns what its result holds.
inline const Target leave = Target::exit();

// A conditional statement. When evaluating the condition fails and the failure is skipped,
// execution continues at `onFailure`: the branch written first, unless the procedure has its own
// rule.
struct If {
  If(std::function<bool()> test, Target ifTrue, Target ifFalse) : If(std::move(test), ifTrue, ifFalse, ifTrue) {}
  If(std::function<bool()> test, Target ifTrue, Target ifFalse, Target failure)
      : condition(std::move(test)), whenTrue(ifTrue), whenFalse(ifFalse), onFailure(failure) {}

  std::function<bool()> condition;
  Target whenTrue;
  Target whenFalse;
  Target onFailure;
};

// A Select Case: the first case whose value equals the subject's, else `otherwise`. When
// evaluating the subject fails and the failure is skipped, execution continues at the first case.
struct Select {
  struct Case {
    int64_t value;
    Target target;
  };
  std::function<int64_t()> subject;
  std::vector<Case> cases;
  Target otherwise;
};

// From this statement on, a failure sends execution to the statement numbered `line` instead of
// the handler, with the failure pending; a failure from there on is not handled here and passes to
// the caller. Only a Procedure honours it.
struct OnErrorGoTo {
  int line;
};

class Statement {
 public:
  // An action; afterwards, and when it fails and is skipped, execution goes on at `successor`.
  Statement(int line, std::function<void()> action, Target successor = nextStatement);
  Statement(int line, If test);
  Statement(int line, Select select);
  Statement(int line, OnErrorGoTo recovery);

  int line() const { return line_; }
  // Runs the statement and says where to go next.
  const Target& run() const { return targets_[choose_()]; }
  // Where execution continues when the statement fails and the failure is skipped.
  const Target& onSkip() const { return targets_.front(); }
  // Where failures go from here on, when the statement is an OnErrorGoTo.
  const Target* recovery() const { return armsRecovery_ ? &targets_.back() : nullptr; }

 private:
  friend class Body;
  int line_;
  std::function<size_t()> choose_;  // the index in targets_ of where to go next
  std::vector<Target> targets_;     // the first is where a skipped failure goes
  bool armsRecovery_ = false;
};

// A procedure's statements in source order. Building it looks up every line that a statement can
// go to, so a mistyped label fails at once, named in a std::invalid_argument, not when a run
// reaches it.
class Body {
 public:
  Body(std::initializer_list<Statement> statements) : Body(std::vector<Statement>(statements)) {}
  explicit Body(std::vector<Statement> statements);

  size_t size() const { return statements_.size(); }
  const Statement& operator[](size_t index) const { return statements_[index]; }

 private:
  size_t indexOf(size_t from, const Target& target) const;

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
  int currentLine_ = 0;
};

// Runs `body` in skip-on-failure mode: entering clears the record; a statement that fails is
// abandoned, its failure stays in the record, and execution continues at the statement's skip
// target. Nothing is reported.
void runSkippingFailures(ErrorState& state, const Body& body);

}  // namespace errors
