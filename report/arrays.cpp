#include "arrays.h"

namespace vbgreport {

std::vector<Bounds> boundsOf(SAFEARRAY* array) {
  std::vector<Bounds> bounds(SafeArrayGetDim(array));
  for (UINT dimension = 1; dimension <= bounds.size(); ++dimension) {
    check(SafeArrayGetLBound(array, dimension, &bounds[dimension - 1].lower));
    check(SafeArrayGetUBound(array, dimension, &bounds[dimension - 1].upper));
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
  if (V_VT(&value) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(&value)) return referencedValue(*V_VARIANTREF(&value));
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
