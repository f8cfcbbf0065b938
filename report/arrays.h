// Reading the elements of a SAFEARRAY of any element type, one dimension at a time.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "handles.h"

namespace vbgreport {

struct Bounds {
  LONG lower;
  LONG upper;
};

// The bounds of each dimension, the first (leftmost) dimension first.
std::vector<Bounds> boundsOf(SAFEARRAY* array);

// A copy of one element, as a variant of the array's element type. `indices` holds one index
// per dimension, the first dimension first.
unique_variant elementAt(SAFEARRAY* array, VARTYPE elementType, const std::vector<LONG>& indices);

// The array a variant holds, following a reference; null for an array never allocated.
SAFEARRAY* arrayOf(const VARIANT& value) noexcept;

// The variant a by-reference variant refers to, or the value itself.
const VARIANT& referencedValue(const VARIANT& value) noexcept;

// "VT_I4", "VT_ARRAY|VT_BSTR", "VT_BYREF|VT_VARIANT"...
std::string typeName(VARTYPE type);

}  // namespace vbgreport
