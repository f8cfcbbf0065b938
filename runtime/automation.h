// Late-bound automation: objects created from a programmatic identifier and driven by member
// name at call time. Windows implements it over IDispatch; the unit tests script a fake.
#pragma once

#include <memory>
#include <vector>

#include "runtime/text.h"
#include "runtime/variant.h"

namespace rt {

enum class CallKind {
  Method,
  PropertyGet,
  PropertyPut,     // by value
  PropertyPutRef,  // an object reference, by reference
};

// One argument of a late-bound call: a value, a caller's variable passed by reference (what the
// callee leaves in it is not read back), or omitted so that the member applies its own default.
class Argument {
 public:
  Argument(Variant value) : value_(std::move(value)) {}
  Argument(const char16_t* value) : value_(Variant(value)) {}
  Argument(const Text& value) : value_(Variant(value)) {}
  static Argument byRef(Variant& variable) { return Argument(&variable); }
  static Argument omitted() { return Argument(Omitted{}); }

  bool isOmitted() const { return omitted_; }
  bool isByRef() const { return reference_ != nullptr; }
  // The value passed: the referenced variable for a by-reference argument.
  const Variant& value() const { return reference_ ? *reference_ : value_; }

 private:
  struct Omitted {};
  explicit Argument(Variant* reference) : reference_(reference) {}
  explicit Argument(Omitted) : omitted_(true) {}

  Variant value_;
  Variant* reference_ = nullptr;
  bool omitted_ = false;
};

class AutomationObject {
 public:
  virtual ~AutomationObject() = default;

  // Calls `member`; failures are runtime errors: 438 for a member the object does not have,
  // 13 or 6 for arguments or results that do not convert, otherwise the component's own
  // number, description and source.
  virtual Variant invoke(TextView member, CallKind kind, const std::vector<Argument>& arguments) = 0;

  Variant call(TextView method, const std::vector<Argument>& arguments = {}) {
    return invoke(method, CallKind::Method, arguments);
  }
  // Calls `method` and gives its result as a 32-bit integer, converted as OLE Automation
  // converts a value to a Long, in the user's number format ("&H4" is 4, "(4)" is -4); an object
  // gives its default value. Raises 13 for a result that is no number, 6 for one that does not
  // fit. This default converts the result as CLng does; the COM binding uses the platform's own
  // conversion, on the result as the component returned it.
  virtual int32_t callForLong(TextView method);

  Variant get(TextView property, const std::vector<Argument>& arguments = {}) {
    return invoke(property, CallKind::PropertyGet, arguments);
  }
  void put(TextView property, Variant value) { invoke(property, CallKind::PropertyPut, {Argument(std::move(value))}); }
  void putRef(TextView property, Variant object) {
    invoke(property, CallKind::PropertyPutRef, {Argument(std::move(object))});
  }
};

class Automation {
 public:
  virtual ~Automation() = default;

  // A new instance of the class registered under `progId` (or named by a class identifier in
  // braces); never a running one. Raises 429 when it cannot be created.
  virtual ObjectRef createObject(TextView progId) = 0;
};

// The object a variant refers to; raises 91 for Nothing or Empty, 424 for anything else.
AutomationObject& objectOf(const Variant& value);

}  // namespace rt
