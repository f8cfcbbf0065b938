// Readable gtest output for the runtime's values.
#pragma once

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
