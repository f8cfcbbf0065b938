// The conversions and text helpers the procedures rely on, with the rules of the runtime they
// were first written for.
#pragma once

#include <cstdint>

#include "runtime/text.h"
#include "runtime/variant.h"

namespace rt {

// True -1 and false 0, the 16-bit booleans of the procedures' results.
inline constexpr int16_t kTrue = -1;
inline constexpr int16_t kFalse = 0;

// To text: Empty gives "", an integer its decimal digits, a boolean "True" or "False".
// Null raises 94; an object or an array raises 13.
Text toText(const Variant& value);

// To a 32-bit signed integer: numbers and numeric text (user locale) rounded half to even.
// Out of range raises 6, text that is not a number raises 13, Null raises 94.
int32_t toLong(const Variant& value);

// Stores a count into a 16-bit integer; beyond -32,768..32,767 raises 6.
int16_t toInteger(int32_t value);

// Whether the value is a number, or text that reads as a whole as a number in the user's
// locale: surrounding spaces, one sign, digits with group separators, one decimal separator,
// an exponent. The empty text is not numeric.
bool isNumeric(const Variant& value);

// The leading number of a text: blanks, tabs and line breaks anywhere are ignored, then the
// longest leading piece of sign, digits, one "." and an exponent is read. Never fails; a text
// without such a piece is 0.
double leadingNumber(TextView text);

// Splits at every occurrence of `delimiter`, keeping empty parts; "" gives an allocated array
// without elements. The result is an array of texts.
Variant split(TextView text, TextView delimiter);

// 1-based position of `needle` in `haystack` by exact comparison, 0 when absent.
int32_t findText(TextView haystack, TextView needle);

// Removes leading and trailing space characters (U+0020 only).
Text trimSpaces(TextView text);

// Element `index` of an array variant; an index outside its bounds, or an array never
// allocated, raises 9.
const Variant& element(const Variant& array, int32_t index);

}  // namespace rt
