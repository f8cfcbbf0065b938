#include "platform/win32/com/automation_error.h"

#include "platform/win32/com/variant_conversion.h"

namespace com {

namespace {

constexpr char16_t kAutomationErrorText[] = u"Errore di automazione";

rt::RuntimeError basicError(int32_t number) {
  return rt::RuntimeError({number, rt::errorDescription(number), rt::kProjectName, u"", 0});
}

// 0x800Axxxx: the component raised a Basic error number; the caller sees that number.
bool isBasicError(HRESULT result) { return (static_cast<uint32_t>(result) & 0xFFFF0000u) == 0x800A0000u; }

}  // namespace

rt::RuntimeError automationError(HRESULT result) {
  switch (result) {
    case DISP_E_UNKNOWNNAME:
    case DISP_E_MEMBERNOTFOUND: return basicError(rt::kMemberNotSupported);
    case DISP_E_TYPEMISMATCH: return basicError(rt::kTypeMismatch);
    case DISP_E_OVERFLOW: return basicError(rt::kOverflow);
    case DISP_E_BADPARAMCOUNT: return basicError(rt::kWrongArgumentCount);
    case DISP_E_PARAMNOTOPTIONAL: return basicError(rt::kArgumentNotOptional);
    default: break;
  }
  if (isBasicError(result)) {
    // 0x800A0000 names no number, and a record numbered 0 would read as "no failure" to the caller.
    const int32_t number = HRESULT_CODE(result);
    return basicError(number != 0 ? number : int32_t{rt::kAutomationError});
  }
  return rt::RuntimeError({static_cast<int32_t>(result), kAutomationErrorText, u"", u"", 0});
}

rt::RuntimeError invocationError(HRESULT result, EXCEPINFO& exception) {
  if (result != DISP_E_EXCEPTION) return automationError(result);
  if (exception.pfnDeferredFillIn) exception.pfnDeferredFillIn(&exception);

  rt::ErrorRecord record;
  bool basicNumber = true;
  if (exception.scode == 0) {
    record.number = exception.wCode;
  } else if (isBasicError(exception.scode)) {
    record.number = HRESULT_CODE(exception.scode);
  } else {
    record.number = static_cast<int32_t>(exception.scode);
    basicNumber = false;
  }
  // A record numbered 0 would read as "no failure" to the caller.
  if (record.number == 0) record.number = rt::kAutomationError;

  record.description = textOf(exception.bstrDescription);
  if (record.description.empty())
    record.description = basicNumber ? rt::errorDescription(record.number) : rt::Text(kAutomationErrorText);
  record.source = textOf(exception.bstrSource);
  record.helpFile = textOf(exception.bstrHelpFile);
  record.helpContext = static_cast<int32_t>(exception.dwHelpContext);
  return rt::RuntimeError(std::move(record));
}

}  // namespace com
