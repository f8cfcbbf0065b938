// A value that carries its own kind, as OLE Automation's VARIANT does: the registry reads, the
// datum of a registry write, the arguments and results of late-bound calls and the error
// context's lists are all variants.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <variant>
#include <vector>

#include "runtime/text.h"

namespace rt {

class AutomationObject;
class Variant;

enum class Kind {
  Empty,
  Null,
  Integer,  // 16-bit signed
  Long,     // 32-bit signed
  Double,
  Date,     // OLE Automation date: days since 30 December 1899, time as the fraction
  Boolean,  // true is -1, false 0, as 16 bits
  String,
  Object,   // a late-bound object reference; Nothing when it refers to no object
  Array,
  Any,  // only as an array's element type: elements of any kind
};

struct OleDate {
  double value = 0;
  friend bool operator==(const OleDate&, const OleDate&) = default;
};

using ObjectRef = std::shared_ptr<AutomationObject>;

// A one-dimensional array with lower bound 0. It knows its element type (an array of texts is
// not an array of variants) and whether it has been allocated at all: an array that was only
// declared is handed over as such, not as an array without elements.
struct ArrayData {
  Kind elementType = Kind::Any;
  bool allocated = false;
  std::vector<Variant> elements;
};

class Variant {
 public:
  Variant() = default;  // Empty
  Variant(int16_t value) : value_(value) {}
  Variant(int32_t value) : value_(value) {}
  Variant(double value) : value_(value) {}
  Variant(OleDate value) : value_(value) {}
  Variant(bool) = delete;  // booleans are 16-bit in this world: use Variant::boolean()
  Variant(Text value) : value_(std::move(value)) {}
  Variant(TextView value) : value_(Text(value)) {}
  Variant(const char16_t* value) : value_(Text(value)) {}
  Variant(ObjectRef object) : value_(std::move(object)) {}

  static Variant null();
  static Variant boolean(bool value);
  static Variant nothing() { return Variant(ObjectRef{}); }
  // An array of `elementType` holding `elements`.
  static Variant array(Kind elementType, std::vector<Variant> elements);
  static Variant array(std::vector<Variant> elements) { return array(Kind::Any, std::move(elements)); }
  // An array of `elementType` that was declared but never allocated.
  static Variant unallocatedArray(Kind elementType);

  Kind kind() const;
  bool isNull() const { return kind() == Kind::Null; }

  // Typed access; each requires the matching kind.
  int16_t asInteger() const { return std::get<int16_t>(value_); }
  int32_t asLong() const { return std::get<int32_t>(value_); }
  double asDouble() const { return std::get<double>(value_); }
  OleDate asDate() const { return std::get<OleDate>(value_); }
  bool asBoolean() const { return std::get<BooleanValue>(value_).value; }
  const Text& asText() const { return std::get<Text>(value_); }
  const ObjectRef& asObject() const { return std::get<ObjectRef>(value_); }
  const ArrayData& asArray() const { return *std::get<std::shared_ptr<const ArrayData>>(value_); }

  // Same kind and same value; objects compare by identity, arrays element by element.
  friend bool operator==(const Variant& a, const Variant& b);

 private:
  struct NullValue {
    friend bool operator==(NullValue, NullValue) { return true; }
  };
  struct BooleanValue {
    bool value;
    friend bool operator==(BooleanValue, BooleanValue) = default;
  };
  // Arrays are values: a copy of a variant is a copy of its array, and nothing changes an array
  // once made, so sharing the elements is safe.
  std::variant<std::monostate, NullValue, int16_t, int32_t, double, OleDate, BooleanValue, Text,
               ObjectRef, std::shared_ptr<const ArrayData>>
      value_;
};

// The name/value list of the error context: names and values alternate.
// With nothing to list it holds the one text "Empty", never nothing at all.
Variant nameValueList(std::initializer_list<std::pair<TextView, Variant>> entries);

// The list that stands for "nothing to list".
Variant emptyList();

// A readable rendering for test failures and diagnostics: "Long 5", "Text \"abc\"".
std::string describe(const Variant& value);

}  // namespace rt
