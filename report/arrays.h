// Checking what a caller hands over, and reading the elements of a SAFEARRAY of any element type.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "failure.h"

namespace vbgreport {

// How much of an array a report or the log shows: the first elements of each dimension.
inline constexpr ULONG kMostShownElements = 100;
// Arrays held within arrays (a list of variables holding arrays of variants...).
inline constexpr int kDeepestNesting = 8;
// Arrays of more dimensions are refused: the component lists and tables, nothing else.
inline constexpr UINT kMostDimensions = 2;

// Whether a value handed over can be read safely and kept: S_OK, DISP_E_BADVARTYPE when its label
// does not describe what is there (an unknown type, a null reference, a reference to a reference
// or to itself, an array whose element type, features or element size differ from the label, a
// reference inside an array), DISP_E_TYPEMISMATCH for a well-formed value the component does not
// take (more than two dimensions, arrays nested too deep, too many variants to copy).
HRESULT checkValue(const VARIANT& value) noexcept;

struct Bounds {
  LONG lower;
  ULONG count;
  long long upper() const noexcept { return static_cast<long long>(lower) + count - 1; }
};

// The bounds of each dimension, the first (leftmost) dimension first. The array must have passed
// checkValue, so that every index fits a LONG.
std::vector<Bounds> boundsOf(SAFEARRAY* array);

// A copy of one element, as a variant of the array's element type. `indices` holds one index
// per dimension, the first dimension first.
unique_variant elementAt(SAFEARRAY* array, VARTYPE elementType, const std::vector<LONG>& indices);

// The array a variant holds, following a reference; null for an array never allocated.
SAFEARRAY* arrayOf(const VARIANT& value) noexcept;

// The variant a by-reference variant refers to, or the value itself. One step only: a checked
// value never refers to another reference.
const VARIANT& referencedValue(const VARIANT& value) noexcept;

// "VT_I4", "VT_ARRAY|VT_BSTR", "VT_BYREF|VT_VARIANT"...
std::string typeName(VARTYPE type);

}  // namespace vbgreport
