#include "platform/win32/com/variant_conversion.h"

#include <cstring>
#include <limits>
#include <vector>

#include "platform/win32/com/automation_error.h"
#include "platform/win32/com/floating_point_state.h"
#include "platform/win32/com/late_bound_object.h"

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

handles::unique_variant arrayToComVariant(const rt::ArrayData& array) {
  const VARTYPE elementType = elementVartype(array.elementType);
  handles::unique_variant out;
  if (!array.allocated) {
    out.get()->parray = nullptr;
    out.get()->vt = VT_ARRAY | elementType;
    return out;
  }
  handles::unique_safearray elements(SafeArrayCreateVector(elementType, 0, static_cast<ULONG>(array.elements.size())));
  if (!elements.get()) rt::raise(rt::kOutOfMemory);
  for (LONG index = 0; index < static_cast<LONG>(array.elements.size()); ++index) {
    handles::unique_variant element = toComVariant(array.elements[index]);
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

// A value that is neither a reference nor an array.
rt::Variant fromScalar(const VARIANT& value) {
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
    case VT_DISPATCH: return rt::Variant(wrapDispatch(handles::com_ptr<IDispatch>::borrow(value.pdispVal)));
    case VT_UNKNOWN: {
      if (!value.punkVal) return rt::Variant::nothing();
      handles::com_ptr<IDispatch> dispatch = handles::com_ptr<IUnknown>::borrow(value.punkVal).query<IDispatch>();
      if (!dispatch) typeMismatch();
      return rt::Variant(wrapDispatch(std::move(dispatch)));
    }
    default: typeMismatch();
  }
}

// What a component's value may hold at most. Deeper nesting or more elements is no value the
// utility asks for: it is refused rather than followed into a stack overflow, an exhausted
// address space or a read past the end of the component's memory.
constexpr int kMaxNesting = 16;
constexpr LONG kMaxElements = 1 << 20;

// The size of one element of an array of `type`.
ULONG elementSize(VARTYPE type) {
  switch (type) {
    case VT_I1:
    case VT_UI1: return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL: return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4: return 4;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_CY:
    case VT_DATE: return 8;
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_UNKNOWN: return sizeof(void*);
    case VT_DECIMAL: return sizeof(DECIMAL);
    case VT_VARIANT: return sizeof(VARIANT);
    default: return 0;
  }
}

// The feature flag an array of `type` carries: the one that tells SafeArrayDestroy how to free
// its elements.
USHORT elementFeature(VARTYPE type) {
  switch (type) {
    case VT_BSTR: return FADF_BSTR;
    case VT_DISPATCH: return FADF_DISPATCH;
    case VT_UNKNOWN: return FADF_UNKNOWN;
    case VT_VARIANT: return FADF_VARIANT;
    default: return 0;
  }
}

// An array locked for reading, so that its data stays where it is.
class ArrayLock {
 public:
  explicit ArrayLock(SAFEARRAY* array) : array_(array) { check(SafeArrayLock(array_)); }
  ArrayLock(const ArrayLock&) = delete;
  ArrayLock& operator=(const ArrayLock&) = delete;
  ~ArrayLock() { SafeArrayUnlock(array_); }

 private:
  SAFEARRAY* array_;
};

// A VARIANT of `type` that borrows the value stored at `source` (an array element or the target
// of a reference): nothing is copied or owned, so it must not be cleared.
VARIANT borrowedValue(VARTYPE type, const void* source) {
  VARIANT value;
  value.vt = VT_EMPTY;
  if (type == VT_DECIMAL) {
    // A DECIMAL fills the whole VARIANT (its first field is where vt lives).
    value.decVal = *static_cast<const DECIMAL*>(source);
  } else {
    const ULONG size = elementSize(type);
    if (size == 0 || size > sizeof value.llVal) typeMismatch();
    value.llVal = 0;
    std::memcpy(&value.llVal, source, size);
  }
  value.vt = type;
  return value;
}

// Reads one value a component handed over, within the limits above.
class ValueReader {
 public:
  rt::Variant read(const VARIANT& value, int depth) {
    if (value.vt & (VT_VECTOR | VT_RESERVED)) typeMismatch();
    if (value.vt & VT_BYREF) return dereference(value, depth);
    if (value.vt & VT_ARRAY) return readArray(value.vt & VT_TYPEMASK, value.parray, depth);
    return fromScalar(value);
  }

 private:
  rt::Variant dereference(const VARIANT& value, int depth) {
    const VARTYPE type = value.vt & ~VT_BYREF;
    if (!value.byref) typeMismatch();
    if (type == VT_VARIANT) {
      // A reference to another reference, or to itself, holds no value.
      if (value.pvarVal->vt & VT_BYREF) typeMismatch();
      return read(*value.pvarVal, depth);
    }
    if (type & VT_ARRAY) return readArray(type & VT_TYPEMASK, *value.pparray, depth);
    return fromScalar(borrowedValue(type, value.byref));
  }

  rt::Variant readArray(VARTYPE elementType, SAFEARRAY* array, int depth) {
    const rt::Kind kind = elementKind(elementType);
    if (!array) return rt::Variant::unallocatedArray(kind);
    if (depth >= kMaxNesting || SafeArrayGetDim(array) != 1) typeMismatch();
    // The array must hold what its label says, or its elements would be read as something else.
    VARTYPE stored = VT_EMPTY;
    const USHORT kinds = FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH | FADF_VARIANT | FADF_RECORD;
    if (FAILED(SafeArrayGetVartype(array, &stored)) || stored != elementType ||
        SafeArrayGetElemsize(array) != elementSize(elementType) ||
        (array->fFeatures & kinds) != elementFeature(elementType))
      typeMismatch();
    LONG lower = 0;
    LONG upper = -1;
    check(SafeArrayGetLBound(array, 1, &lower));
    check(SafeArrayGetUBound(array, 1, &upper));
    if (lower != 0 || upper < -1 || upper >= elementsLeft_) typeMismatch();
    elementsLeft_ -= upper + 1;

    const ArrayLock lock(array);
    std::vector<rt::Variant> elements;
    elements.reserve(static_cast<size_t>(upper + 1));
    for (LONG index = 0; index <= upper; ++index) {
      void* element = nullptr;
      check(SafeArrayPtrOfIndex(array, &index, &element));
      if (elementType == VT_VARIANT) {
        const VARIANT& value = *static_cast<const VARIANT*>(element);
        if (value.vt & VT_BYREF) typeMismatch();
        elements.push_back(read(value, depth + 1));
      } else {
        elements.push_back(fromScalar(borrowedValue(elementType, element)));
      }
    }
    return rt::Variant::array(kind, std::move(elements));
  }

  LONG elementsLeft_ = kMaxElements;
};

// The value a reference points at, borrowed, or the value itself when it is no reference.
// Arrays, null references and references to references convert to no number.
VARIANT referencedScalar(const VARIANT& value) {
  if (value.vt & (VT_VECTOR | VT_RESERVED | VT_ARRAY)) typeMismatch();
  if (!(value.vt & VT_BYREF)) return value;
  if (!value.byref) typeMismatch();
  const VARTYPE type = value.vt & ~VT_BYREF;
  if (type != VT_VARIANT) return borrowedValue(type, value.byref);
  const VARIANT& target = *value.pvarVal;
  if (target.vt & (VT_BYREF | VT_VECTOR | VT_RESERVED | VT_ARRAY)) typeMismatch();
  return target;
}

bool isObject(const VARIANT& value) { return value.vt == VT_DISPATCH || value.vt == VT_UNKNOWN; }

// The types VariantChangeTypeEx reads as they are, without calling into anything.
bool convertsByItself(VARTYPE type) {
  switch (type) {
    case VT_EMPTY: case VT_NULL: case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4:
    case VT_INT: case VT_UINT: case VT_I8: case VT_UI8: case VT_R4: case VT_R8: case VT_CY: case VT_DECIMAL:
    case VT_DATE: case VT_BOOL: case VT_BSTR: case VT_ERROR: return true;
    default: return false;
  }
}

// An object's default value, as a property read of DISPID_VALUE. Nothing has none.
handles::unique_variant defaultValueOf(const VARIANT& object) {
  const FloatingPointState floatingPoint;
  handles::com_ptr<IDispatch> dispatch;
  if (object.vt == VT_DISPATCH)
    dispatch = handles::com_ptr<IDispatch>::borrow(object.pdispVal);
  else if (object.punkVal)
    dispatch = handles::com_ptr<IUnknown>::borrow(object.punkVal).query<IDispatch>();
  if (!dispatch) typeMismatch();
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  handles::unique_variant result;
  handles::unique_excepinfo exception;
  UINT badArgument = 0;
  const HRESULT status = dispatch->Invoke(DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT,
                                          DISPATCH_PROPERTYGET | DISPATCH_METHOD, &none, result.put(),
                                          exception.put(), &badArgument);
  if (FAILED(status)) throw invocationError(status, *exception.get());
  return result;
}

}  // namespace

int32_t toAutomationLong(const VARIANT& value) {
  VARIANT scalar = referencedScalar(value);
  handles::unique_variant defaultValue;
  if (isObject(scalar)) {
    defaultValue = defaultValueOf(scalar);
    scalar = referencedScalar(*defaultValue.get());
  }
  if (!convertsByItself(scalar.vt)) typeMismatch();
  handles::unique_variant converted;
  const HRESULT result = VariantChangeTypeEx(converted.put(), &scalar, LOCALE_USER_DEFAULT, 0, VT_I4);
  if (result == DISP_E_OVERFLOW) rt::raise(rt::kOverflow);
  if (FAILED(result)) typeMismatch();
  return converted.get()->lVal;
}

handles::unique_bstr toBstr(rt::TextView text) {
  handles::unique_bstr out(
      SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size())));
  if (!out.get()) rt::raise(rt::kOutOfMemory);
  return out;
}

rt::Text textOf(BSTR text) {
  if (!text) return {};
  return rt::Text(reinterpret_cast<const char16_t*>(text), SysStringLen(text));
}

handles::unique_variant toComVariant(const rt::Variant& value) {
  handles::unique_variant out;
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
      v.pdispVal = handles::com_ptr<IDispatch>::borrow(dispatchOf(value.asObject())).detach();
      v.vt = VT_DISPATCH;
      break;
    case rt::Kind::Array: return arrayToComVariant(value.asArray());
    case rt::Kind::Any: typeMismatch();
  }
  return out;
}

rt::Variant fromComVariant(const VARIANT& value) { return ValueReader().read(value, 0); }

}  // namespace com
