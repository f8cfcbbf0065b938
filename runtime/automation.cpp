#include "runtime/automation.h"

#include "runtime/conversions.h"
#include "runtime/runtime_error.h"

namespace rt {

int32_t AutomationObject::callForLong(TextView method) { return toLong(call(method)); }

AutomationObject& objectOf(const Variant& value) {
  if (value.kind() == Kind::Empty) raise(kObjectNotSet);
  if (value.kind() != Kind::Object) raise(kObjectRequired);
  if (!value.asObject()) raise(kObjectNotSet);
  return *value.asObject();
}

}  // namespace rt
