#include "arrays.h"

#include <climits>

namespace vbgreport {
namespace {

// Variants copied for one call at most: a list whose elements share one array many times over
// would otherwise take a copy per sharing, nested level after level.
constexpr unsigned long long kMostVariants = 1'000'000;

bool isScalarType(VARTYPE type) noexcept {
  switch (type) {
    case VT_EMPTY: case VT_NULL: case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_CY: case VT_DATE:
    case VT_BSTR: case VT_DISPATCH: case VT_ERROR: case VT_BOOL: case VT_UNKNOWN: case VT_DECIMAL: case VT_I1:
    case VT_UI1: case VT_UI2: case VT_UI4: case VT_I8: case VT_UI8: case VT_INT: case VT_UINT:
      return true;
    default:
      return false;
  }
}

// The size of one element of an array of `type`; 0 for a type no array of the component holds.
ULONG elementSize(VARTYPE type) noexcept {
  switch (type) {
    case VT_I1: case VT_UI1: return 1;
    case VT_I2: case VT_UI2: case VT_BOOL: return 2;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_R4: case VT_ERROR: return 4;
    case VT_R8: case VT_CY: case VT_DATE: case VT_I8: case VT_UI8: return 8;
    case VT_BSTR: case VT_DISPATCH: case VT_UNKNOWN: return sizeof(void*);
    case VT_DECIMAL: return sizeof(DECIMAL);
    case VT_VARIANT: return sizeof(VARIANT);
    default: return 0;  // VT_RECORD among them: its layout is the caller's own
  }
}

// The feature flag that says how the array's elements are released; it must match the type.
USHORT releaseFeature(VARTYPE type) noexcept {
  switch (type) {
    case VT_BSTR: return FADF_BSTR;
    case VT_UNKNOWN: return FADF_UNKNOWN;
    case VT_DISPATCH: return FADF_DISPATCH;
    case VT_VARIANT: return FADF_VARIANT;
    default: return 0;
  }
}

class ValueCheck {
 public:
  HRESULT value(const VARIANT& value, int depth, bool inArray) noexcept {
    const VARTYPE type = V_VT(&value);
    if (type & VT_BYREF) {
      // A reference kept in a list would point into the caller's memory after the call.
      if (inArray || !V_BYREF(&value)) return DISP_E_BADVARTYPE;
      const VARTYPE target = type & ~VT_BYREF;
      if (target == VT_VARIANT) {
        const VARIANT& referred = *V_VARIANTREF(&value);
        // A variant referred to holds a value, never a further reference (nor itself).
        if (V_VT(&referred) & VT_BYREF) return DISP_E_BADVARTYPE;
        return this->value(referred, depth, false);
      }
      if (target & VT_ARRAY) return array(*V_ARRAYREF(&value), target & ~VT_ARRAY, depth);
      return isScalarType(target) && target != VT_EMPTY && target != VT_NULL ? S_OK : DISP_E_BADVARTYPE;
    }
    if (type & VT_ARRAY) return array(V_ARRAY(&value), type & ~VT_ARRAY, depth);
    return isScalarType(type) ? S_OK : DISP_E_BADVARTYPE;
  }

 private:
  HRESULT array(SAFEARRAY* array, VARTYPE label, int depth) noexcept {
    if (elementSize(label) == 0) return DISP_E_BADVARTYPE;
    if (!array) return S_OK;  // declared, never dimensioned
    if (depth >= kDeepestNesting) return DISP_E_TYPEMISMATCH;
    const UINT dimensions = SafeArrayGetDim(array);
    if (dimensions > kMostDimensions) return DISP_E_TYPEMISMATCH;

    // What the array really holds, as oleaut32 will copy and free it, must be what the label says.
    VARTYPE held = VT_EMPTY;
    if (FAILED(SafeArrayGetVartype(array, &held)) || held != label) return DISP_E_BADVARTYPE;
    if (array->cbElements != elementSize(label)) return DISP_E_BADVARTYPE;
    constexpr USHORT kReleaseFeatures = FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH | FADF_VARIANT | FADF_RECORD;
    if ((array->fFeatures & kReleaseFeatures) != releaseFeature(label)) return DISP_E_BADVARTYPE;

    unsigned long long elements = dimensions ? 1 : 0;
    for (UINT dimension = 1; dimension <= dimensions; ++dimension) {
      LONG lower = 0;
      if (FAILED(SafeArrayGetLBound(array, dimension, &lower))) return DISP_E_BADVARTYPE;
      const ULONG count = array->rgsabound[dimensions - dimension].cElements;  // stored last dimension first
      if (count && static_cast<long long>(lower) + count - 1 > LONG_MAX) return DISP_E_BADVARTYPE;
      elements *= count;
    }
    if (elements && !array->pvData) return DISP_E_BADVARTYPE;

    if (label == VT_VARIANT) {
      variants_ += elements;
      if (variants_ > kMostVariants) return DISP_E_TYPEMISMATCH;
      const VARIANT* element = static_cast<const VARIANT*>(array->pvData);
      for (unsigned long long i = 0; i < elements; ++i)
        if (const HRESULT hr = value(element[i], depth + 1, true); FAILED(hr)) return hr;
    }
    return S_OK;
  }

  unsigned long long variants_ = 0;
};

}  // namespace

HRESULT checkValue(const VARIANT& value) noexcept { return ValueCheck().value(value, 0, false); }

std::vector<Bounds> boundsOf(SAFEARRAY* array) {
  const UINT dimensions = SafeArrayGetDim(array);
  std::vector<Bounds> bounds(dimensions);
  for (UINT dimension = 1; dimension <= dimensions; ++dimension) {
    check(SafeArrayGetLBound(array, dimension, &bounds[dimension - 1].lower));
    bounds[dimension - 1].count = array->rgsabound[dimensions - dimension].cElements;
  }
  return bounds;
}

unique_variant elementAt(SAFEARRAY* array, VARTYPE elementType, const std::vector<LONG>& indices) {
  unique_variant element;
  VARIANT* slot = element.put();
  LONG* where = const_cast<LONG*>(indices.data());
  if (elementType == VT_VARIANT) {
    check(SafeArrayGetElement(array, where, slot));
    return element;
  }
  if (elementType == VT_RECORD) throw Failure(DISP_E_BADVARTYPE);
  // The element is copied into the variant's value field, then the type is stamped on it; a
  // DECIMAL fills the whole variant, so its type goes on afterwards.
  void* field = elementType == VT_DECIMAL ? static_cast<void*>(&V_DECIMAL(slot)) : static_cast<void*>(&V_I4(slot));
  check(SafeArrayGetElement(array, where, field));
  V_VT(slot) = elementType;
  return element;
}

const VARIANT& referencedValue(const VARIANT& value) noexcept {
  if (V_VT(&value) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(&value)) return *V_VARIANTREF(&value);
  return value;
}

SAFEARRAY* arrayOf(const VARIANT& value) noexcept {
  const VARIANT& held = referencedValue(value);
  if (!(V_VT(&held) & VT_ARRAY)) return nullptr;
  if (V_VT(&held) & VT_BYREF) return V_ARRAYREF(&held) ? *V_ARRAYREF(&held) : nullptr;
  return V_ARRAY(&held);
}

std::string typeName(VARTYPE type) {
  static constexpr struct {
    VARTYPE type;
    const char* name;
  } kNames[] = {
      {VT_EMPTY, "VT_EMPTY"},   {VT_NULL, "VT_NULL"},         {VT_I2, "VT_I2"},       {VT_I4, "VT_I4"},
      {VT_R4, "VT_R4"},         {VT_R8, "VT_R8"},             {VT_CY, "VT_CY"},       {VT_DATE, "VT_DATE"},
      {VT_BSTR, "VT_BSTR"},     {VT_DISPATCH, "VT_DISPATCH"}, {VT_ERROR, "VT_ERROR"}, {VT_BOOL, "VT_BOOL"},
      {VT_VARIANT, "VT_VARIANT"}, {VT_UNKNOWN, "VT_UNKNOWN"}, {VT_DECIMAL, "VT_DECIMAL"}, {VT_I1, "VT_I1"},
      {VT_UI1, "VT_UI1"},       {VT_UI2, "VT_UI2"},           {VT_UI4, "VT_UI4"},     {VT_I8, "VT_I8"},
      {VT_UI8, "VT_UI8"},       {VT_INT, "VT_INT"},           {VT_UINT, "VT_UINT"},   {VT_RECORD, "VT_RECORD"},
  };
  std::string name;
  if (type & VT_BYREF) name += "VT_BYREF|";
  if (type & VT_ARRAY) name += "VT_ARRAY|";
  const VARTYPE base = type & VT_TYPEMASK;
  for (const auto& known : kNames)
    if (known.type == base) return name + known.name;
  return name + "VT_" + std::to_string(base);
}

}  // namespace vbgreport
