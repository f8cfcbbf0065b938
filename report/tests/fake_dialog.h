// A dialog object of someone else's: it answers ShowReport with a set answer and keeps what it
// was asked to show, or (when `understands` is false) knows no member at all.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <string>

#include "test_support.h"

namespace vbgreport::test {

class FakeDialog final : public IDispatch {
 public:
  static com_ptr<FakeDialog> create(LONG answer, bool understands = true) {
    return com_ptr<FakeDialog>::attach(new FakeDialog(answer, understands));
  }

  std::wstring shownText;
  std::wstring shownCaption;
  int timesShown = 0;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID interfaceId, void** object) noexcept override {
    if (interfaceId != IID_IUnknown && interfaceId != IID_IDispatch) {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    *object = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() noexcept override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() noexcept override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) noexcept override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) noexcept override { return DISP_E_BADINDEX; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT, LCID, DISPID* ids) noexcept override {
    if (!understands_ || CompareStringOrdinal(names[0], -1, L"ShowReport", -1, TRUE) != CSTR_EQUAL) {
      ids[0] = DISPID_UNKNOWN;
      return DISP_E_UNKNOWNNAME;
    }
    ids[0] = 7;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* parameters, VARIANT* result, EXCEPINFO*,
                                   UINT*) noexcept override {
    if (id != 7) return DISP_E_MEMBERNOTFOUND;
    if (parameters->cArgs != 2) return DISP_E_BADPARAMCOUNT;
    // ShowReport(Text, Caption): last first.
    const VARIANT& caption = parameters->rgvarg[0];
    const VARIANT& text = parameters->rgvarg[1];
    if (V_VT(&text) != VT_BSTR || V_VT(&caption) != VT_BSTR) return DISP_E_TYPEMISMATCH;
    shownText.assign(V_BSTR(&text), SysStringLen(V_BSTR(&text)));
    shownCaption.assign(V_BSTR(&caption), SysStringLen(V_BSTR(&caption)));
    ++timesShown;
    if (result) {
      VariantInit(result);
      V_VT(result) = VT_I4;
      V_I4(result) = answer_;
    }
    return S_OK;
  }

 private:
  FakeDialog(LONG answer, bool understands) : answer_(answer), understands_(understands) {}

  std::atomic<ULONG> references_{1};
  LONG answer_;
  bool understands_;
};

}  // namespace vbgreport::test
