// Creating COM objects for the portable code.
#pragma once

#include "runtime/automation.h"

namespace com {

// Creates objects in the calling thread's apartment, which must be initialised (handles::unique_apartment).
class ComAutomation final : public rt::Automation {
 public:
  // A new instance of the class named by `progId`, or by a class identifier in braces, asked
  // for IDispatch from any kind of server. Never a running instance. Raises 429 on any failure.
  rt::ObjectRef createObject(rt::TextView progId) override;
};

}  // namespace com
