#include "scripted_answers.h"

#include <atomic>
#include <cwchar>
#include <string>
#include <string_view>

#include "dispatch.h"
#include "settings.h"

namespace vbgreport {
namespace {

// Position in the script, shared by every report object of the process: each failure of the
// utility creates a new one.
std::atomic<long> nextPosition{0};

constexpr std::wstring_view kTextForm = L"text:";
constexpr std::wstring_view kFailureForm = L"hr:";
constexpr std::wstring_view kSelfForm = L"self";

std::wstring_view entryAt(std::wstring_view script, long position) {
  for (long i = 0; i < position; ++i) {
    const size_t comma = script.find(L',');
    if (comma == std::wstring_view::npos) return {};
    script.remove_prefix(comma + 1);
  }
  return script.substr(0, script.find(L','));
}

// An object whose default value is itself: whoever reads the value of the value never ends.
constexpr Member kSelfValuedMembers[] = {{L"Value", DISPID_VALUE, MemberKind::Property}};

class SelfValued final : public DispatchObject {
 public:
  SelfValued() noexcept : DispatchObject(kSelfValuedMembers, L"VBGuardReport.SelfValued") {}

 protected:
  unique_variant invokeMember(const Call& call) override {
    if (call.kind() != CallKind::Get) throw Failure::rejection(DISP_E_MEMBERNOTFOUND);
    AddRef();
    unique_variant self;
    V_VT(self.get()) = VT_DISPATCH;
    V_DISPATCH(self.get()) = this;
    return self;
  }
};

unique_variant answerOf(std::wstring_view entry) {
  if (entry.substr(0, kTextForm.size()) == kTextForm) return textVariant(entry.substr(kTextForm.size()));
  if (entry.substr(0, kFailureForm.size()) == kFailureForm) {
    const std::wstring code(entry.substr(kFailureForm.size()));
    throw Failure::rejection(static_cast<HRESULT>(std::wcstoul(code.c_str(), nullptr, 0)));
  }
  if (entry == kSelfForm) {
    unique_variant self;
    check(createObject<SelfValued>(IID_IDispatch, reinterpret_cast<void**>(&V_DISPATCH(self.get()))));
    V_VT(self.get()) = VT_DISPATCH;
    return self;
  }
  return longVariant(static_cast<LONG>(std::wcstol(std::wstring(entry).c_str(), nullptr, 10)));
}

}  // namespace

std::optional<unique_variant> nextScriptedAnswer() {
  const std::optional<std::wstring> script = environmentVariable(kAnswersVariable);
  if (!script) return std::nullopt;
  return answerOf(entryAt(*script, nextPosition++));
}

}  // namespace vbgreport
