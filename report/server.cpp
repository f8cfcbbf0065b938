// The in-process server's entry points: class objects for the two classes, the counts that tell
// COM when the DLL may be unloaded, and self-registration.
#include "server.h"

#include <atomic>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include "classes.h"
#include "dialog.h"
#include "failure.h"
#include "registration.h"
#include "report.h"

namespace vbgreport {
namespace {

HMODULE moduleHandle = nullptr;
std::atomic<long> liveObjects{0};
std::atomic<long> serverLocks{0};

constexpr ServedClass kClasses[] = {
    {&kReportClassId, kReportProgId, L"VBGuardReport error report", &createReport},
    {&kDialogClassId, kDialogProgId, L"VBGuardReport error report dialog", &createDialog},
};

class ClassFactory final : public IClassFactory {
 public:
  explicit ClassFactory(const ServedClass& served) noexcept : served_(served) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID interfaceId, void** object) noexcept override {
    if (!object) return E_POINTER;
    if (interfaceId != IID_IUnknown && interfaceId != IID_IClassFactory) {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    *object = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() noexcept override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() noexcept override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID interfaceId, void** object) noexcept override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return served_.create(interfaceId, object);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) noexcept override {
    lockServer(lock);
    return S_OK;
  }

 private:
  std::atomic<ULONG> references_{1};
  const ServedClass& served_;
  ServerReference server_;
};

enum class Scope { Machine, User };

constexpr wchar_t kClassesKey[] = L"Software\\Classes";

HKEY rootOf(Scope scope) noexcept { return scope == Scope::Machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

std::wstring modulePath() {
  std::vector<wchar_t> path(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameW(moduleHandle, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) throw Failure(HRESULT_FROM_WIN32(GetLastError()));
    if (length < path.size()) return std::wstring(path.data(), length);
    path.resize(path.size() * 2);
  }
}

HRESULT registerAll(Scope scope) noexcept {
  return hresultOf([&] { return registerClasses(windowsRegistry(), rootOf(scope), kClassesKey, kClasses, modulePath()); });
}

HRESULT unregisterAll(Scope scope) noexcept {
  return hresultOf(
      [&] { return unregisterClasses(windowsRegistry(), rootOf(scope), kClassesKey, kClasses, modulePath()); });
}

}  // namespace

const ServedClass* servedClasses(size_t* count) noexcept {
  *count = std::size(kClasses);
  return kClasses;
}

HMODULE serverModule() noexcept { return moduleHandle; }

ServerReference::ServerReference() noexcept { ++liveObjects; }
ServerReference::~ServerReference() { --liveObjects; }

void lockServer(bool lock) noexcept {
  if (lock)
    ++serverLocks;
  else
    --serverLocks;
}

}  // namespace vbgreport

using namespace vbgreport;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    moduleHandle = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID classId, REFIID interfaceId, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  for (const ServedClass& served : kClasses) {
    if (*served.classId != classId) continue;
    ClassFactory* factory = new (std::nothrow) ClassFactory(served);
    if (!factory) return E_OUTOFMEMORY;
    const HRESULT hr = factory->QueryInterface(interfaceId, object);
    factory->Release();
    return hr;
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return liveObjects == 0 && serverLocks == 0 ? S_OK : S_FALSE; }

// Self-registration. DllRegisterServer and DllUnregisterServer work on the machine's classes
// (HKLM\\Software\\Classes); DllInstall with "user" on the current user's (HKCU\\Software\\Classes),
// which needs no administrator rights: regsvr32 /n /i:user VBGuardReport.dll.
extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() { return registerAll(Scope::Machine); }

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() { return unregisterAll(Scope::Machine); }

// "user" for the current user only; nothing (or "machine") for the machine, as DllRegisterServer.
extern "C" HRESULT STDAPICALLTYPE DllInstall(BOOL install, LPCWSTR commandLine) {
  Scope scope = Scope::Machine;
  if (commandLine && *commandLine) {
    if (CompareStringOrdinal(commandLine, -1, L"user", -1, TRUE) == CSTR_EQUAL)
      scope = Scope::User;
    else if (CompareStringOrdinal(commandLine, -1, L"machine", -1, TRUE) != CSTR_EQUAL)
      return E_INVALIDARG;
  }
  return install ? registerAll(scope) : unregisterAll(scope);
}
