// The utility's values as OLE Automation VARIANTs and back.
#pragma once

#include "platform/win32/handles/handles.h"
#include "runtime/variant.h"

namespace com {

// A BSTR holding `text` (embedded NULs kept). Raises 7 when memory runs out.
handles::unique_bstr toBstr(rt::TextView text);
// The text of a BSTR; a null BSTR is the empty text, as OLE Automation treats it.
rt::Text textOf(BSTR text);

// `value` as a VARIANT: Integer VT_I2, Long VT_I4, Double VT_R8, Date VT_DATE, Boolean VT_BOOL,
// String VT_BSTR, Object VT_DISPATCH (Nothing: a null pointer), an array as a one-dimensional
// SAFEARRAY with lower bound 0 of its element type (VT_VARIANT for Any), one that was never
// allocated as VT_ARRAY with a null SAFEARRAY. Raises 13 for an object that is not a COM object.
handles::unique_variant toComVariant(const rt::Variant& value);

// A VARIANT as a value: references followed; the 8-, 16- and 32-bit integers as Integer or
// Long, wider or unsigned ones as Long when they fit and Double otherwise; currency, decimal and
// floats as Double; IUnknown as an object when it answers IDispatch. Raises 13 for anything
// else: arrays of more than one dimension, with a lower bound other than 0, whose stored type
// disagrees with their label, nested more than 16 deep or with more than 2^20 elements in all;
// null references and references to references.
rt::Variant fromComVariant(const VARIANT& value);

// A component's answer as a 32-bit integer, by OLE Automation's own conversion
// (VariantChangeTypeEx to VT_I4 in the user's locale): "&H4" is 4, " 5 " 5, "(4)" -4, "5.5" 6.
// A reference is followed once; an object gives its default value (DISPID_VALUE), read once
// here rather than by the conversion, which would follow an object whose value is itself until
// the stack runs out. Raises 13 for what converts to no number (Null, an array, an object whose
// value is an object again), 6 for a number that does not fit, and the component's own failure
// when reading the default value fails.
int32_t toAutomationLong(const VARIANT& value);

}  // namespace com
