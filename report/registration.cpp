// Self-registration. DllRegisterServer and DllUnregisterServer work on the machine's classes
// (HKLM\Software\Classes); DllInstall with "user" on the current user's (HKCU\Software\Classes),
// which needs no administrator rights: regsvr32 /n /i:user VBGuardReport.dll.
#include <windows.h>
#include <objbase.h>
#include <olectl.h>

#include <string>
#include <vector>

#include "handles.h"
#include "server.h"

namespace vbgreport {
namespace {

enum class Scope { Machine, User };

unique_hkey openClasses(Scope scope, bool create) {
  const HKEY root = scope == Scope::Machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  unique_hkey classes;
  if (create)
    checkStatus(RegCreateKeyExW(root, L"Software\\Classes", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, classes.put(), nullptr));
  else
    checkStatus(RegOpenKeyExW(root, L"Software\\Classes", 0, KEY_ALL_ACCESS, classes.put()));
  return classes;
}

unique_hkey createKey(HKEY parent, const std::wstring& path) {
  unique_hkey key;
  checkStatus(RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr));
  return key;
}

void setText(HKEY key, const wchar_t* name, const std::wstring& text) {
  checkStatus(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                             static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))));
}

std::wstring classIdText(const CLSID& classId) {
  wchar_t text[40];
  StringFromGUID2(classId, text, 40);
  return text;
}

std::wstring modulePath() {
  std::vector<wchar_t> path(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameW(serverModule(), path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) throw Failure(HRESULT_FROM_WIN32(GetLastError()));
    if (length < path.size()) return std::wstring(path.data(), length);
    path.resize(path.size() * 2);
  }
}

// The default value of classes\path; empty when the key or value is absent.
std::wstring defaultText(HKEY classes, const std::wstring& path) {
  wchar_t text[64] = L"";
  DWORD size = sizeof text;
  if (RegGetValueW(classes, path.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS) return {};
  return text;
}

void deleteTree(HKEY classes, const std::wstring& path) {
  const LSTATUS status = RegDeleteTreeW(classes, path.c_str());
  if (status != ERROR_FILE_NOT_FOUND) checkStatus(status);
}

void registerClass(HKEY classes, const ServedClass& served, const std::wstring& serverPath) {
  const std::wstring classKeyPath = L"CLSID\\" + classIdText(*served.classId);
  const unique_hkey classKey = createKey(classes, classKeyPath);
  setText(classKey.get(), nullptr, served.friendlyName);
  const unique_hkey server = createKey(classKey.get(), L"InprocServer32");
  setText(server.get(), nullptr, serverPath);
  setText(server.get(), L"ThreadingModel", L"Apartment");
  setText(createKey(classKey.get(), L"ProgID").get(), nullptr, served.progId);

  const unique_hkey progIdKey = createKey(classes, served.progId);
  setText(progIdKey.get(), nullptr, served.friendlyName);
  setText(createKey(progIdKey.get(), L"CLSID").get(), nullptr, classIdText(*served.classId));
}

void unregisterClass(HKEY classes, const ServedClass& served) {
  const std::wstring classId = classIdText(*served.classId);
  deleteTree(classes, L"CLSID\\" + classId);
  // The name may have been taken over by another component since; leave it to that one.
  const std::wstring progIdClass = std::wstring(served.progId) + L"\\CLSID";
  if (CompareStringOrdinal(defaultText(classes, progIdClass).c_str(), -1, classId.c_str(), -1, TRUE) == CSTR_EQUAL)
    deleteTree(classes, served.progId);
}

HRESULT unregisterAll(Scope scope) noexcept {
  try {
    unique_hkey classes;
    const LSTATUS status = RegOpenKeyExW(scope == Scope::Machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER,
                                         L"Software\\Classes", 0, KEY_ALL_ACCESS, classes.put());
    if (status == ERROR_FILE_NOT_FOUND) return S_OK;
    checkStatus(status);
    size_t count = 0;
    const ServedClass* served = servedClasses(&count);
    for (size_t i = 0; i < count; ++i) unregisterClass(classes.get(), served[i]);
    return S_OK;
  } catch (const Failure& failure) {
    return failure.code();
  } catch (...) {
    return E_UNEXPECTED;
  }
}

HRESULT registerAll(Scope scope) noexcept {
  try {
    const std::wstring serverPath = modulePath();
    const unique_hkey classes = openClasses(scope, true);
    size_t count = 0;
    const ServedClass* served = servedClasses(&count);
    for (size_t i = 0; i < count; ++i) registerClass(classes.get(), served[i], serverPath);
    return S_OK;
  } catch (const Failure& failure) {
    unregisterAll(scope);  // no half registration left behind
    return failure.code();
  } catch (...) {
    unregisterAll(scope);
    return E_UNEXPECTED;
  }
}

}  // namespace
}  // namespace vbgreport

using namespace vbgreport;

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
