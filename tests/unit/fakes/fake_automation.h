// A scriptable stand-in for late-bound objects: every call is recorded, and each object answers
// through a function the test gives it.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "runtime/automation.h"
#include "runtime/runtime_error.h"

namespace fakes {

struct RecordedCall {
  rt::Text object;  // the ProgID the object was created from, or the name the test gave it
  rt::Text member;
  rt::CallKind kind;
  std::vector<rt::Variant> arguments;  // values as passed; omitted ones are Empty
  std::vector<bool> omitted;
  std::vector<bool> byRef;
};

class FakeObject : public rt::AutomationObject {
 public:
  using Answer = std::function<rt::Variant(const RecordedCall&, const std::vector<rt::Argument>&)>;

  FakeObject(rt::Text name, std::vector<RecordedCall>& log, Answer answer)
      : name_(std::move(name)), log_(log), answer_(std::move(answer)) {}

  rt::Variant invoke(rt::TextView member, rt::CallKind kind, const std::vector<rt::Argument>& arguments) override {
    RecordedCall call{name_, rt::Text(member), kind, {}, {}, {}};
    for (const rt::Argument& a : arguments) {
      call.arguments.push_back(a.isOmitted() ? rt::Variant() : a.value());
      call.omitted.push_back(a.isOmitted());
      call.byRef.push_back(a.isByRef());
    }
    log_.push_back(call);
    return answer_ ? answer_(call, arguments) : rt::Variant();
  }

  const rt::Text& name() const { return name_; }

 private:
  rt::Text name_;
  std::vector<RecordedCall>& log_;
  Answer answer_;
};

// Creates FakeObjects for the ProgIDs the test registered; anything else raises 429.
class FakeAutomation : public rt::Automation {
 public:
  void registerClass(rt::TextView progId, FakeObject::Answer answer) { classes_[rt::Text(progId)] = std::move(answer); }
  void unregisterClass(rt::TextView progId) { classes_.erase(rt::Text(progId)); }

  rt::ObjectRef createObject(rt::TextView progId) override {
    created.push_back(rt::Text(progId));
    auto found = classes_.find(rt::Text(progId));
    if (found == classes_.end()) rt::raise(rt::kCannotCreateObject);
    auto object = std::make_shared<FakeObject>(rt::Text(progId), calls, found->second);
    live_.push_back(object);
    return object;
  }

  // An object that was not created from a ProgID (one returned by a call, say).
  rt::ObjectRef makeObject(rt::TextView name, FakeObject::Answer answer) {
    auto object = std::make_shared<FakeObject>(rt::Text(name), calls, std::move(answer));
    live_.push_back(object);
    return object;
  }

  // Calls on objects of `progId`, in order.
  std::vector<RecordedCall> callsOn(rt::TextView progId) const {
    std::vector<RecordedCall> out;
    for (const RecordedCall& c : calls)
      if (c.object == progId) out.push_back(c);
    return out;
  }

  // How many of the objects created are still referenced by someone other than this fake.
  int stillHeld() const {
    int n = 0;
    for (const auto& weak : live_)
      if (!weak.expired()) ++n;
    return n;
  }

  std::vector<rt::Text> created;
  std::vector<RecordedCall> calls;

 private:
  std::map<rt::Text, FakeObject::Answer> classes_;
  std::vector<std::weak_ptr<FakeObject>> live_;
};

}  // namespace fakes
