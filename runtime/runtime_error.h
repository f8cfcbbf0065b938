// Runtime failures: one exception type carrying the five fields of the current-error record.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

#include "runtime/text.h"

namespace rt {

// The five fields of a failure, as the current-error record holds them.
struct ErrorRecord {
  int32_t number = 0;  // 0: no failure
  Text description;
  Text source;
  Text helpFile;
  int32_t helpContext = 0;

  friend bool operator==(const ErrorRecord&, const ErrorRecord&) = default;
};

// Numbers of the runtime errors the utility raises itself.
enum ErrorNumber : int32_t {
  kInvalidProcedureCall = 5,
  kOverflow = 6,
  kOutOfMemory = 7,
  kSubscriptOutOfRange = 9,
  kTypeMismatch = 13,
  kInternalError = 51,
  kFileNotFound = 53,
  kObjectNotSet = 91,
  kInvalidUseOfNull = 94,
  kObjectRequired = 424,
  kCannotCreateObject = 429,
  kMemberNotSupported = 438,
  kAutomationError = 440,
  kArgumentNotOptional = 449,
  kWrongArgumentCount = 450,
};

// Source given to the failures the program raises itself: the project's name.
inline constexpr char16_t kProjectName[] = u"Project1";

class RuntimeError : public std::exception {
 public:
  explicit RuntimeError(ErrorRecord record);

  const ErrorRecord& record() const noexcept { return record_; }
  int32_t number() const noexcept { return record_.number; }
  const char* what() const noexcept override { return what_.c_str(); }

 private:
  ErrorRecord record_;
  std::string what_;
};

// The Italian text of one of the runtime errors above ("Errore definito dall'applicazione o
// dall'oggetto" for any other number).
Text errorDescription(int32_t number);

// Raises runtime error `number` with its own description and the project as source.
[[noreturn]] void raise(int32_t number);

// Raises runtime error `number` with a description of its own (a file name, say).
[[noreturn]] void raise(int32_t number, Text description);

// The failure that is being handled, for use inside a catch block: a RuntimeError as it is,
// memory exhaustion as error 7, anything else as an internal error (51).
RuntimeError currentFailure();

}  // namespace rt
