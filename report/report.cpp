#include "report.h"

#include <atomic>

#include "arrays.h"
#include "classes.h"
#include "dialog.h"
#include "dispatch.h"
#include "report_text.h"
#if VBGUARD_REPORT_TEST_HOOKS
#include "json_log.h"
#include "scripted_answers.h"
#endif

namespace vbgreport {
namespace {

enum ReportMember : DISPID {
  kCustomDialog = 1,
  kErrDescription,
  kAppPath,
  kAppTitle,
  kUserData,
  kSetVariables,
  kReportError,
};

constexpr Member kReportMembers[] = {
    {L"CustomDialog", kCustomDialog, MemberKind::ObjectProperty},
    {L"ErrDescription", kErrDescription, MemberKind::Property},
    {L"AppPath", kAppPath, MemberKind::Property},
    {L"AppTitle", kAppTitle, MemberKind::Property},
    {L"UserData", kUserData, MemberKind::Property},
    {L"SetVariables", kSetVariables, MemberKind::Method, 4},
    {L"ReportError", kReportError, MemberKind::Method},
};

// Numbers the report objects of the process, as the call log names them.
std::atomic<long> reportsCreated{0};

unique_variant objectValue(IDispatch* object) {
  unique_variant value;
  VARIANT* slot = value.put();
  V_VT(slot) = VT_DISPATCH;
  V_DISPATCH(slot) = com_ptr<IDispatch>::borrow(object).detach();
  return value;
}

// An object argument as IDispatch; Nothing (and Empty) clear the property.
com_ptr<IDispatch> objectArgument(const Call& call) {
  const VARIANT& value = referencedValue(call.argument(0));
  switch (V_VT(&value)) {
    case VT_EMPTY: return {};
    case VT_DISPATCH: return com_ptr<IDispatch>::borrow(V_DISPATCH(&value));
    case VT_DISPATCH | VT_BYREF: return com_ptr<IDispatch>::borrow(V_DISPATCHREF(&value) ? *V_DISPATCHREF(&value) : nullptr);
    case VT_UNKNOWN: {
      if (!V_UNKNOWN(&value)) return {};
      com_ptr<IDispatch> dispatch = com_ptr<IUnknown>::borrow(V_UNKNOWN(&value)).query<IDispatch>();
      if (!dispatch) call.rejectArgument(0);
      return dispatch;
    }
    default: call.rejectArgument(0);
  }
}

unique_variant arrayArgument(const Call& call, UINT index) {
  if (!(valueType(call.argument(index)) & VT_ARRAY)) call.rejectArgument(index);
  return copyOf(call.argument(index));
}

unique_variant textArgument(const Call& call, UINT index) {
  const unique_variant value = copyOf(call.argument(index));
  unique_variant text;
  if (FAILED(VariantChangeType(text.put(), const_cast<VARIANT*>(value.get()), 0, VT_BSTR))) call.rejectArgument(index);
  return text;
}

std::wstring textOf(const unique_variant& value) {
  const VARIANT& held = *value.get();
  if (V_VT(&held) != VT_BSTR || !V_BSTR(&held)) return {};
  return std::wstring(V_BSTR(&held), SysStringLen(V_BSTR(&held)));
}

// Late-bound ShowReport on whatever object was put in CustomDialog.
LONG askDialog(IDispatch* dialog, const std::wstring& text, const std::wstring& caption) {
  LPOLESTR name = const_cast<LPOLESTR>(kShowReportMember);
  DISPID id = DISPID_UNKNOWN;
  HRESULT hr = dialog->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) throw Failure(hr, L"L'oggetto CustomDialog non sa mostrare la segnalazione (ShowReport).");

  unique_variant arguments[2] = {textVariant(caption), textVariant(text)};  // last first
  VARIANT passed[2] = {*arguments[0].get(), *arguments[1].get()};
  DISPPARAMS parameters{passed, nullptr, 2, 0};
  unique_variant answer;
  EXCEPINFO exception{};
  UINT argumentError = 0;
  hr = dialog->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &parameters, answer.put(), &exception,
                      &argumentError);
  const unique_bstr source(exception.bstrSource), description(exception.bstrDescription), help(exception.bstrHelpFile);
  if (hr == DISP_E_EXCEPTION)
    throw Failure(exception.scode ? exception.scode : E_FAIL, std::wstring(viewOf(description.get())));
  if (FAILED(hr)) throw Failure(hr, L"La finestra della segnalazione non ha risposto.");

  unique_variant number;
  if (FAILED(VariantChangeType(number.put(), const_cast<VARIANT*>(answer.get()), 0, VT_I4)))
    throw Failure(DISP_E_TYPEMISMATCH, L"La finestra della segnalazione ha dato una risposta non numerica.");
  return V_I4(number.get());
}

class VBGuardReport final : public DispatchObject {
 public:
  VBGuardReport() noexcept : DispatchObject(kReportMembers, kReportProgId), instance_(++reportsCreated) {}

 protected:
  unique_variant invokeMember(const Call& call) override {
    const bool reading = call.kind() == CallKind::Get;
    switch (call.member().id) {
      case kCustomDialog:
        if (reading) return objectValue(dialog_.get());
        dialog_ = objectArgument(call);
        return {};
      case kErrDescription: return readOrWrite(call, description_, &arrayArgument);
      case kAppPath: return readOrWrite(call, appPath_, &textArgument);
      case kAppTitle: return readOrWrite(call, appTitle_, &textArgument);
      case kUserData: return readOrWrite(call, userData_, &arrayArgument);
      case kSetVariables: {
        unique_variant lists[4];
        for (UINT i = 0; i < 4; ++i) lists[i] = arrayArgument(call, i);
        for (UINT i = 0; i < 4; ++i) variableLists_[i] = std::move(lists[i]);
        variablesSet_ = true;
        return {};
      }
      case kReportError: return reportError();
    }
    throw Failure::rejection(DISP_E_MEMBERNOTFOUND);
  }

#if VBGUARD_REPORT_TEST_HOOKS
  void callFinished(const Call& call, const VARIANT* result, HRESULT outcome) noexcept override {
    logCall(instance_, call, result, outcome);
  }
#endif

 private:
  using Reader = unique_variant (*)(const Call&, UINT);

  static unique_variant readOrWrite(const Call& call, unique_variant& property, Reader read) {
    if (call.kind() == CallKind::Get) return copyOf(*property.get());
    property = read(call, 0);
    return {};
  }

  unique_variant reportError() {
    const std::wstring appTitle = textOf(appTitle_), appPath = textOf(appPath_);
    const ReportContent content{*description_.get(), appPath, appTitle, *userData_.get(),
                                {variablesSet_ ? variableLists_[0].get() : nullptr,
                                 variablesSet_ ? variableLists_[1].get() : nullptr,
                                 variablesSet_ ? variableLists_[2].get() : nullptr,
                                 variablesSet_ ? variableLists_[3].get() : nullptr}};
    const std::wstring text = reportText(content), caption = reportCaption(appTitle);
    com_ptr<IDispatch> dialog = com_ptr<IDispatch>::borrow(dialog_.get());
#if VBGUARD_REPORT_TEST_HOOKS
    // A script answers for the component's own dialog, never for someone else's.
    if (!dialog || isOwnDialog(dialog.get()))
      if (std::optional<unique_variant> scripted = nextScriptedAnswer()) return std::move(*scripted);
#endif
    // A report left without its dialog uses one of its own.
    if (!dialog) check(createDialog(IID_IDispatch, dialog.put_void()));
    return longVariant(askDialog(dialog.get(), text, caption));
  }

  const long instance_;  // as the call log names it
  com_ptr<IDispatch> dialog_;
  unique_variant description_, appPath_, appTitle_, userData_;
  unique_variant variableLists_[4];
  bool variablesSet_ = false;
};

}  // namespace

HRESULT createReport(REFIID interfaceId, void** object) noexcept { return createObject<VBGuardReport>(interfaceId, object); }

}  // namespace vbgreport
