// Failures that no procedure catches: they leave an event procedure of the window.
#pragma once

#include <functional>

#include "runtime/runtime_error.h"

namespace errors {

// The standard run-time error message: "Errore di run-time '5':", an empty line, the description.
rt::Text runtimeErrorMessage(const rt::ErrorRecord& failure);

// Runs an event procedure. A failure that leaves it is shown by `showAndEnd`, which displays the
// run-time error message and ends the utility.
void runEventProcedure(const std::function<void()>& procedure,
                       const std::function<void(const rt::Text& message)>& showAndEnd) noexcept;

}  // namespace errors
