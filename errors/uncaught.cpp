#include "errors/uncaught.h"

#include "runtime/conversions.h"

namespace errors {

rt::Text runtimeErrorMessage(const rt::ErrorRecord& failure) {
  return u"Errore di run-time '" + rt::toText(rt::Variant(failure.number)) + u"':\n\n" + failure.description;
}

void runEventProcedure(const std::function<void()>& procedure,
                       const std::function<void(const rt::Text& message)>& showAndEnd) noexcept {
  rt::Text message;
  try {
    procedure();
    return;
  } catch (...) {
    message = runtimeErrorMessage(rt::currentFailure().record());
  }
  showAndEnd(message);
}

}  // namespace errors
