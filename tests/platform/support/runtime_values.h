// The runtime's values in GoogleTest: readable failure output, and the record a call fails with.
#pragma once

#include <functional>
#include <ostream>

#include "fakes/printing.h"
#include "runtime/runtime_error.h"
#include "runtime/variant.h"

namespace support {

// The record `call` fails with; number 0 when it does not fail.
inline rt::ErrorRecord failureOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const rt::RuntimeError& failure) {
    return failure.record();
  }
  return {};
}

}  // namespace support
