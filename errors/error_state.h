// The state the handler protocol shares program-wide: the current-error record, the line of the
// failing statement, and the four slots of the error context.
#pragma once

#include <cstdint>

#include "runtime/runtime_error.h"
#include "runtime/variant.h"

namespace errors {

// `ErrorContext`: each slot holds a name/value list (rt::nameValueList), written by the handler
// of the failing procedure, by its module's SetModuleVariables and by SetGlobalVariables before
// every report, and passed to the report component by reference. Slots are never cleared.
struct ErrorContext {
  rt::Variant parameters;
  rt::Variant locals;
  rt::Variant moduleVariables;
  rt::Variant globalVariables;
};

struct ErrorState {
  rt::ErrorRecord record;   // the current-error record; number 0 while no failure is pending
  int32_t failureLine = 0;  // line number of the failing statement, 0 when it carries none
  ErrorContext context;

  bool failurePending() const { return record.number != 0; }

  // Installing a handler, resuming, and leaving a procedure from its handler all do this.
  void clear() {
    record = {};
    failureLine = 0;
  }
};

// What a module gives the handlers of its procedures.
class Module {
 public:
  virtual ~Module() = default;
  virtual rt::TextView moduleName() const = 0;
  // Stores the module's own variables into the module-variables slot.
  virtual void SetModuleVariables() = 0;
};

// The central handler: describes the pending failure to the report component and returns the
// action code it decides on.
class ErrorReporter {
 public:
  virtual ~ErrorReporter() = default;
  virtual int32_t HandleError(const rt::Text& moduleName, const rt::Text& procedureName) = 0;
};

// Action codes returned by HandleError; they coincide with the message-box results IDABORT,
// IDRETRY and IDIGNORE. Any other value leaves the procedure.
enum Action : int32_t {
  kPassOn = 3,
  kRetry = 4,
  kSkip = 5,
};

// Everything a procedure of the protocol needs besides its own module.
struct Protocol {
  ErrorState& state;
  ErrorReporter& reporter;
};

}  // namespace errors
