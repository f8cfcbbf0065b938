// The WMI registry provider as late-bound objects: a named-value set, a locator whose connection
// gives StdRegProv, and GetStringValue answered from a table per registry view.
#pragma once

#include <map>
#include <tuple>

#include "fake_automation.h"
#include "runtime/conversions.h"

namespace fakes {

class FakeWmiRegistry {
 public:
  explicit FakeWmiRegistry(FakeAutomation& automation) : automation_(automation) { install(); }

  // A string value visible in the view of `architecture` (32 or 64).
  void seed(int32_t architecture, rt::TextView path, rt::TextView name, rt::TextView text) {
    values_[{architecture, rt::Text(path), rt::Text(name)}] = rt::Text(text);
  }
  // What GetStringValue leaves in sValue for a missing value: Null on Windows.
  rt::Variant missing = rt::Variant::null();
  // How many GetStringValue calls ran.
  int reads = 0;

  void uninstallLocator() { automation_.unregisterClass(u"Wbemscripting.SWbemLocator"); }

 private:
  using Key = std::tuple<int32_t, rt::Text, rt::Text>;

  void install() {
    automation_.registerClass(u"WbemScripting.SWbemNamedValueSet", [this](const RecordedCall& call, auto&) {
      if (call.member == u"Add") architecture_ = rt::toLong(call.arguments.at(1));
      return rt::Variant();
    });
    automation_.registerClass(u"Wbemscripting.SWbemLocator", [this](const RecordedCall& call, auto&) {
      if (call.member != u"ConnectServer") rt::raise(rt::kMemberNotSupported);
      return rt::Variant(automation_.makeObject(u"SWbemServices", [this](const RecordedCall& c, auto&) {
        if (c.member != u"Get") rt::raise(rt::kMemberNotSupported);
        return rt::Variant(provider());
      }));
    });
  }

  rt::ObjectRef provider() {
    return automation_.makeObject(u"StdRegProv", [this](const RecordedCall& call, auto&) -> rt::Variant {
      if (call.member == u"Methods_") {
        return automation_.makeObject(u"Methods_", [this](const RecordedCall&, auto&) {
          return rt::Variant(automation_.makeObject(u"GetStringValue", [this](const RecordedCall&, auto&) {
            return rt::Variant(inParameters());
          }));
        });
      }
      if (call.member == u"ExecMethod_") return outParameters();
      rt::raise(rt::kMemberNotSupported);
    });
  }

  rt::ObjectRef inParameters() {
    return automation_.makeObject(u"InParameters", [this](const RecordedCall& call, auto&) {
      if (call.kind != rt::CallKind::PropertyPut) rt::raise(rt::kMemberNotSupported);
      inputs_[call.member] = call.arguments.at(0);
      return rt::Variant();
    });
  }

  rt::ObjectRef outParameters() {
    ++reads;
    const rt::Variant& root = inputs_[u"hDefKey"];
    rt::Variant answer = missing;
    if (root.kind() == rt::Kind::Long && root.asLong() == static_cast<int32_t>(0x80000002u)) {
      auto found = values_.find({architecture_, rt::toText(inputs_[u"sSubKeyName"]), rt::toText(inputs_[u"sValueName"])});
      if (found != values_.end()) answer = found->second;
    }
    return automation_.makeObject(u"OutParameters", [answer](const RecordedCall& call, auto&) {
      if (call.member != u"sValue") rt::raise(rt::kMemberNotSupported);
      return answer;
    });
  }

  FakeAutomation& automation_;
  std::map<Key, rt::Text> values_;
  std::map<rt::Text, rt::Variant> inputs_;
  int32_t architecture_ = 0;
};

}  // namespace fakes
