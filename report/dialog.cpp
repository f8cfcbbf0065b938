#include "dialog.h"

#include <atomic>
#include <cwchar>
#include <vector>

#include "dispatch.h"
#include "settings.h"

namespace vbgreport {
namespace {

// Position in the scripted answers, shared by every dialog of the process: each failure of the
// utility creates a new one.
std::atomic<long> nextScriptedAnswer{0};

std::vector<LONG> parseAnswers(const std::wstring& list) {
  std::vector<LONG> answers;
  size_t start = 0;
  while (start <= list.size() && !list.empty()) {
    size_t end = list.find(L',', start);
    if (end == std::wstring::npos) end = list.size();
    answers.push_back(static_cast<LONG>(std::wcstol(list.substr(start, end - start).c_str(), nullptr, 10)));
    start = end + 1;
  }
  return answers;
}

// The window whose input the report blocks: the calling thread's active window, or the
// foreground window when it belongs to this thread.
HWND reportOwner() noexcept {
  if (HWND active = GetActiveWindow()) return active;
  HWND foreground = GetForegroundWindow();
  if (foreground && GetWindowThreadProcessId(foreground, nullptr) == GetCurrentThreadId()) return foreground;
  return nullptr;
}

// The buttons carry the same Italian words as the report's explanation, whatever the language
// of Windows: the captions are set when the message box is activated, before it is drawn.
class ItalianButtons {
 public:
  ItalianButtons() noexcept : hook_(SetWindowsHookExW(WH_CBT, &ItalianButtons::onActivate, nullptr, GetCurrentThreadId())) {}
  ~ItalianButtons() {
    if (hook_) UnhookWindowsHookEx(hook_);
  }
  ItalianButtons(const ItalianButtons&) = delete;
  ItalianButtons& operator=(const ItalianButtons&) = delete;

 private:
  static LRESULT CALLBACK onActivate(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
      const HWND box = reinterpret_cast<HWND>(wParam);
      if (GetDlgItem(box, IDABORT) && GetDlgItem(box, IDRETRY) && GetDlgItem(box, IDIGNORE)) {
        SetDlgItemTextW(box, IDABORT, L"&Interrompi");
        SetDlgItemTextW(box, IDRETRY, L"&Riprova");
        SetDlgItemTextW(box, IDIGNORE, L"&Ignora");
      }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
  }

  HHOOK hook_;
};

LONG showReportWindow(const std::wstring& text, const std::wstring& caption) {
  const HWND owner = reportOwner();
  const ItalianButtons buttons;
  // Without an owner, task-modal still disables every window of this thread.
  const UINT style = MB_ABORTRETRYIGNORE | MB_ICONSTOP | MB_DEFBUTTON1 | MB_SETFOREGROUND |
                     (owner ? MB_APPLMODAL : MB_TASKMODAL);
  const int answer = MessageBoxW(owner, text.c_str(), caption.c_str(), style);
  if (answer == 0) throw Failure(HRESULT_FROM_WIN32(GetLastError()), L"La finestra della segnalazione non si apre.");
  return answer;  // IDABORT 3, IDRETRY 4, IDIGNORE 5
}

LONG answerFor(const std::wstring& text, const std::wstring& caption) {
  if (const std::optional<std::wstring> script = environmentVariable(kAnswersVariable)) {
    const std::vector<LONG> answers = parseAnswers(*script);
    const long position = nextScriptedAnswer++;
    return position < static_cast<long>(answers.size()) ? answers[position] : 0;
  }
  return showReportWindow(text, caption);
}

std::wstring textArgument(const Call& call, UINT index) {
  const unique_variant value = unique_variant::copyOf(call.argument(index));
  unique_variant text;
  if (FAILED(VariantChangeType(text.put(), const_cast<VARIANT*>(&value.get()), 0, VT_BSTR))) call.rejectArgument(index);
  return std::wstring(V_BSTR(&text.get()), SysStringLen(V_BSTR(&text.get())));
}

constexpr DISPID kShowReportId = 1;
constexpr Member kDialogMembers[] = {
    {kShowReportMember, kShowReportId, true, 2, false},
};

class CustomDialog final : public DispatchObject, public IPersist {
 public:
  CustomDialog() noexcept : DispatchObject(kDialogMembers, kDialogProgId) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID interfaceId, void** object) noexcept override {
    return DispatchObject::QueryInterface(interfaceId, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() noexcept override { return DispatchObject::AddRef(); }
  ULONG STDMETHODCALLTYPE Release() noexcept override { return DispatchObject::Release(); }

  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* classId) noexcept override {
    if (!classId) return E_POINTER;
    *classId = kDialogClassId;
    return S_OK;
  }

 protected:
  unique_variant invokeMember(const Call& call) override {
    // ShowReport is the only member.
    return unique_variant::ofLong(answerFor(textArgument(call, 0), textArgument(call, 1)));
  }

  IUnknown* otherInterface(REFIID interfaceId) noexcept override {
    if (interfaceId == IID_IPersist) return static_cast<IPersist*>(this);
    return nullptr;
  }
};

}  // namespace

HRESULT createDialog(REFIID interfaceId, void** object) noexcept { return createObject<CustomDialog>(interfaceId, object); }

bool isOwnDialog(IUnknown* object) noexcept {
  if (!object) return false;
  com_ptr<IPersist> persist;
  if (FAILED(object->QueryInterface(IID_IPersist, persist.put_void())) || !persist) return false;
  CLSID classId{};
  return SUCCEEDED(persist->GetClassID(&classId)) && classId == kDialogClassId;
}

}  // namespace vbgreport
