#include "platform/win32/com/variant_conversion.h"

#include <limits>

#include "platform/win32/com/automation_error.h"
#include "platform/win32/com/dispatch_object.h"

namespace com {

namespace {

[[noreturn]] void typeMismatch() { rt::raise(rt::kTypeMismatch); }

void check(HRESULT result) {
  if (FAILED(result)) throw automationError(result);
}

VARTYPE elementVartype(rt::Kind elementType) {
  switch (elementType) {
    case rt::Kind::Any: return VT_VARIANT;
    case rt::Kind::Integer: return VT_I2;
    case rt::Kind::Long: return VT_I4;
    case rt::Kind::Double: return VT_R8;
    case rt::Kind::Date: return VT_DATE;
    case rt::Kind::Boolean: return VT_BOOL;
    case rt::Kind::String: return VT_BSTR;
    case rt::Kind::Object: return VT_DISPATCH;
    default: typeMismatch();
  }
}

rt::Kind elementKind(VARTYPE elementType) {
  switch (elementType) {
    case VT_I1:
    case VT_UI1:
    case VT_I2: return rt::Kind::Integer;
    case VT_UI2:
    case VT_I4:
    case VT_INT: return rt::Kind::Long;
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DECIMAL: return rt::Kind::Double;
    case VT_DATE: return rt::Kind::Date;
    case VT_BOOL: return rt::Kind::Boolean;
    case VT_BSTR: return rt::Kind::String;
    case VT_DISPATCH:
    case VT_UNKNOWN: return rt::Kind::Object;
    // Elements that come out as Long or Double depending on their value.
    case VT_UI4:
    case VT_UINT:
    case VT_I8:
    case VT_UI8:
    case VT_VARIANT: return rt::Kind::Any;
    default: typeMismatch();
  }
}

// Where SafeArrayPutElement reads an element of a typed array from: strings and interfaces
// are passed as the pointer itself, everything else by address.
void* elementSource(VARIANT& element) {
  switch (element.vt) {
    case VT_BSTR: return element.bstrVal;
    case VT_DISPATCH: return element.pdispVal;
    default: return &element.llVal;
  }
}

UniqueVariant arrayToComVariant(const rt::ArrayData& array) {
  const VARTYPE elementType = elementVartype(array.elementType);
  UniqueVariant out;
  if (!array.allocated) {
    out.get()->parray = nullptr;
    out.get()->vt = VT_ARRAY | elementType;
    return out;
  }
  UniqueSafeArray elements(SafeArrayCreateVector(elementType, 0, static_cast<ULONG>(array.elements.size())));
  if (!elements.get()) rt::raise(rt::kOutOfMemory);
  for (LONG index = 0; index < static_cast<LONG>(array.elements.size()); ++index) {
    UniqueVariant element = toComVariant(array.elements[index]);
    if (elementType == VT_VARIANT) {
      check(SafeArrayPutElement(elements.get(), &index, element.get()));
    } else {
      if (element.type() != elementType) typeMismatch();
      check(SafeArrayPutElement(elements.get(), &index, elementSource(*element.get())));
    }
  }
  out.get()->parray = elements.release();
  out.get()->vt = VT_ARRAY | elementType;
  return out;
}

// An unsigned or 64-bit integer: Long when it fits, Double otherwise.
template <class Integer>
rt::Variant wholeNumber(Integer value) {
  using Limits = std::numeric_limits<int32_t>;
  if constexpr (std::numeric_limits<Integer>::is_signed) {
    if (value >= Limits::min() && value <= Limits::max()) return rt::Variant(static_cast<int32_t>(value));
  } else {
    if (value <= static_cast<uint64_t>(Limits::max())) return rt::Variant(static_cast<int32_t>(value));
  }
  return rt::Variant(static_cast<double>(value));
}

rt::Variant arrayFromComVariant(VARTYPE elementType, SAFEARRAY* array) {
  const rt::Kind kind = elementKind(elementType);
  if (!array) return rt::Variant::unallocatedArray(kind);
  if (SafeArrayGetDim(array) != 1) typeMismatch();
  LONG lower = 0;
  LONG upper = -1;
  check(SafeArrayGetLBound(array, 1, &lower));
  check(SafeArrayGetUBound(array, 1, &upper));
  if (lower != 0) typeMismatch();

  std::vector<rt::Variant> elements;
  elements.reserve(static_cast<size_t>(upper + 1));
  for (LONG index = 0; index <= upper; ++index) {
    UniqueVariant element;
    VARIANT* slot = element.get();
    if (elementType == VT_VARIANT) {
      check(SafeArrayGetElement(array, &index, slot));
    } else {
      // A DECIMAL fills the whole VARIANT (its first field is where vt lives); the other types
      // sit in the value union. The type is set only once the element owns something.
      void* target = elementType == VT_DECIMAL ? static_cast<void*>(&slot->decVal) : &slot->llVal;
      check(SafeArrayGetElement(array, &index, target));
      slot->vt = elementType;
    }
    elements.push_back(fromComVariant(*slot));
  }
  return rt::Variant::array(kind, std::move(elements));
}

}  // namespace

UniqueBstr toBstr(rt::TextView text) {
  UniqueBstr out(SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size())));
  if (!out.get()) rt::raise(rt::kOutOfMemory);
  return out;
}

rt::Text textOf(BSTR text) {
  if (!text) return {};
  return rt::Text(reinterpret_cast<const char16_t*>(text), SysStringLen(text));
}

UniqueVariant toComVariant(const rt::Variant& value) {
  UniqueVariant out;
  VARIANT& v = *out.get();
  switch (value.kind()) {
    case rt::Kind::Empty: break;
    case rt::Kind::Null: v.vt = VT_NULL; break;
    case rt::Kind::Integer:
      v.iVal = value.asInteger();
      v.vt = VT_I2;
      break;
    case rt::Kind::Long:
      v.lVal = value.asLong();
      v.vt = VT_I4;
      break;
    case rt::Kind::Double:
      v.dblVal = value.asDouble();
      v.vt = VT_R8;
      break;
    case rt::Kind::Date:
      v.date = value.asDate().value;
      v.vt = VT_DATE;
      break;
    case rt::Kind::Boolean:
      v.boolVal = value.asBoolean() ? VARIANT_TRUE : VARIANT_FALSE;
      v.vt = VT_BOOL;
      break;
    case rt::Kind::String:
      v.bstrVal = toBstr(value.asText()).release();
      v.vt = VT_BSTR;
      break;
    case rt::Kind::Object:
      v.pdispVal = ComPtr<IDispatch>::borrow(dispatchOf(value.asObject())).detach();
      v.vt = VT_DISPATCH;
      break;
    case rt::Kind::Array: return arrayToComVariant(value.asArray());
    case rt::Kind::Any: typeMismatch();
  }
  return out;
}

rt::Variant fromComVariant(const VARIANT& value) {
  if (value.vt & VT_BYREF) {
    UniqueVariant direct;
    if (FAILED(VariantCopyInd(direct.put(), const_cast<VARIANT*>(&value)))) typeMismatch();
    return fromComVariant(*direct.get());
  }
  if (value.vt & VT_ARRAY) return arrayFromComVariant(value.vt & VT_TYPEMASK, value.parray);

  switch (value.vt) {
    case VT_EMPTY: return {};
    case VT_NULL: return rt::Variant::null();
    case VT_I1: return rt::Variant(static_cast<int16_t>(static_cast<signed char>(value.cVal)));
    case VT_UI1: return rt::Variant(static_cast<int16_t>(value.bVal));
    case VT_I2: return rt::Variant(static_cast<int16_t>(value.iVal));
    case VT_UI2: return rt::Variant(static_cast<int32_t>(value.uiVal));
    case VT_I4: return rt::Variant(static_cast<int32_t>(value.lVal));
    case VT_INT: return rt::Variant(static_cast<int32_t>(value.intVal));
    case VT_UI4: return wholeNumber(static_cast<uint32_t>(value.ulVal));
    case VT_UINT: return wholeNumber(static_cast<uint32_t>(value.uintVal));
    case VT_I8: return wholeNumber(static_cast<int64_t>(value.llVal));
    case VT_UI8: return wholeNumber(static_cast<uint64_t>(value.ullVal));
    case VT_R4: return rt::Variant(static_cast<double>(value.fltVal));
    case VT_R8: return rt::Variant(value.dblVal);
    case VT_CY: {
      double number = 0;
      check(VarR8FromCy(value.cyVal, &number));
      return rt::Variant(number);
    }
    case VT_DECIMAL: {
      double number = 0;
      check(VarR8FromDec(const_cast<DECIMAL*>(&value.decVal), &number));
      return rt::Variant(number);
    }
    case VT_DATE: return rt::Variant(rt::OleDate{value.date});
    case VT_BOOL: return rt::Variant::boolean(value.boolVal != VARIANT_FALSE);
    case VT_BSTR: return rt::Variant(textOf(value.bstrVal));
    case VT_DISPATCH: return rt::Variant(wrapDispatch(ComPtr<IDispatch>::borrow(value.pdispVal)));
    case VT_UNKNOWN: {
      if (!value.punkVal) return rt::Variant::nothing();
      ComPtr<IDispatch> dispatch = ComPtr<IUnknown>::borrow(value.punkVal).query<IDispatch>();
      if (!dispatch) typeMismatch();
      return rt::Variant(wrapDispatch(std::move(dispatch)));
    }
    default: typeMismatch();
  }
}

}  // namespace com
