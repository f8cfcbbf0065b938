// Procedures written as their numbered statements.
//
// A procedure lists its statements in source order, each with the line number that a report
// gives for it, and hands the list to a Procedure (handler protocol) or to runSkippingFailures
// (skip-on-failure mode). The runner sets the current line, runs the statement, follows the
// target it yields, and on a failure does what the mode says: the handler snapshots the
// procedure, asks HandleError, then passes the failure on (3), runs the statement again (4),
// continues at the statement's skip target (5) or leaves (anything else).
#pragma once

#include <functional>
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

  bool isNext() const { return kind_ == kNext; }
  bool isExit() const { return kind_ == kExit; }
  int lineNumber() const { return line_; }

 private:
  enum KindOfTarget { kNext, kLine, kExit };
  Target(KindOfTarget kind, int line) : kind_(kind), line_(line) {}
  KindOfTarget kind_;
  int line_;
};

// The statement written after this one.
inline const Target nextStatement = Target::next();
// The statement numbered `line`.
inline Target goTo(int line) { return Target::line(line); }
// Leave the procedure; a function returns what its result holds.
inline const Target leave = Target::exit();

// A conditional statement. When evaluating the condition fails and the failure is skipped,
// execution continues at `onFailure`: the first statement of the branch written first, unless
// the procedure defines its own rule.
struct If {
  std::function<bool()> condition;
  Target whenTrue;
  Target whenFalse;
  Target onFailure;
};

// A statement that chooses among several targets (a Select Case). When choosing fails and the
// failure is skipped, execution continues at `onFailure`, the first case written.
struct Select {
  std::function<Target()> choose;
  Target onFailure;
};

class Statement {
 public:
  // An action; afterwards, and when it fails and is skipped, execution goes on at `successor`.
  Statement(int line, std::function<void()> action, Target successor = nextStatement);
  Statement(int line, If test);
  Statement(int line, Select select);

  int line() const { return line_; }
  // Runs the statement and says where to go next.
  Target run() const;
  // Where execution continues when the statement fails and the failure is skipped.
  const Target& onSkip() const { return onSkip_; }

 private:
  int line_;
  std::function<Target()> body_;
  Target onSkip_;
};

using Body = std::vector<Statement>;

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

  // From the statement that calls this on, a failure sends execution to the statement numbered
  // `line` instead of the handler, with the failure pending; a failure from there on is not
  // handled here and passes to the caller.
  void onErrorGoTo(int line) { recoveryLine_ = line; }

 private:
  int32_t handle();

  Protocol protocol_;
  Module& module_;
  rt::Text name_;
  Lister parameters_;
  Lister locals_;
  int currentLine_ = 0;
  int recoveryLine_ = 0;
};

// Runs `body` in skip-on-failure mode: entering clears the record; a statement that fails is
// abandoned, its failure stays in the record, and execution continues at the statement's skip
// target. Nothing is reported.
void runSkippingFailures(ErrorState& state, const Body& body);

}  // namespace errors
