// The runtime's values in GoogleTest: readable failure output, and the record a call fails with.
#pragma once

#include <functional>
#include <ostream>

#include "runtime/runtime_error.h"
#include "runtime/variant.h"

namespace rt {

inline void PrintTo(const Variant& value, std::ostream* os) { *os << describe(value); }

inline void PrintTo(const ErrorRecord& r, std::ostream* os) {
  *os << "{" << r.number << ", \"" << toUtf8(r.description) << "\", \"" << toUtf8(r.source) << "\", \""
      << toUtf8(r.helpFile) << "\", " << r.helpContext << "}";
}

}  // namespace rt

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
